# The Debian packages of the Linux build: `cpack` in a release build folder
# (tools/release) makes vantor-agent_<version>_amd64.deb and
# vantor-rooms_<version>_amd64.deb. Their dependencies are worked out from the
# binaries by dpkg-shlibdeps (libcurl4, libssl3, libsqlite3-0, libstdc++6
# ...), so `apt install ./<package>.deb` pulls in what it needs.
install(TARGETS vantor-agent RUNTIME DESTINATION bin COMPONENT agent)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vantor-agent COMPONENT agent)
install(TARGETS vantor-rooms RUNTIME DESTINATION bin COMPONENT rooms)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vantor-rooms COMPONENT rooms)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/vantor-rooms.service DESTINATION lib/systemd/system COMPONENT rooms)
install(FILES ${CMAKE_SOURCE_DIR}/cmake/vantor-rooms.default DESTINATION /etc/default RENAME vantor-rooms
        COMPONENT rooms)

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL agent rooms)
set(CPACK_PACKAGE_NAME vantor)
set(CPACK_PACKAGE_VENDOR vantor)
set(CPACK_PACKAGE_CONTACT "vantor <agent@vantor.gg>")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)             # <package>_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_AGENT_PACKAGE_NAME vantor-agent)
set(CPACK_DEBIAN_AGENT_PACKAGE_SECTION games)
set(CPACK_COMPONENT_AGENT_DESCRIPTION "hands you the room link of your CS2 match
vantor-agent runs beside CS2: it works out the ten players of your match from \
CS2's console.log, Game State Integration and the running Steam client, reports \
the roster to the room service and puts the room link on your clipboard.")
# The clipboard helpers and notify-send are run when present: wl-copy for a
# Wayland session, xclip (or xsel) for X11, so apt brings both kinds.
set(CPACK_DEBIAN_AGENT_PACKAGE_RECOMMENDS "wl-clipboard, xclip | xsel, libnotify-bin")

set(CPACK_DEBIAN_ROOMS_PACKAGE_NAME vantor-rooms)
set(CPACK_DEBIAN_ROOMS_PACKAGE_SECTION net)
set(CPACK_COMPONENT_ROOMS_DESCRIPTION "the room service of vantor: where the ten players of a CS2 match meet
vantor-rooms creates the room of a match on the first agent's report, joins \
the others to it and serves the room page. One SQLite file, a systemd unit; \
put it behind nginx or Caddy for TLS.")
set(CPACK_DEBIAN_ROOMS_PACKAGE_SUGGESTS "nginx | caddy")
# The settings in /etc/default stay the admin's across upgrades.
configure_file(${CMAKE_SOURCE_DIR}/cmake/vantor-rooms.conffiles ${CMAKE_BINARY_DIR}/rooms-control/conffiles COPYONLY)
set(CPACK_DEBIAN_ROOMS_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/rooms-control/conffiles)
include(CPack)
