# Run while installing: makes the desktop launcher and the menu entry that
# starts it for the paths of this installation.
#   QUELT_APP_ID, QUELT_DESKTOP_SRC, QUELT_DESKTOP_OUT, QUELT_BINDIR, QUELT_LAUNCHER
# The paths go into the launcher between single quotes and into the menu
# entry's quoted Exec line, where these characters would need escapes.
foreach(path IN ITEMS "${QUELT_BINDIR}" "${QUELT_LAUNCHER}")
  if(path MATCHES "['\"`$\\\\%]")
    message(FATAL_ERROR "The menu entry cannot name a path with ' \" ` $ \\ or %: ${path}")
  endif()
endforeach()
configure_file("${QUELT_DESKTOP_SRC}/quelt-launch.in" "${QUELT_DESKTOP_OUT}/quelt-launch" @ONLY)
configure_file("${QUELT_DESKTOP_SRC}/${QUELT_APP_ID}.desktop.in" "${QUELT_DESKTOP_OUT}/${QUELT_APP_ID}.desktop" @ONLY)
