# Installation beyond the programs (whose install(TARGETS) rules sit beside them) and
# the Debian package: `cmake --install <build>` or `cpack -G DEB --config
# <build>/CPackConfig.cmake`.
include(GNUInstallDirs)

# The menu entry and icon only where the window program is built.
if(KELVARO_BUILD_GUI)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvaro.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/assets/icon.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
          RENAME kelvaro.svg)
endif()
# The licence (GPL-3.0-or-later) in Debian's machine-readable copyright format, where
# Debian keeps every package's copyright file.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvaro)
# The changes, in Debian's changelog format, gzipped as Debian wants it (-9, and -n for no
# name or time stamp). The version has no Debian revision (the package is its own
# upstream), so the file is changelog.gz, not changelog.Debian.gz.
find_program(KELVARO_GZIP gzip)
if(KELVARO_GZIP)
  set(kelvaro_changelog "${CMAKE_BINARY_DIR}/packaging/changelog.gz")
  add_custom_command(OUTPUT "${kelvaro_changelog}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${CMAKE_BINARY_DIR}/packaging"
    COMMAND sh -c "\"$1\" -9nc \"$2\" >\"$3\"" sh "${KELVARO_GZIP}"
            "${CMAKE_SOURCE_DIR}/packaging/changelog" "${kelvaro_changelog}"
    DEPENDS "${CMAKE_SOURCE_DIR}/packaging/changelog"
    COMMENT "packaging/changelog, gzipped"
    VERBATIM)
  add_custom_target(kelvaro_changelog ALL DEPENDS "${kelvaro_changelog}")
  install(FILES "${kelvaro_changelog}" DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvaro)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/Manpages.cmake)
# Completion of kelvaro-ctl's commands, options and entry boxes and of kelvaro-recorder's
# and kelvaro-web's options, where bash-completion loads it when the command is first
# completed.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/bash-completion/kelvaro-ctl
              ${CMAKE_SOURCE_DIR}/packaging/bash-completion/kelvaro-recorder
              ${CMAKE_SOURCE_DIR}/packaging/bash-completion/kelvaro-web
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

# The recorder as a service (component recorder-service, so that its files can be
# installed and checked on their own): the unit template, its system user, and the udev
# rule as an example only, since it starts a recorder for every USB serial adapter.
# The unit names the program by its installed path, which is known only when installing
# (`cmake --install --prefix ...`; /usr inside the .deb), so the unit is filled in then.
set(KELVARO_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "Where the systemd units are installed, below the prefix")
set(KELVARO_SYSUSERS_DIR "lib/sysusers.d" CACHE STRING
    "Where the services' sysusers.d file is installed, below the prefix")
set(KELVARO_TMPFILES_DIR "lib/tmpfiles.d" CACHE STRING
    "Where kelvaro-web's tmpfiles.d file is installed, below the prefix")
if(IS_ABSOLUTE "${CMAKE_INSTALL_BINDIR}")
  set(kelvaro_install_bindir "${CMAKE_INSTALL_BINDIR}")
else()
  set(kelvaro_install_bindir "\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}")
endif()
install(CODE "
  set(CMAKE_INSTALL_FULL_BINDIR \"${kelvaro_install_bindir}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/kelvaro-recorder@.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/kelvaro-recorder@.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KELVARO_SYSTEMD_UNIT_DIR}\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/kelvaro-recorder@.service\")
  " COMPONENT recorder-service)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvaro.sysusers
        DESTINATION ${KELVARO_SYSUSERS_DIR} RENAME kelvaro.conf COMPONENT recorder-service)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/60-kelvaro-recorder.rules
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvaro/examples COMPONENT recorder-service)
# kelvaro-web as a service (component web-service): its unit, filled in as the recorder's,
# and its state folder, made on install (systemd-tmpfiles in postinst) so that a users
# file can be written before the service first starts. Its user is in the sysusers.d file
# above. The unit is enabled by hand, once a user exists.
install(CODE "
  set(CMAKE_INSTALL_FULL_BINDIR \"${kelvaro_install_bindir}\")
  configure_file(\"${CMAKE_SOURCE_DIR}/packaging/kelvaro-web.service.in\"
                 \"${CMAKE_BINARY_DIR}/packaging/kelvaro-web.service\" @ONLY)
  file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${KELVARO_SYSTEMD_UNIT_DIR}\" TYPE FILE
       FILES \"${CMAKE_BINARY_DIR}/packaging/kelvaro-web.service\")
  " COMPONENT web-service)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvaro-web.tmpfiles
        DESTINATION ${KELVARO_TMPFILES_DIR} RENAME kelvaro-web.conf COMPONENT web-service)

set(CPACK_PACKAGE_NAME "kelvaro")
set(CPACK_PACKAGE_VENDOR "Kelvaro")
set(CPACK_PACKAGE_CONTACT "Kelvaro maintainers <support@kelvaro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, one line of the package's control file per line here, each at
# most 80 columns (lintian).
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the live measurements and the relay state of the Kelvaro two-stage relay\n"
    "thermostat board, sets its parameters, logs chosen fields to daily files and\n"
    "calibrates its thermistor and timers. Includes kelvaro-recorder, which keeps\n"
    "the board without a window (a systemd service), kelvaro-ctl, its client for\n"
    "scripts, kelvaro-web, a web page to watch and operate the boards from a phone\n"
    "or another desk, and kelvaro-board-sim, a simulated board on a pseudo-terminal\n"
    "for trying the program without the hardware.")
if(NOT KELVARO_BUILD_GUI)
  # A build without the windows (a Raspberry Pi by the board): the recorder and its tools.
  set(CPACK_PACKAGE_DESCRIPTION
      "Answers the Kelvaro two-stage relay thermostat board on its serial line\n"
      "without a window and logs chosen fields to daily files (kelvaro-recorder, with\n"
      "a systemd service). Includes kelvaro-ctl, its client for scripts, kelvaro-web,\n"
      "a web page to watch and operate the boards from a phone or another desk, and\n"
      "kelvaro-board-sim, a simulated board on a pseudo-terminal.")
endif()
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_GENERATOR "DEB")
# Debug information makes the programs several times larger; the package ships without.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
# The Qt libraries the programs link come from dpkg-shlibdeps (dpkg-dev); the platform
# and image plugins the program loads at run time ship in libqt6gui6 and libqt6svg6,
# which the linked libraries already bring in.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Captions are fitted to their boxes with this font in mind.
if(KELVARO_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")
endif()
# The services need systemd; node_exporter publishes the recorder's metrics file.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd, prometheus-node-exporter")
# postinst makes the services' users (systemd-sysusers) and kelvaro-web's state folder
# (systemd-tmpfiles), reloads systemd and restarts running recorders and a running
# kelvaro-web; prerm stops them when the package is removed. They call systemd as
# debhelper's scripts do (deb-systemd-invoke, only where systemd runs), as lintian wants.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/packaging/postinst
    ${CMAKE_SOURCE_DIR}/packaging/prerm
    ${CMAKE_SOURCE_DIR}/packaging/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/demo/" "/\\\\.cache/")

include(CPack)
