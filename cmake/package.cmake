# The Debian package, made by `cmake --build BUILD --target package` (BUILD/tidefold_<version>_<arch>.deb).
# Its Depends are computed from the binary by dpkg-shlibdeps, not listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tidefold)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Brindlewick Productions")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Tidefold developers <tidefold@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "xscreensaver | mate-screensaver | xfce4-screensaver, xsecurelock")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "water-ripple screen saver over a photograph of the desktop
Tidefold photographs the desktop, lays the picture on a grid drawn with
OpenGL and sends rings of ripples across it, as if the screen were the
surface of a pond. Drops fall by themselves every few frames, and an
optional lighting pass shades the waves.
.
It runs full screen, in a preview window, or as a display mode of
xscreensaver, which lists it once it is added to the programs in
~/.xscreensaver. MATE's and Xfce's screen savers list it as a theme,
and xsecurelock runs it with XSECURELOCK_SAVER=saver_tidefold. A menu
entry opens its configuration dialog.")
# Only the sources a release needs; never the build trees.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "\\\\.log$")
include(CPack)

# Checks the package as a user gets it: lintian, apt-get install, `tidefold /a` from PATH, removal.
# It installs a package, so it needs root, and it runs alone so that its load slows no timed test.
if(TIDEFOLD_SANITIZE)
  set(package_tests_default OFF)
else()
  set(package_tests_default ON)
endif()
option(TIDEFOLD_PACKAGE_TESTS "Test the Debian package (builds it, installs and removes it: needs root)"
       ${package_tests_default})
if(TIDEFOLD_TESTS AND TIDEFOLD_PACKAGE_TESTS)
  add_test(NAME Package.DebianPackageIsCleanInstallsAndRuns
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/package/check_deb.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(Package.DebianPackageIsCleanInstallsAndRuns PROPERTIES TIMEOUT 600 RUN_SERIAL ON)
endif()
