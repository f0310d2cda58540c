# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the shared library with a CMake package and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS kelaudiofilterhost EXPORT kelaudiofilterhostTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(KAFH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelaudiofilterhost)
install(EXPORT kelaudiofilterhostTargets NAMESPACE kelaudiofilterhost::
  DESTINATION ${KAFH_CMAKE_DIR})

configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kelaudiofilterhostConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kelaudiofilterhostConfig.cmake INSTALL_DESTINATION ${KAFH_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelaudiofilterhostConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kelaudiofilterhostConfig.cmake
              ${PROJECT_BINARY_DIR}/kelaudiofilterhostConfigVersion.cmake
        DESTINATION ${KAFH_CMAKE_DIR})

configure_file(${PROJECT_SOURCE_DIR}/cmake/kelaudiofilterhost.pc.in
  ${PROJECT_BINARY_DIR}/kelaudiofilterhost.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kelaudiofilterhost.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kelaudiofilterhost)

# The isolation helper, where the library looks for it: in a folder named after the library beside it.
install(TARGETS kafh-isolate RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR}/kelaudiofilterhost)
