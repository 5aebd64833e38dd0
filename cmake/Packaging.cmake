# Installation beyond the two programs (whose install(TARGETS) rules sit beside them) and
# the Debian package: `cmake --install <build>` or `cpack -G DEB --config
# <build>/CPackConfig.cmake`.
include(GNUInstallDirs)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/kelvaro.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/assets/icon.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME kelvaro.svg)
# The licence (GPL-3.0-or-later) in Debian's machine-readable copyright format, where
# Debian keeps every package's copyright file.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelvaro)

set(CPACK_PACKAGE_NAME "kelvaro")
set(CPACK_PACKAGE_VENDOR "Kelvaro")
set(CPACK_PACKAGE_CONTACT "Kelvaro maintainers <support@kelvaro.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# The long description, one line of the package's control file per line here.
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the live measurements and the relay state of the Kelvaro two-stage relay\n"
    "thermostat board, sets its parameters, logs chosen fields to daily files and\n"
    "calibrates its thermistor and timers. Includes kelvaro-board-sim, a simulated\n"
    "board on a pseudo-terminal for trying the program without the hardware.")
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
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core")

set(CPACK_SOURCE_GENERATOR "TGZ")
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build/" "/demo/" "/\\\\.cache/")

include(CPack)
