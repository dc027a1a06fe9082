# Installation: both shared libraries (versioned, with SONAMEs), the public
# headers with the generated declarations, qosdata, the API reference and the
# guide, a CMake package (orva_qos_data::orva_qos_data, which brings
# orva_qos_data::mox_runtime) and a pkg-config file per library.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORVA_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/orva_qos_data)

# Installed files find their neighbours relative to themselves: no run path
# into the build tree (CMake drops the build run path on install).
set_target_properties(orva_qos_data PROPERTIES
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR}
  INSTALL_RPATH "$ORIGIN")
file(RELATIVE_PATH ORVA_BIN_TO_LIB /${CMAKE_INSTALL_BINDIR} /${CMAKE_INSTALL_LIBDIR})
set_target_properties(qosdata PROPERTIES INSTALL_RPATH "$ORIGIN/${ORVA_BIN_TO_LIB}")

install(TARGETS orva_qos_data mox_runtime EXPORT orva_qos_dataTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS qosdata RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(FILES ${ORVA_GEN_DIR}/orva_qos_data/orva_qos_data_decls.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/orva_qos_data)
install(DIRECTORY ${ORVA_GEN_DIR}/reference DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/docs/first-program.md ${CMAKE_SOURCE_DIR}/docs/runtime.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(EXPORT orva_qos_dataTargets NAMESPACE orva_qos_data:: DESTINATION ${ORVA_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/orva_qos_dataConfig.cmake.in
  ${CMAKE_BINARY_DIR}/orva_qos_dataConfig.cmake INSTALL_DESTINATION ${ORVA_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/orva_qos_dataConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/orva_qos_dataConfig.cmake
  ${CMAKE_BINARY_DIR}/orva_qos_dataConfigVersion.cmake DESTINATION ${ORVA_CMAKE_DIR})

# pkg-config files locate the prefix from their own place, so an installed
# tree can move.
file(RELATIVE_PATH ORVA_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ORVA_PC_TO_PREFIX "${ORVA_PC_TO_PREFIX}")
foreach(lib mox_runtime orva_qos_data)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${lib}.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${lib}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
