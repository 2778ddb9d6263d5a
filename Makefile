# Quorrel: `make run` builds and opens the Linux program; `make test` builds
# Linux and Windows and runs every test. Both install what a fresh Debian 12
# machine lacks first.
SHELL := /bin/bash
.DEFAULT_GOAL := run

PACKAGES := cmake ninja-build g++ make pkg-config qt6-base-dev libgl-dev \
  libgtest-dev googletest libbenchmark-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-apps xdotool imagemagick \
  fonts-liberation2 nftables iproute2 iputils-ping procps \
  dbus-daemon trayer openbox

# wine32 runs the 32-bit program itself, but only on a kernel that runs 32-bit
# code; elsewhere the same sources are tested as a 64-bit build under wine64.
CAN_RUN_I386 := $(shell cmake/can-run-i386 && echo yes)
WIN_TEST_PRESET := $(if $(CAN_RUN_I386),mingw,mingw64)

.PHONY: deps run build test test-linux test-windows bench asan clean

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; \
	  done); \
	if [ -n "$(CAN_RUN_I386)" ] && ! dpkg-query -W -f='$${Status}\n' wine32:i386 2>/dev/null | grep -q 'ok installed'; then \
	  dpkg --add-architecture i386; missing="$$missing wine32:i386"; fi; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:" $$missing; \
	  apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset linux
	cmake --build --preset linux

run: build
	./build/linux/quorrel

test: deps test-linux test-windows

test-linux: build
	ctest --preset linux

test-windows: deps
	cmake --preset mingw
	cmake --build --preset mingw
	@if [ "$(WIN_TEST_PRESET)" = mingw64 ]; then \
	  echo "This kernel cannot run 32-bit code: the Windows tests run on the 64-bit build of the same sources."; \
	  cmake --preset mingw64 && cmake --build --preset mingw64; fi
	ctest --preset $(WIN_TEST_PRESET)

bench: build
	./build/linux/bench/quorrel_bench

asan: deps
	cmake --preset linux-asan
	cmake --build --preset linux-asan
	ctest --preset linux-asan

clean:
	rm -rf build
