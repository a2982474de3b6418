# Installing: the program and its tools, the desktop menu entry and its
# launcher, icons, AppStream metainfo, man pages, the licence and the udev
# rules, laid out by GNUInstallDirs. Packaging: two .debs made by one CPack
# run (`cmake --build build --target package`, into build/package/), one per
# install component: `quelt` (the program and the tools a user needs, every
# rule that names no component) and `sim` (meter-sim, which links umockdev,
# as the package quelt-sim).
include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME quelt)

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

# The programs of a component. A stripped installation (`cmake --install
# --strip`, CPack's) also drops the compiler's .comment section, which nothing
# reads at run time.
function(quelt_install_programs component)
  install(TARGETS ${ARGN} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${component})
  foreach(target IN LISTS ARGN)
    install(CODE "
      if(CMAKE_INSTALL_DO_STRIP)
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                \"\$ENV{DESTDIR}${install_BINDIR}/$<TARGET_FILE_NAME:${target}>\"
                        COMMAND_ERROR_IS_FATAL ANY)
      endif()" COMPONENT ${component})
  endforeach()
endfunction()

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
quelt_install_programs(quelt quelt quelt-decode quelt-mktable quelt-log)
quelt_install_programs(sim meter-sim)
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
foreach(page quelt quelt-decode quelt-log meter-sim quelt-mktable)
  configure_file(${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/man/${page}.1
    DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1 ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.in
    COMMENT "Compressing the man page ${page}(1)")
  list(APPEND man_pages ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
endforeach()
add_custom_target(man_pages ALL DEPENDS ${man_pages})
foreach(page IN LISTS man_pages)
  if(page MATCHES "/meter-sim\\.1\\.gz$")
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT sim)
  else()
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
endforeach()

# Each package's documentation folder: the copyright and the Debian changelog,
# whose first entry must name the version being built.
set(QUELT_DEB_RELEASE 1)
configure_file(${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in ${CMAKE_BINARY_DIR}/deb/changelog.Debian @ONLY)
file(STRINGS ${CMAKE_BINARY_DIR}/deb/changelog.Debian changelog_head LIMIT_COUNT 1)
if(NOT changelog_head MATCHES "^quelt \\(${PROJECT_VERSION}-${QUELT_DEB_RELEASE}\\) ")
  message(FATAL_ERROR "cmake/deb/changelog.in: the first entry is '${changelog_head}', "
                      "not the version being built, ${PROJECT_VERSION}-${QUELT_DEB_RELEASE}: add an entry")
endif()
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
  COMMAND gzip -9nf -k ${CMAKE_BINARY_DIR}/deb/changelog.Debian
  DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog.Debian ${PROJECT_SOURCE_DIR}/cmake/deb/changelog.in
  COMMENT "Compressing the Debian changelog")
add_custom_target(deb_changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/copyright ${CMAKE_BINARY_DIR}/deb/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/quelt-sim COMPONENT sim)
# What lintian is told about both packages, for the packages only (CPack
# installs each component by name; a plain `cmake --install` leaves it out).
foreach(component IN ITEMS quelt sim)
  if(component STREQUAL sim)
    set(package quelt-sim)
  else()
    set(package quelt)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
          RENAME ${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

# udev rules (the USB cable's access rule); each rule file in platform/udev/.
file(GLOB udev_rules CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/udev/*.rules)
if(udev_rules)
  install(FILES ${udev_rules} DESTINATION ${QUELT_UDEV_RULES_DIR})
endif()

# The headless logger's service, one instance per meter (installed, enabled by
# nobody), for the system's service manager and for a user's. Their ExecStart
# names the installed program, so they are made when installing, as the
# launcher is.
set(QUELT_SYSTEMD_DIR "lib/systemd" CACHE STRING
    "Where systemd units are installed, relative to the prefix (system/ and user/ below it)")
set(units_src ${PROJECT_SOURCE_DIR}/tools/quelt-log/systemd)
set(units_out ${CMAKE_BINARY_DIR}/systemd/install)
install(CODE "
  set(QUELT_BINDIR \"${install_BINDIR}\")
  configure_file(\"${units_src}/quelt-log@.service.in\" \"${units_out}/system/quelt-log@.service\" @ONLY)
  configure_file(\"${units_src}/user/quelt-log@.service.in\" \"${units_out}/user/quelt-log@.service\" @ONLY)
")
install(FILES ${units_out}/system/quelt-log@.service DESTINATION ${QUELT_SYSTEMD_DIR}/system)
install(FILES ${units_out}/user/quelt-log@.service DESTINATION ${QUELT_SYSTEMD_DIR}/user)

# ---- the .debs: quelt (component quelt) and quelt-sim (component sim)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quelt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The quelt developers")
set(CPACK_PACKAGE_CONTACT "${QUELT_PACKAGE_MAINTAINER}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quelt sim)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${QUELT_DEB_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE quelt)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUELT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The libraries each package's programs link are found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

# quelt: the program, quelt-decode and quelt-mktable. It links no umockdev.
set(CPACK_DEBIAN_QUELT_PACKAGE_NAME quelt)
string(JOIN "\n" CPACK_DEBIAN_QUELT_DESCRIPTION
  "show, check and log the readings of a handheld multimeter"
  "Links a PC to a handheld 6000-count digital multimeter that sends its"
  "readings over an RS-232 cable or a USB cable: a live copy of the meter's"
  "display, an analog dial, the lowest and highest reading, two limits that"
  "beep, and a log of readings."
  ""
  "With the tools quelt-decode (what a meter sends, frame by frame),"
  "quelt-log (one meter logged headless to daily CSV files and an MQTT"
  "broker, also as the systemd service quelt-log@.service) and"
  "quelt-mktable (an empty reading log). The meter simulator is in the"
  "package quelt-sim."
  ""
  "Licence: GPL-3.0-or-later.")
# The fonts the window's texts are laid out for (the libraries the programs
# link, libmosquitto among them, dpkg-shlibdeps finds).
set(CPACK_DEBIAN_QUELT_PACKAGE_DEPENDS "fonts-liberation2, fonts-dejavu-core")
set(CPACK_DEBIAN_QUELT_PACKAGE_SUGGESTS quelt-sim)
set(CPACK_DEBIAN_QUELT_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/postinst ${PROJECT_SOURCE_DIR}/cmake/deb/postrm)

# quelt-sim: meter-sim. Its USB mode runs a program under umockdev's preload
# library, which the package umockdev holds.
set(CPACK_DEBIAN_SIM_PACKAGE_NAME quelt-sim)
string(JOIN "\n" CPACK_DEBIAN_SIM_DESCRIPTION
  "meter simulator for trying quelt without a multimeter"
  "meter-sim plays a handheld 6000-count digital multimeter: on a"
  "pseudo-terminal, where quelt and quelt-decode find it as a COM port, or on"
  "an emulated USB cable (a umockdev test bed) for a program it starts."
  ""
  "Licence: GPL-3.0-or-later.")
set(CPACK_DEBIAN_SIM_PACKAGE_DEPENDS umockdev)
set(CPACK_DEBIAN_SIM_PACKAGE_RECOMMENDS quelt)
include(CPack)
