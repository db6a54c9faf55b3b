# package.cmake - Debian packages by `cpack -G DEB` from a build configured
# with -DCMAKE_INSTALL_PREFIX=/usr: liblib-parse<SOVERSION> (the shared
# library), liblib-parse-dev (headers, static library, CMake package,
# pkg-config files) and lparse. Debian names have no "_", and the runtime's
# carries the SOVERSION, so a new SONAME renames it by itself.
get_target_property(lib_parse_soversion lib_parse SOVERSION)
set(lib_parse_runtime_package liblib-parse${lib_parse_soversion})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lib-parse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "lib_parse developers <lib_parse@localhost>")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET lparse)
  list(APPEND CPACK_COMPONENTS_ALL lparse)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
# The system libraries the binaries need, as dpkg-shlibdeps finds them; a
# shlibs file for the package that holds the shared library, so that
# dpkg-shlibdeps finds it for programs linked with it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${lib_parse_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "shared library")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liblib-parse-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "headers, static library, CMake package and pkg-config files")
# The headers and the shared library's link name go with that very library;
# a static library linking the installed AsmJit needs its archive.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${lib_parse_runtime_package} (= ${PROJECT_VERSION})")
if(LIB_PARSE_JIT AND NOT LIB_PARSE_ASMJIT_FROM_SOURCE)
  string(APPEND CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ", libasmjit-dev")
endif()

set(CPACK_DEBIAN_LPARSE_PACKAGE_NAME lparse)
set(CPACK_DEBIAN_LPARSE_PACKAGE_SECTION math)
set(CPACK_COMPONENT_LPARSE_DESCRIPTION "command-line calculator")

include(CPack)
