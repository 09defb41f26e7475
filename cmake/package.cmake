# The Debian package of the Linux build: `cpack` in a release build folder
# (tools/release) makes vantor-agent_<version>_amd64.deb. Its dependencies are
# worked out from the binary by dpkg-shlibdeps (libcurl4, libssl3, libstdc++6
# ...), so `apt install ./vantor-agent_*.deb` pulls in what it needs.
install(TARGETS vantor-agent RUNTIME DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/vantor-agent)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantor-agent)
set(CPACK_PACKAGE_VENDOR vantor)
set(CPACK_PACKAGE_CONTACT "vantor <agent@vantor.gg>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "hands you the room link of your CS2 match")
set(CPACK_PACKAGE_DESCRIPTION "vantor-agent runs beside CS2: it works out the ten players \
of your match from CS2's console.log, Game State Integration and the running Steam client, \
reports the roster to the room service and puts the room link on your clipboard.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)             # vantor-agent_<version>_amd64.deb
set(CPACK_DEBIAN_PACKAGE_SECTION games)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The clipboard helpers and notify-send are run when present: wl-copy for a
# Wayland session, xclip (or xsel) for X11, so apt brings both kinds.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "wl-clipboard, xclip | xsel, libnotify-bin")
include(CPack)
