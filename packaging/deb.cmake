# The Debian package (cpack -G DEB in a build directory): the programs, the systemd unit, the
# applet with its desktop entry, the default hive's directory and the README. Installing it
# starts and enables nothing: the administrator enables the service (systemctl enable --now
# chronsvc) once the settings are in place, so nothing sets the clock before that. Its postinst
# writes the defaults of the settings the hive lacks (chron-defaults), never over a value that
# exists; remove and purge leave the hive.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME chron)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_CONTACT "Chron Maintainers <maintainers@chron.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SNTP v4 time service for local networks")
# The extended description; cpack puts the summary above it as the synopsis.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Keeps the clocks of the computers on a local network in step by SNTP version 4
(RFC 4330): chronsvc is the service (client and/or server), chron95 the client
alone as a background process stopped by chronstop, chroncpl the configuration
applet. The service is installed disabled.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The copyright file and the changelog Debian asks of every package.
set(CHRON_DEB_DOC_DIR ${CMAKE_BINARY_DIR}/deb-doc)
file(MAKE_DIRECTORY ${CHRON_DEB_DOC_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright ${CHRON_DEB_DOC_DIR}/copyright COPYONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${CHRON_DEB_DOC_DIR}/changelog @ONLY)
install(CODE "execute_process(COMMAND gzip -n -9 -f -k ${CHRON_DEB_DOC_DIR}/changelog)")
install(FILES ${CHRON_DEB_DOC_DIR}/copyright ${CHRON_DEB_DOC_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
# The postinst names chron-defaults where the package installs it (cpack installs under /usr).
set(CHRON_DEFAULTS_PROGRAM ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/chron/chron-defaults)
set(CHRON_DEB_CONTROL_DIR ${CMAKE_BINARY_DIR}/deb-control)
configure_file(${CMAKE_CURRENT_LIST_DIR}/postinst.in ${CHRON_DEB_CONTROL_DIR}/postinst @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CHRON_DEB_CONTROL_DIR}/postinst)
include(CPack)
