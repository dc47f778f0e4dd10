include(CMakePackageConfigHelpers)

install(TARGETS varnok_api EXPORT varnokTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT varnokTargets NAMESPACE varnok::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/varnok)

configure_package_config_file(cmake/varnokConfig.cmake.in
  ${PROJECT_BINARY_DIR}/varnokConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/varnok)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/varnokConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/varnokConfig.cmake ${PROJECT_BINARY_DIR}/varnokConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/varnok)

# The pkg-config file finds its prefix relative to itself, so the tree can be installed anywhere.
file(RELATIVE_PATH VARNOK_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" VARNOK_PC_TO_PREFIX "${VARNOK_PC_TO_PREFIX}")
configure_file(cmake/varnok.pc.in ${PROJECT_BINARY_DIR}/varnok.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/varnok.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The licence and the notice of what the library holds of others go with it (THIRD_PARTY_NOTICES.md).
install(FILES LICENSE THIRD_PARTY_NOTICES.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
