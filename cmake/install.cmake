# Where `cmake --install` puts the programs and what the desktop needs of them (FreeDesktop
# places under the prefix), and the two Debian packages CPack builds from the same rules:
# torvane (component desktop) and torvane-cloud (components cloud and cloud_system; the
# latter holds the systemd unit and its options file, which only make sense in the package,
# at fixed places outside the prefix).
# On Windows: one folder with everything the program needs beside it, which the installer
# packs.
if(WIN32)
    include(cmake/windows_install.cmake)
    return()
endif()

include(GNUInstallDirs)

set(torvane_app_id net.torvane.Torvane)
set(torvane_homepage "https://www.torvane.net/")
set(debian_files ${CMAKE_SOURCE_DIR}/resources/debian)
set(packaging_dir ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${packaging_dir})

# The package version comes from the newest changelog entry's heading; the two must agree.
file(STRINGS ${debian_files}/changelog changelog_heading LIMIT_COUNT 1)
if(NOT changelog_heading MATCHES "^torvane \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "resources/debian/changelog does not begin with an entry for "
                        "${PROJECT_VERSION}: ${changelog_heading}")
endif()

# gzip -9n: the compressed form Debian wants for manual pages and changelogs, byte for byte
# the same on every build.
function(torvane_compress source target)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
    execute_process(COMMAND gzip -9n -c ${source} OUTPUT_FILE ${target} RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "gzip could not compress ${source}")
    endif()
endfunction()

torvane_compress(${debian_files}/changelog ${packaging_dir}/changelog.gz)
foreach(page torvane torvane-cloud)
    configure_file(resources/man/${page}.1.in ${packaging_dir}/${page}.1 @ONLY)
    torvane_compress(${packaging_dir}/${page}.1 ${packaging_dir}/${page}.1.gz)
endforeach()

# A package's documentation folder: its copyright and changelog (and what else is given).
function(torvane_install_docs package component)
    install(FILES ${debian_files}/copyright ${packaging_dir}/changelog.gz ${ARGN}
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endfunction()

# The desktop program.
install(TARGETS torvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT desktop)
install(FILES resources/desktop/${torvane_app_id}.desktop
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications COMPONENT desktop)
configure_file(resources/desktop/${torvane_app_id}.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${torvane_app_id}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${torvane_app_id}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo COMPONENT desktop)
install(FILES resources/icons/${torvane_app_id}.svg
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps COMPONENT desktop)
foreach(size IN LISTS TORVANE_ICON_SIZES)
    install(FILES resources/icons/torvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${torvane_app_id}.png COMPONENT desktop)
endforeach()
install(FILES ${packaging_dir}/torvane.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
        COMPONENT desktop)
torvane_install_docs(torvane desktop README.md)

# The cloud service.
set(cloud_components)
if(TARGET torvane-cloud)
    install(TARGETS torvane-cloud RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT cloud)
    install(FILES ${packaging_dir}/torvane-cloud.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT cloud)
    torvane_install_docs(torvane-cloud cloud)
    install(FILES resources/cloud/torvane-cloud.service DESTINATION /usr/lib/systemd/system
            COMPONENT cloud_system EXCLUDE_FROM_ALL)
    install(FILES resources/cloud/torvane-cloud.default DESTINATION /etc/default
            RENAME torvane-cloud COMPONENT cloud_system EXCLUDE_FROM_ALL)
    set(cloud_components cloud cloud_system)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME torvane)
set(CPACK_PACKAGE_VENDOR Torvane)
set(CPACK_PACKAGE_CONTACT "Torvane maintainers <maintainers@torvane.net>")
set(CPACK_PACKAGE_HOMEPAGE_URL ${torvane_homepage})
# The unit and its options file are installed to absolute places, which land under the
# package's root only when CPack installs through DESTDIR; the prefix is then its own.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL desktop ${cloud_components})
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE torvane)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Package torvane. Its description: the synopsis line, then the extended text.
set(CPACK_DEBIAN_TORVANE_PACKAGE_NAME torvane)
set(CPACK_DEBIAN_TORVANE_DESCRIPTION
    "server list with one-click Remote Desktop and SSH logins
Torvane is a desktop tool for people who look after many rented Windows
and Linux servers. It keeps them in a local SQLite list and opens a Remote
Desktop (FreeRDP) or SSH (PuTTY) session with one action, without putting
passwords on a command line.

It shows which servers answer on their port, groups, searches, sorts,
imports and exports them, marks rentals that are about to end, keeps a copy
of the list in a web account (the service of the torvane-cloud package, or
another one) and logs into a server's BaoTa panel with one click. The
interface is in Chinese.")
# What the sessions, consoles, Chinese text and Qt's Chinese button texts need at run time.
set(CPACK_DEBIAN_TORVANE_PACKAGE_RECOMMENDS
    "putty, freerdp2-x11, xterm | x-terminal-emulator, iputils-ping, fonts-wqy-microhei, qt6-translations-l10n")

# Package torvane-cloud.
set(CPACK_DEBIAN_TORVANE_CLOUD_PACKAGE_NAME torvane-cloud)
set(CPACK_DEBIAN_TORVANE_CLOUD_PACKAGE_DEPENDS adduser)
set(CPACK_DEBIAN_TORVANE_CLOUD_DESCRIPTION
    "self-hostable cloud service for Torvane's server lists
torvane-cloud keeps a copy of each Torvane user's groups and servers under
a user account, so that the desktop program can upload its list and
download it on another machine. Accounts are registered with an SMS code,
which the service writes to its log or hands to a program of the
operator's choice.

The package runs the service under systemd as its own system user, with
its data in /var/lib/torvane-cloud, listening on 127.0.0.1 only until the
operator gives it an address and a TLS certificate. Commands list the
accounts, reset passwords, delete accounts and take online backups.")
set(CPACK_DEBIAN_TORVANE_CLOUD_PACKAGE_CONTROL_EXTRA
    ${debian_files}/torvane-cloud/postinst ${debian_files}/torvane-cloud/prerm
    ${debian_files}/torvane-cloud/postrm ${debian_files}/torvane-cloud/conffiles)

include(CPack)
cpack_add_component_group(torvane)
cpack_add_component(desktop GROUP torvane)
if(TARGET torvane-cloud)
    cpack_add_component_group(torvane_cloud)
    cpack_add_component(cloud GROUP torvane_cloud)
    cpack_add_component(cloud_system GROUP torvane_cloud)
endif()
