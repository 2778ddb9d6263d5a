# Quorrel: `make run` builds and opens the Linux program; `make test` builds
# Linux and Windows, packages both and runs every test; `make package` writes
# the .deb and the Windows zip. Each first installs what a fresh Debian 12
# machine lacks: `make run` only what the Linux program needs, the others
# everything.
SHELL := /bin/bash
.DEFAULT_GOAL := run

# What the Linux program needs to be built and to run: the tool chain, Qt 6
# with its Wayland plugin (a session without X has no other way to show the
# window), the fonts its fixed layout is measured in, and the ping program it
# falls back on where no ICMP socket is allowed.
RUN_PACKAGES := cmake ninja-build g++ make pkg-config qt6-base-dev libgl-dev qt6-wayland \
  fonts-liberation2 iputils-ping

# Everything else the tests, benchmarks and packages need.
TEST_PACKAGES := libgtest-dev googletest libbenchmark-dev \
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 wine wine64 xvfb xauth x11-apps xdotool imagemagick \
  nftables iproute2 procps locales nload fping \
  dbus-daemon trayer openbox \
  dpkg-dev file desktop-file-utils appstream lintian zip unzip \
  clang libclang-rt-14-dev \
  libmicrohttpd-dev prometheus curl jq

# wine32 runs the 32-bit program itself, but only on a kernel that runs 32-bit
# code; elsewhere the same sources are tested as a 64-bit build under wine64.
CAN_RUN_I386 := $(shell cmake/can-run-i386 && echo yes)
WIN_TEST_PRESET := $(if $(CAN_RUN_I386),mingw,mingw64)

# `make run` builds the program alone, apart from the full build in build/linux.
RUN_DIR := build/run

.PHONY: deps run build build-windows test test-linux test-windows test-package \
  package package-linux package-windows bench asan build-fuzz fuzz test-fuzz clean distclean

deps:
	@cmake/install-packages $(RUN_PACKAGES) $(TEST_PACKAGES) $(if $(CAN_RUN_I386),wine32:i386)

# Without a display Qt can only abort, so say so before anything is installed
# (expanded only when this recipe is about to run).
run:
	$(if $(DISPLAY)$(WAYLAND_DISPLAY),,$(error no display: neither DISPLAY nor WAYLAND_DISPLAY is set; run `make run` from a terminal in your desktop session, or over ssh -X))
	@cmake/install-packages $(RUN_PACKAGES)
	cmake -S . -B $(RUN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORREL_TESTS=OFF -DQUORREL_BENCH=OFF -DQUORREL_WATCH=OFF
	cmake --build $(RUN_DIR) --target quorrel
	./$(RUN_DIR)/quorrel

build: deps
	cmake --preset linux
	cmake --build --preset linux

build-windows: deps
	cmake --preset mingw
	cmake --build --preset mingw

test: deps test-linux test-windows test-fuzz test-package

test-linux: build
	tests/unit/ensure-locales
	ctest --preset linux

test-windows: build-windows
	@if [ "$(WIN_TEST_PRESET)" = mingw64 ]; then \
	  echo "This kernel cannot run 32-bit code: the Windows tests run on the 64-bit build of the same sources."; \
	  cmake --preset mingw64 && cmake --build --preset mingw64; fi
	ctest --preset $(WIN_TEST_PRESET)

# The packages hold only the program and its data files, so only those are
# built here; cpack itself builds nothing.
package: package-linux package-windows

package-linux: deps
	cmake --preset linux
	cmake --build --preset linux --target quorrel quorrel_install_files \
	  quorrel-watch quorrel_watch_install_files
	cd build/linux && cpack -G DEB

package-windows: deps
	cmake --preset mingw
	cmake --build --preset mingw --target quorrel
	cd build/mingw && cpack -G ZIP

test-package: package
	tests/package/check-makefile
	tests/package/check-packages build/linux build/mingw

bench: build
	./build/linux/bench/quorrel_bench

asan: deps
	cmake --preset linux-asan
	cmake --build --preset linux-asan
	ctest --preset linux-asan

# libFuzzer targets (clang): `make test` runs each over its seeds and for 20 s;
# `make fuzz` gives each five minutes and reports what it reached and found.
# The number reader is also held to the same results under de_DE.UTF-8.
build-fuzz: deps
	tests/unit/ensure-locales
	cmake --preset fuzz
	cmake --build --preset fuzz

test-fuzz: build-fuzz
	ctest --preset fuzz

fuzz: build-fuzz
	tests/fuzz/run-fuzzers build/fuzz 300

# The program `make run` opens keeps Settings.ini and pinglog.txt beside
# itself: `make clean` leaves those two, `make distclean` removes them too.
clean:
	@if [ -d build ]; then \
	  find build -mindepth 1 -maxdepth 1 ! -name run -exec rm -rf {} +; \
	  if [ -d $(RUN_DIR) ]; then \
	    find $(RUN_DIR) -mindepth 1 -maxdepth 1 ! -name Settings.ini ! -name pinglog.txt -exec rm -rf {} +; fi; fi

distclean:
	rm -rf build
