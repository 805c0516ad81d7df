# Installation layout, the CMake package and pkg-config file for consumers,
# and the CPack archives (a zip for Windows, a tarball for Linux).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QH_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quendral-hosts)

install(TARGETS quendral-hosts EXPORT quendral-hosts-targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/quendral-hosts.h include/quendral-hosts-record.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS qhosts RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
set_target_properties(qhosts PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")

install(EXPORT quendral-hosts-targets NAMESPACE quendral-hosts::
  DESTINATION ${QH_CMAKE_DIR} FILE quendral-hostsTargets.cmake)
configure_package_config_file(cmake/quendral-hostsConfig.cmake.in
  ${CMAKE_BINARY_DIR}/quendral-hostsConfig.cmake INSTALL_DESTINATION ${QH_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quendral-hostsConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quendral-hostsConfig.cmake
              ${CMAKE_BINARY_DIR}/quendral-hostsConfigVersion.cmake
  DESTINATION ${QH_CMAKE_DIR})

if(WIN32)
  install(FILES ${QH_MSVC_IMPLIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES README.md LICENSE DESTINATION .)
  install(DIRECTORY docs DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quendral-hosts-${PROJECT_VERSION}-win64)
else()
  # The prefix is found relative to the .pc file, so the tree can be moved.
  file(RELATIVE_PATH QH_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
  configure_file(cmake/quendral-hosts.pc.in ${CMAKE_BINARY_DIR}/quendral-hosts.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/quendral-hosts.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(DIRECTORY docs DESTINATION ${CMAKE_INSTALL_DOCDIR})
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME quendral-hosts-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
endif()

set(CPACK_PACKAGE_NAME quendral-hosts)
set(CPACK_PACKAGE_VENDOR "quendral-hosts developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Read, edit and safely rewrite the hosts file")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
include(CPack)
