# install.cmake - what `cmake --install` puts under the prefix: headers, both libraries,
# lparse, the CMake package (lib_parse::lib_parse) and lib_parse.pc and
# lib_parse-static.pc for pkg-config, made from the templates beside this file.
# Each file belongs to a component, one Debian package each (package.cmake):
# runtime (the shared library), dev (everything a host builds with) and lparse.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Hosts include <lib_parse.h>, <lib_parse.hpp> and <lib_parse/diagnostics.h>.
install(FILES
  ${PROJECT_SOURCE_DIR}/include/lib_parse.h
  ${PROJECT_SOURCE_DIR}/include/lib_parse.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/lib_parse/diagnostics.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lib_parse COMPONENT dev)

install(TARGETS lib_parse lib_parse_static EXPORT lib_parseTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET lparse)
  install(TARGETS lparse RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT lparse)
endif()

# find_package(lib_parse CONFIG) gives lib_parse::lib_parse (shared) and
# lib_parse::lib_parse_static.
set(lib_parse_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/lib_parse)
install(EXPORT lib_parseTargets NAMESPACE lib_parse:: DESTINATION ${lib_parse_cmake_dir} COMPONENT dev)
set(lib_parse_config_jit "")
if(LIB_PARSE_JIT AND NOT LIB_PARSE_ASMJIT_FROM_SOURCE)
  # The static library's native code calls the installed AsmJit.
  set(lib_parse_config_jit "include(CMakeFindDependencyMacro)\nfind_dependency(asmjit CONFIG)")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/lib_parseConfig.cmake.in ${PROJECT_BINARY_DIR}/lib_parseConfig.cmake @ONLY)
# Any version a host asks for up to this one is met: the API has only grown
# since 0.1 (1.x took the major number of the SONAME, liblib_parse.so.1, which
# is what an incompatible change would bump), so hosts written for 0.x still
# find it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/lib_parseConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY AnyNewerVersion)
install(FILES ${PROJECT_BINARY_DIR}/lib_parseConfig.cmake ${PROJECT_BINARY_DIR}/lib_parseConfigVersion.cmake
  DESTINATION ${lib_parse_cmake_dir} COMPONENT dev)

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
# What the static library needs after it, in link order: an installed AsmJit
# (one built here is inside it), the C++ runtime, libm, and AsmJit's threads
# and rt. lib_parse.pc lists them as Libs.private, for --static;
# lib_parse-static.pc names the archive itself, for a static link of
# lib_parse beside shared system libraries.
set(lib_parse_pc_private "")
if(LIB_PARSE_JIT AND NOT LIB_PARSE_ASMJIT_FROM_SOURCE)
  string(APPEND lib_parse_pc_private "-lasmjit ")
endif()
string(APPEND lib_parse_pc_private "-lstdc++ -lm")
if(LIB_PARSE_JIT)
  string(APPEND lib_parse_pc_private " -lpthread -lrt")
endif()
set(lib_parse_pc_archive "$<TARGET_FILE_NAME:lib_parse_static>")
foreach(pc lib_parse lib_parse-static)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc.in @ONLY)
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/${pc}.pc INPUT ${PROJECT_BINARY_DIR}/${pc}.pc.in)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${lib_parse_pc_dir} COMPONENT dev)
endforeach()
