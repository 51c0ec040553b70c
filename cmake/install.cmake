# Where `cmake --install` puts the program and what the desktop needs of it (FreeDesktop
# places under the prefix), and the Debian package CPack builds from the same rules. On
# Windows: one folder with everything the program needs beside it, which the installer packs.
if(WIN32)
    include(cmake/windows_install.cmake)
    return()
endif()

include(GNUInstallDirs)

set(torvane_app_id net.torvane.Torvane)

install(TARGETS torvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES resources/desktop/${torvane_app_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
configure_file(resources/desktop/${torvane_app_id}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${torvane_app_id}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${torvane_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
install(FILES resources/icons/${torvane_app_id}.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS TORVANE_ICON_SIZES)
    install(FILES resources/icons/torvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${torvane_app_id}.png)
endforeach()
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/torvane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR Torvane)
set(CPACK_PACKAGE_CONTACT "Torvane maintainers <maintainers@torvane.net>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "server list with one-click Remote Desktop and SSH logins (Chinese interface)")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# What the sessions, consoles, Chinese text and Qt's Chinese button texts need at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS
    "putty, freerdp2-x11, xterm | x-terminal-emulator, iputils-ping, fonts-wqy-microhei, qt6-translations-l10n")
include(CPack)
