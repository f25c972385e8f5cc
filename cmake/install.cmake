# Install layout (GNUInstallDirs; the Debian package puts the prefix at /usr): the program, its
# xscreensaver hook (a link in the daemon's hacks directory and the description that
# xscreensaver-settings shows), the theme entry MATE's and Xfce's screen savers list, the
# xsecurelock saver module, the manual page, the menu entry that opens the configuration dialog
# with its icon, the idle watcher's autostart entry, and the copyright and changelog a Debian
# package carries.
#
# MATE's screen saver starts a theme only when its program lies in one of the saver folders it
# knows; the xscreensaver hacks folder is one of them, so the link there serves it too.
include(GNUInstallDirs)

set(TIDEFOLD_XSCREENSAVER_HACKDIR "${CMAKE_INSTALL_LIBEXECDIR}/xscreensaver" CACHE STRING
    "Where xscreensaver looks for display modes (relative to the prefix unless absolute)")
set(TIDEFOLD_XSECURELOCK_HELPERDIR "${CMAKE_INSTALL_LIBEXECDIR}/xsecurelock" CACHE STRING
    "Where xsecurelock looks for saver modules (relative to the prefix unless absolute)")
set(TIDEFOLD_XSCREENSAVER_CONFIGDIR "${CMAKE_INSTALL_DATADIR}/xscreensaver/config" CACHE STRING
    "Where xscreensaver-settings looks for display mode descriptions (relative to the prefix unless absolute)")

# The real ImageMagick, not whatever else may be called convert on PATH.
find_program(TIDEFOLD_CONVERT convert PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
find_program(TIDEFOLD_GZIP gzip REQUIRED)

set(TIDEFOLD_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${TIDEFOLD_PACKAGING_OUT}/hack)

# The 32x32 picture of the application icon; no date chunks, so every build makes the same file.
add_custom_command(OUTPUT ${TIDEFOLD_PACKAGING_OUT}/tidefold.png
  COMMAND ${TIDEFOLD_CONVERT} "${CMAKE_SOURCE_DIR}/resources/tidefold.ico[0]" -strip
          -define png:exclude-chunks=date,time PNG32:${TIDEFOLD_PACKAGING_OUT}/tidefold.png
  DEPENDS resources/tidefold.ico
  COMMENT "Making the 32x32 icon picture")

# Manual page and changelog compressed as Debian wants them: best compression, no name or time.
foreach(doc tidefold.6 changelog)
  add_custom_command(OUTPUT ${TIDEFOLD_PACKAGING_OUT}/${doc}.gz
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${TIDEFOLD_GZIP} ${CMAKE_SOURCE_DIR}/packaging/${doc}
            ${TIDEFOLD_PACKAGING_OUT}/${doc}.gz
    DEPENDS packaging/${doc}
    VERBATIM)
endforeach()
add_custom_target(tidefold_install_files ALL
  DEPENDS ${TIDEFOLD_PACKAGING_OUT}/tidefold.png ${TIDEFOLD_PACKAGING_OUT}/tidefold.6.gz
          ${TIDEFOLD_PACKAGING_OUT}/changelog.gz)

# The link in the hacks directory points at the installed program by a relative path, so it
# holds wherever the prefix ends up (the package installs to /usr, a hand install to /usr/local).
foreach(dir HACKDIR CONFIGDIR)
  if(IS_ABSOLUTE "${TIDEFOLD_XSCREENSAVER_${dir}}")
    set(full_${dir} "${TIDEFOLD_XSCREENSAVER_${dir}}")
  else()
    set(full_${dir} "${CMAKE_INSTALL_PREFIX}/${TIDEFOLD_XSCREENSAVER_${dir}}")
  endif()
endforeach()
file(RELATIVE_PATH hack_link_target "${full_HACKDIR}" "${CMAKE_INSTALL_FULL_BINDIR}/tidefold")
file(CREATE_LINK "${hack_link_target}" "${TIDEFOLD_PACKAGING_OUT}/hack/tidefold" SYMBOLIC)

install(TARGETS tidefold RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TIDEFOLD_PACKAGING_OUT}/hack/tidefold DESTINATION ${TIDEFOLD_XSCREENSAVER_HACKDIR})
install(FILES packaging/tidefold.xml DESTINATION ${TIDEFOLD_XSCREENSAVER_CONFIGDIR})
install(FILES ${TIDEFOLD_PACKAGING_OUT}/tidefold.6.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man6)
# The menu entry names the program by its installed path, since KWin grants its screenshot service
# to the entry whose Exec is the running executable. The path is settled when installing, where
# the prefix is known for certain (the package's is /usr whatever the build's).
install(CODE "
  set(TIDEFOLD_INSTALLED_EXE \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/tidefold\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/tidefold.desktop.in\"
                 \"${TIDEFOLD_PACKAGING_OUT}/installed/tidefold.desktop\" @ONLY)")
install(FILES ${TIDEFOLD_PACKAGING_OUT}/installed/tidefold.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES packaging/tidefold-screensaver.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications/screensavers
        RENAME tidefold.desktop)
install(PROGRAMS packaging/saver_tidefold DESTINATION ${TIDEFOLD_XSECURELOCK_HELPERDIR})
# The idle watcher's autostart entry, for a user to copy to ~/.config/autostart: not in
# /etc/xdg/autostart, where it would start for everyone.
install(FILES packaging/tidefold-idle.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/tidefold/autostart)
install(FILES ${TIDEFOLD_PACKAGING_OUT}/tidefold.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps)
install(FILES packaging/copyright ${TIDEFOLD_PACKAGING_OUT}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
