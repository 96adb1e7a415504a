# Install layout and the Debian package: the runner in bin/, the framework library in lib/,
# the plug-in in lib/statrix/ (the runner also looks there), the systemd unit, the README and
# the Prometheus rules for a fleet of runners.
if(STATRIX_WINDOWS)
  install(TARGETS varnel-host varnel statrix RUNTIME DESTINATION bin LIBRARY DESTINATION bin)
  return()
endif()

# Relative RPATHs: the installed tree works wherever it is put.
set_target_properties(varnel-host PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
set_target_properties(statrix PROPERTIES INSTALL_RPATH "$ORIGIN/..")
install(TARGETS varnel-host RUNTIME DESTINATION bin)
install(TARGETS varnel LIBRARY DESTINATION lib)
install(TARGETS statrix LIBRARY DESTINATION lib/statrix)
# The unit names the runner by the prefix in force when installing (cmake --install --prefix,
# or CPack's /usr), so it is written then.
install(CODE "configure_file(\"${CMAKE_SOURCE_DIR}/packaging/statrix.service.in\"
                             \"${CMAKE_BINARY_DIR}/packaging/statrix.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/packaging/statrix.service DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION share/doc/statrix)
# The web configuration example (TLS, client certificates, basic auth) for /etc/statrix/web.yml.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/web.yml DESTINATION share/doc/statrix/examples)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/prometheus/statrix.rules.yml DESTINATION share/statrix/prometheus)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME statrix)
set(CPACK_PACKAGE_VERSION 0.1.0)
set(CPACK_PACKAGE_CONTACT "statrix maintainers <statrix@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "statrix performance monitor with a Prometheus endpoint")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${STATRIX_BIN_DIR})
include(CPack)
