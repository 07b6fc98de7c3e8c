# Installing the program like a desktop program, and the Debian package:
#   cmake --install build            (prefix from CMAKE_INSTALL_PREFIX)
#   cd build && cpack -G DEB         (after a Release build)
include(GNUInstallDirs)

set(NETSONDE_PROJECT_URL "https://netsonde.example.org" CACHE STRING
    "Where the project is published: the metadata's homepage and screenshot")

set(NETSONDE_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(NETSONDE_ICONS ${PROJECT_SOURCE_DIR}/resources/app)

install(TARGETS netsonde RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The echo broker, in the prefix's lib/netsonde, the one place an installed
# program runs it from (NETSONDE_HELPER_DIR). Installed like any program;
# the package's postinst gives it its group, mode 0750 and cap_net_raw.
install(TARGETS icmp-helper RUNTIME DESTINATION lib/netsonde)

install(FILES ${NETSONDE_PACKAGING}/netsonde.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
# The file kinds the launcher opens (Debian's triggers update the MIME
# database).
install(FILES ${NETSONDE_PACKAGING}/netsonde-mime.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME netsonde.xml)

configure_file(${NETSONDE_PACKAGING}/netsonde.metainfo.xml.in
               ${PROJECT_BINARY_DIR}/packaging/netsonde.metainfo.xml @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/netsonde.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME ${NETSONDE_APP_ID}.metainfo.xml)

install(FILES ${NETSONDE_ICONS}/netsonde.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 32 48 64 128 256)
    install(FILES ${NETSONDE_ICONS}/icons/netsonde-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME netsonde.png)
endforeach()

# Manual pages are installed compressed, as Debian expects them.
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/netsonde.1.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${NETSONDE_PACKAGING}/netsonde.1
            > ${PROJECT_BINARY_DIR}/packaging/netsonde.1.gz
    DEPENDS ${NETSONDE_PACKAGING}/netsonde.1
    COMMENT "Compressing the manual page netsonde.1"
    VERBATIM)
# The targets below only bring their files up to date; they run no command of
# their own that a COMMENT would describe.
add_custom_target(netsonde_manpage ALL # cmake-lint: disable=C0113
                  DEPENDS ${PROJECT_BINARY_DIR}/packaging/netsonde.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/netsonde.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian's copyright file and changelog; the licence text itself is the
# system's common GPL-3.
configure_file(${NETSONDE_PACKAGING}/copyright.in
               ${PROJECT_BINARY_DIR}/packaging/copyright @ONLY)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${NETSONDE_PACKAGING}/changelog
            > ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
    DEPENDS ${NETSONDE_PACKAGING}/changelog
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
add_custom_target(netsonde_changelog ALL # cmake-lint: disable=C0113
                  DEPENDS ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/netsonde)

# The headless prober, a package of its own: the program, its systemd unit
# (installed, not enabled), its default settings and its manual page.
install(TARGETS netsonde-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT probe)
install(FILES ${NETSONDE_PACKAGING}/netsonde-probe.service
        DESTINATION lib/systemd/system COMPONENT probe)
install(FILES ${NETSONDE_PACKAGING}/probe.conf
        DESTINATION ${CMAKE_INSTALL_FULL_SYSCONFDIR}/netsonde COMPONENT probe)
# The unit sends on datagram ICMP sockets; this admits every group to them.
install(FILES ${NETSONDE_PACKAGING}/probe/60-netsonde-probe.conf
        DESTINATION lib/sysctl.d COMPONENT probe)
add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/packaging/netsonde-probe.1.gz
    COMMAND ${GZIP_PROGRAM} -9 -n -c ${NETSONDE_PACKAGING}/netsonde-probe.1
            > ${PROJECT_BINARY_DIR}/packaging/netsonde-probe.1.gz
    DEPENDS ${NETSONDE_PACKAGING}/netsonde-probe.1
    COMMENT "Compressing the manual page netsonde-probe.1"
    VERBATIM)
add_custom_target(netsonde_probe_manpage ALL # cmake-lint: disable=C0113
                  DEPENDS ${PROJECT_BINARY_DIR}/packaging/netsonde-probe.1.gz)
install(FILES ${PROJECT_BINARY_DIR}/packaging/netsonde-probe.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT probe)
install(FILES ${PROJECT_BINARY_DIR}/packaging/copyright
              ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/netsonde-probe COMPONENT probe)

# The Debian packages: netsonde (everything without a component) and
# netsonde-probe.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Unspecified probe)
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_NAME netsonde)
set(CPACK_DEBIAN_UNSPECIFIED_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PROBE_PACKAGE_NAME netsonde-probe)
set(CPACK_DEBIAN_PROBE_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PROBE_PACKAGE_SECTION net)
# The prober's settings are the administrator's; the postinst applies the
# sysctl setting at once.
set(CPACK_DEBIAN_PROBE_PACKAGE_CONTROL_EXTRA ${NETSONDE_PACKAGING}/probe/conffiles
    ${NETSONDE_PACKAGING}/probe/postinst)
set(CPACK_DEBIAN_PROBE_PACKAGE_SUGGESTS "prometheus, netsonde")
set(CPACK_DEBIAN_PROBE_DESCRIPTION
    "headless ICMP echo prober for Prometheus\n\
netsonde-probe sends ICMP echo requests to a list of hosts on a steady\n\
schedule and serves counters and a round-trip histogram per host at\n\
/metrics for Prometheus to scrape.\n\
.\n\
Note: the package sets net.ipv4.ping_group_range to 0 2147483647, which\n\
lets every group on the machine send ICMP echo requests on datagram\n\
sockets (no raw sockets, no other packets). Its unit relies on this. A\n\
file /etc/sysctl.d/60-netsonde-probe.conf overrides the setting.")
set(CPACK_PACKAGE_NAME netsonde)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Netsonde developers")
set(CPACK_PACKAGE_CONTACT "Netsonde developers <netsonde@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check, ping and trace a list of hosts with ICMP echo")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The packaged program must run the packaged broker: configure package
# builds with -DCMAKE_INSTALL_PREFIX=/usr.
if(NOT netsonde_helper_dir STREQUAL "${CPACK_PACKAGING_INSTALL_PREFIX}/lib/netsonde")
    message(STATUS "A package of this build would look for its broker in ${netsonde_helper_dir}, "
                   "not ${CPACK_PACKAGING_INSTALL_PREFIX}/lib/netsonde")
endif()
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${NETSONDE_PROJECT_URL})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The postinst creates the group (adduser) and gives the helper its
# capability (setcap, libcap2-bin); the history file is read through Qt's
# SQLite plugin, which no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libcap2-bin, libqt6sql6-sqlite")
# Qt's Wayland platform: without it the program runs through XWayland on a
# Wayland desktop (the notification area and minimising then work as on
# X11), so it is a recommendation, installed by default, not a dependency.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
# GNOME shows notification-area icons only with this extension.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Netsonde is a desktop tool for diagnosing a network. It keeps a list of\n\
hosts, checks whether each answers ICMP echo requests, pings one host or\n\
all of them repeatedly and traces the route to a host hop by hop.\n\
Sessions and address lists can be saved and opened again, and an automatic\n\
mode keeps checking the list from the system tray.")
set(CPACK_DEBIAN_UNSPECIFIED_PACKAGE_CONTROL_EXTRA ${NETSONDE_PACKAGING}/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
