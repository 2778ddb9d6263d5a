# Installing and packaging. `cmake --install` puts the program in place: on
# Linux with its desktop entry, icons, AppStream data and manual page, on
# Windows as the portable folder of quorrel.exe. `cpack` turns that into
# quorrel_<version>_<arch>.deb or quorrel-<version>-win32.zip.
include(GNUInstallDirs)

set(QUORREL_RELEASE_DATE 2026-12-08)
set(QUORREL_MAINTAINER "The Quorrel developers <quorrel@example.org>"
    CACHE STRING "Maintainer of the packages, as Name <address>")
set(QUORREL_HOMEPAGE "https://quorrel.example.org/"
    CACHE STRING "The project's web site, ending in a slash; the screenshot is under it")
# The AppStream id is the web site's domain reversed.
set(QUORREL_APPSTREAM_ID org.example.quorrel)

set(CPACK_PACKAGE_NAME quorrel)
set(CPACK_PACKAGE_VENDOR "The Quorrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "network link monitor: pings the router, graphs the traffic")
# One string: a list would put semicolons into the control file.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Quorrel watches a home or office network link from one small window, often\n"
  "left in the notification area. It pings the router at a chosen interval\n"
  "and shows each result on two lamps, the window and tray icons and the tray\n"
  "tip. Once a second it measures the bytes down and up through the chosen\n"
  "adapter and draws the last 100 seconds as a graph.\n"
  "\n"
  "Results go into a time-stamped log that can be appended to a file at exit,\n"
  "and Run Fix starts a repair script of the user's own while the link is\n"
  "failing. The same program is built for Windows as a portable executable.")
set(CPACK_PACKAGE_CONTACT "${QUORREL_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
# cpack packages what the build has made; it does not build everything first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

if(NOT TARGET quorrel)
  # A build without the program (its face not there yet) has nothing to install.
elseif(WIN32)
  install(TARGETS quorrel RUNTIME DESTINATION .)
  # Plain text with CR LF, not the Markdown README: older Notepads show LF
  # files as one line, and the Linux build steps are no use to the unzipper.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/windows/README.txt DESTINATION .)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QUORREL_WINDOWS_ARCH win64)
  else()
    set(QUORREL_WINDOWS_ARCH win32)
  endif()
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quorrel-${PROJECT_VERSION}-${QUORREL_WINDOWS_ARCH})
else()
  install(TARGETS quorrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Relocations resolved at start and then read-only, as Debian builds its own.
  target_link_options(quorrel PRIVATE -Wl,-z,relro,-z,now)
  execute_process(COMMAND date -u -R -d ${QUORREL_RELEASE_DATE}
                  OUTPUT_VARIABLE QUORREL_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE)
  add_subdirectory(packaging)

  set(CPACK_GENERATOR DEB)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORREL_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUORREL_HOMEPAGE}")
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Not libraries, so dpkg-shlibdeps cannot see them: the fonts the fixed
  # layout is measured in, the ping program used where no ICMP socket is
  # allowed, and Qt's Wayland plugin, without which a session with no X
  # server cannot show the window.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation2, iputils-ping, qt6-wayland")
endif()

# quorrel-watch, the monitor without a window, goes into a package of its
# own from the same build: the window's package keeps its name and contents
# (its files are CPack's "Unspecified" component), and the servers that want
# the monitor do not get Qt with it.
if(TARGET quorrel AND TARGET quorrel-watch AND NOT WIN32)
  add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/watch ${CMAKE_BINARY_DIR}/packaging/watch)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL Unspecified watch)
  set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME quorrel)
  set(CPACK_DEBIAN_UNSPECIFIED_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_WATCH_PACKAGE_NAME quorrel-watch)
  set(CPACK_DEBIAN_WATCH_FILE_NAME DEB-DEFAULT)
  # Opened at run time, only to serve the metrics, so dpkg-shlibdeps cannot
  # see it; the calls it makes are there since 0.9.71.
  set(CPACK_DEBIAN_WATCH_PACKAGE_DEPENDS "libmicrohttpd12 (>= 0.9.71)")
  # The ping program is the last resort without a socket; no fonts, no window.
  set(CPACK_DEBIAN_WATCH_PACKAGE_RECOMMENDS "iputils-ping")
  set(CPACK_DEBIAN_WATCH_PACKAGE_SUGGESTS "prometheus, prometheus-node-exporter")
  set(CPACK_DEBIAN_WATCH_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/watch/conffiles)
  # CPack puts the one summary above every component's text.
  string(CONCAT CPACK_DEBIAN_WATCH_DESCRIPTION
    "This package holds quorrel-watch, the same monitor without a window, for\n"
    "servers and routers. It pings the router at a chosen interval, measures the\n"
    "bytes down and up through one adapter each second, and writes each result\n"
    "to standard output as the window's log line with the round trip, for the\n"
    "journal.\n"
    "\n"
    "The figures (probes by result, the link's state, a round-trip histogram,\n"
    "outages, the adapter's traffic) are served to Prometheus over HTTP and can\n"
    "be written for node_exporter's textfile collector. A systemd unit, alert\n"
    "rules and a Grafana dashboard come with it.")
  set(CPACK_DEBIAN_UNSPECIFIED_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
endif()

if(TARGET quorrel)
  include(CPack)
endif()
