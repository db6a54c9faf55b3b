# install.cmake - what `cmake --install` puts under the prefix: headers, both libraries,
# lparse, the CMake package (lib_parse::lib_parse) and lib_parse.pc for pkg-config,
# the last two made from the templates beside this file.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Hosts include <lib_parse.h>, <lib_parse.hpp> and <lib_parse/diagnostics.h>.
install(FILES
  ${PROJECT_SOURCE_DIR}/include/lib_parse.h
  ${PROJECT_SOURCE_DIR}/include/lib_parse.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/lib_parse/diagnostics.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lib_parse)

install(TARGETS lib_parse lib_parse_static EXPORT lib_parseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET lparse)
  install(TARGETS lparse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

# find_package(lib_parse CONFIG) gives lib_parse::lib_parse (shared) and
# lib_parse::lib_parse_static.
set(lib_parse_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/lib_parse)
install(EXPORT lib_parseTargets NAMESPACE lib_parse:: DESTINATION ${lib_parse_cmake_dir})
set(lib_parse_config_jit "")
if(LIB_PARSE_JIT)
  # The static library's native code calls AsmJit.
  set(lib_parse_config_jit "include(CMakeFindDependencyMacro)\nfind_dependency(asmjit CONFIG)")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/lib_parseConfig.cmake.in ${PROJECT_BINARY_DIR}/lib_parseConfig.cmake @ONLY)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lib_parseConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/lib_parseConfig.cmake ${PROJECT_BINARY_DIR}/lib_parseConfigVersion.cmake
  DESTINATION ${lib_parse_cmake_dir})

# The .pc file finds the prefix from its own place, so the installed tree can
# be moved, and an install with --prefix works without reconfiguring.
set(lib_parse_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(lib_parse_pc_prefix "${CMAKE_INSTALL_PREFIX}")
else()
  set(lib_parse_pc_prefix "\${pcfiledir}")
  string(REPLACE "/" ";" lib_parse_pc_parts "${lib_parse_pc_dir}")
  foreach(part IN LISTS lib_parse_pc_parts)
    if(NOT part STREQUAL "" AND NOT part STREQUAL ".")
      string(APPEND lib_parse_pc_prefix "/..")
    endif()
  endforeach()
endif()
# With native code, the static library needs AsmJit, and AsmJit threads and rt.
set(lib_parse_pc_jit "")
if(LIB_PARSE_JIT)
  set(lib_parse_pc_jit " -lasmjit -lpthread -lrt")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/lib_parse.pc.in ${PROJECT_BINARY_DIR}/lib_parse.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/lib_parse.pc DESTINATION ${lib_parse_pc_dir})
