# Installation: the console program, the shared library with its SONAME, the
# public header, a pkg-config file, a CMake package and the man page.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# libZEMQRFile.so -> libZEMQRFile.so.1 -> libZEMQRFile.so.<product version>.
# The SONAME versions the interface, which changes only when a caller must be
# rebuilt; the product version names the file.
set(ZEM_SOVERSION 1)
set_target_properties(ZEMQRFile PROPERTIES VERSION ${PROJECT_VERSION}
                                           SOVERSION ${ZEM_SOVERSION})
target_include_directories(ZEMQRFile INTERFACE
                           $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
                           $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
add_library(ZEMQRFile::ZEMQRFile ALIAS ZEMQRFile)

if(TARGET zemQRCode)
  install(TARGETS zemQRCode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ZEMQRFile EXPORT ZEMQRFileTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/zemqrfile.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/zemQRCode.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The package files find the rest of the tree relative to themselves, so the
# tree still works when installed with another --prefix or moved.
set(ZEM_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZEMQRFile)
install(EXPORT ZEMQRFileTargets NAMESPACE ZEMQRFile:: DESTINATION ${ZEM_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/ZEMQRFileConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/ZEMQRFileConfig.cmake
                              INSTALL_DESTINATION ${ZEM_CMAKE_PACKAGE_DIR})
# Product versions only grow while the interface stays: any newer one serves.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZEMQRFileConfigVersion.cmake
                                 VERSION ${PROJECT_VERSION} COMPATIBILITY AnyNewerVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZEMQRFileConfig.cmake
              ${PROJECT_BINARY_DIR}/ZEMQRFileConfigVersion.cmake
        DESTINATION ${ZEM_CMAKE_PACKAGE_DIR})

set(ZEM_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE ${CMAKE_INSTALL_LIBDIR} OR IS_ABSOLUTE ${CMAKE_INSTALL_INCLUDEDIR})
  set(ZEM_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
  set(ZEM_PC_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
  set(ZEM_PC_INCLUDEDIR ${CMAKE_INSTALL_FULL_INCLUDEDIR})
else()
  file(RELATIVE_PATH ZEM_PKGCONFIG_TO_PREFIX /${ZEM_PKGCONFIG_DIR} /)
  string(REGEX REPLACE "/$" "" ZEM_PKGCONFIG_TO_PREFIX ${ZEM_PKGCONFIG_TO_PREFIX})
  set(ZEM_PC_PREFIX "\${pcfiledir}/${ZEM_PKGCONFIG_TO_PREFIX}")
  set(ZEM_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
  set(ZEM_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/zemqrfile.pc.in ${PROJECT_BINARY_DIR}/zemqrfile.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zemqrfile.pc DESTINATION ${ZEM_PKGCONFIG_DIR})
