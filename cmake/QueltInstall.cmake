# Installing: the program and its tools, the desktop menu entry and its
# launcher, icons, AppStream metainfo, man pages, the licence and the udev
# rules, laid out by GNUInstallDirs. Packaging: a .deb made by CPack
# (`cmake --build build --target package`, into build/package/).
include(GNUInstallDirs)

set(QUELT_APP_ID org.quelt.Quelt)
# The date of the release named by the project's version (AppStream metainfo).
set(QUELT_RELEASE_DATE 2026-12-10)
set(QUELT_HOMEPAGE_URL "https://quelt.example" CACHE STRING
    "The project's home page, named in the AppStream metainfo and the package")
set(QUELT_SCREENSHOT_URL "" CACHE STRING
    "Where software centres fetch the screenshot (default: screenshot.png under the home page)")
set(QUELT_PACKAGE_MAINTAINER "The quelt developers <quelt@quelt.example>" CACHE STRING
    "The maintainer named in the .deb")
set(QUELT_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where udev rules are installed, relative to the prefix (udev reads /usr/lib and /usr/local/lib)")
if(NOT QUELT_SCREENSHOT_URL)
  set(QUELT_SCREENSHOT_URL "${QUELT_HOMEPAGE_URL}/screenshot.png")
endif()

set(desktop_src ${PROJECT_SOURCE_DIR}/app/desktop)
set(desktop_out ${CMAKE_BINARY_DIR}/desktop)

# Every directory the installation makes is 0755, whatever the umask.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS quelt quelt-decode meter-sim quelt-mktable RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The launcher and the menu entry name absolute paths, which are known only
# when installing (`cmake --install --prefix`, CPack's /usr): they are made
# then. A launcher for the build tree, running build/bin's programs, is made
# now; the tests run it.
set(QUELT_BINDIR ${CMAKE_BINARY_DIR}/bin)
configure_file(${desktop_src}/quelt-launch.in ${CMAKE_BINARY_DIR}/bin/quelt-launch @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
foreach(dir BINDIR LIBEXECDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(install_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(install_${dir} "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
install(CODE "
  set(QUELT_APP_ID ${QUELT_APP_ID})
  set(QUELT_DESKTOP_SRC \"${desktop_src}\")
  set(QUELT_DESKTOP_OUT \"${desktop_out}/install\")
  set(QUELT_BINDIR \"${install_BINDIR}\")
  set(QUELT_LAUNCHER \"${install_LIBEXECDIR}/quelt/quelt-launch\")
  include(\"${PROJECT_SOURCE_DIR}/cmake/QueltLauncher.cmake\")
")
install(PROGRAMS ${desktop_out}/install/quelt-launch DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/quelt)
install(FILES ${desktop_out}/install/${QUELT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)

# Icons in the hicolor theme: the window icon at 32 pixels, larger drawings of
# it, and the same drawing as a scalable picture (tools/art/make-art.py).
install(FILES ${PROJECT_SOURCE_DIR}/app/pictures/Icon.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME ${QUELT_APP_ID}.png)
foreach(size 64 128)
  install(FILES ${desktop_src}/icons/${QUELT_APP_ID}-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ${QUELT_APP_ID}.png)
endforeach()
install(FILES ${desktop_src}/icons/${QUELT_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

configure_file(${desktop_src}/${QUELT_APP_ID}.metainfo.xml.in ${desktop_out}/${QUELT_APP_ID}.metainfo.xml @ONLY)
install(FILES ${desktop_out}/${QUELT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Man pages, compressed as Debian keeps them.
set(man_pages)
foreach(page quelt quelt-decode meter-sim quelt-mktable)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/man/${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in
    COMMENT "Compressing the man page ${page}(1)")
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/docs/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

# udev rules (the USB cable's access rule); each rule file in platform/udev/.
file(GLOB udev_rules CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/udev/*.rules)
if(udev_rules)
  install(FILES ${udev_rules} DESTINATION ${QUELT_UDEV_RULES_DIR})
endif()

# ---- the .deb
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The quelt developers")
set(CPACK_PACKAGE_CONTACT "${QUELT_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "show, check and log the readings of a handheld multimeter")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Links a PC to a handheld 6000-count digital multimeter that sends its"
  "readings over an RS-232 cable or a USB cable: a live copy of the meter's"
  "display, an analog dial, the lowest and highest reading, two limits that"
  "beep, and a log of readings."
  ""
  "With the tools quelt-decode (what a meter sends, frame by frame), meter-sim"
  "(a meter on a pseudo-terminal, for trying the program without one) and"
  "quelt-mktable (an empty reading log)."
  ""
  "Licence: GPL-3.0-or-later.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUELT_HOMEPAGE_URL}")
# The libraries the programs link are found by dpkg-shlibdeps; the fonts the
# window's texts are laid out for are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation2, fonts-dejavu-core")
# meter-sim --usb runs a program under umockdev's preload library.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "umockdev")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
