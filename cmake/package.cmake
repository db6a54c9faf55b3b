# package.cmake - Debian packages: `cmake --build <folder> --target deb` makes
# a release build under /usr in <folder>/deb, whatever <folder>'s own build
# type, and packs it there: liblib-parse<SOVERSION> (the shared library),
# liblib-parse-dev (headers, static library, CMake package, pkg-config files)
# and lparse, each with its copyright and changelog, binaries stripped. Debian
# names have no "_", and the runtime's carries the SOVERSION, so a new SONAME
# renames it by itself.
set(LIB_PARSE_DEB_MAINTAINER "lib_parse maintainers <maintainers@users.noreply.c-seed-cff8662e.example>"
    CACHE STRING "Maintainer field of the Debian packages, \"Name <address>\"")
option(LIB_PARSE_PACKAGING "Install the Debian packages' copyright and changelog files (set by the deb target)" OFF)
get_target_property(lib_parse_soversion lib_parse SOVERSION)
set(lib_parse_runtime_package liblib-parse${lib_parse_soversion})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lib-parse)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "${LIB_PARSE_DEB_MAINTAINER}")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET lparse)
  list(APPEND CPACK_COMPONENTS_ALL lparse)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Revision 1 of the upstream version: the changelog is changelog.Debian.
set(lib_parse_deb_version ${PROJECT_VERSION}-1)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SOURCE lib-parse)
# The system libraries the binaries need, as dpkg-shlibdeps finds them; a
# shlibs file for the package that holds the shared library, so that
# dpkg-shlibdeps finds it for programs linked with it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${lib_parse_runtime_package})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "shared library")
# ldconfig runs once per dpkg run, by trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_DEV_PACKAGE_NAME liblib-parse-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "headers, static library, CMake package and pkg-config files")
# The headers and the shared library's link name go with that very library;
# a static library linking the installed AsmJit needs its archive.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${lib_parse_runtime_package} (= ${lib_parse_deb_version})")
if(LIB_PARSE_JIT AND NOT LIB_PARSE_ASMJIT_FROM_SOURCE)
  string(APPEND CPACK_DEBIAN_DEV_PACKAGE_DEPENDS ", libasmjit-dev")
endif()

set(CPACK_DEBIAN_LPARSE_PACKAGE_NAME lparse)
set(CPACK_DEBIAN_LPARSE_PACKAGE_SECTION math)
set(CPACK_COMPONENT_LPARSE_DESCRIPTION "command-line calculator")

# Each package's /usr/share/doc/<package>: copyright (AsmJit's notice too
# when its source is built into the libraries) and changelog.Debian.gz.
if(LIB_PARSE_PACKAGING)
  set(lib_parse_asmjit_copyright "")
  if(LIB_PARSE_JIT AND LIB_PARSE_ASMJIT_FROM_SOURCE)
    file(READ ${lib_parse_asmjit_source}/LICENSE.md lib_parse_asmjit_license)
    string(REGEX REPLACE "\n+$" "" lib_parse_asmjit_license "${lib_parse_asmjit_license}")
    string(REGEX REPLACE "\n\n" "\n.\n" lib_parse_asmjit_license "${lib_parse_asmjit_license}")
    string(REGEX REPLACE "\n" "\n " lib_parse_asmjit_license "${lib_parse_asmjit_license}")
    set(lib_parse_asmjit_copyright "\nFiles: asmjit/*\nComment: AsmJit, compiled into the libraries\n"
        "Copyright: The AsmJit Authors\nLicense: Zlib\n ${lib_parse_asmjit_license}\n")
  endif()
  string(TIMESTAMP lib_parse_changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright.in ${PROJECT_BINARY_DIR}/debian/copyright @ONLY)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog.Debian @ONLY)
  find_program(LIB_PARSE_GZIP gzip)
  if(NOT LIB_PARSE_GZIP)
    message(FATAL_ERROR "LIB_PARSE_PACKAGING needs gzip")
  endif()
  # -n: no name or time stamp inside, so the same changelog packs the same.
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
    COMMAND ${LIB_PARSE_GZIP} -9nkf ${PROJECT_BINARY_DIR}/debian/changelog.Debian
    DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian)
  add_custom_target(lib_parse_debian_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz)
  set(lib_parse_doc_packages runtime ${lib_parse_runtime_package} dev liblib-parse-dev)
  if(TARGET lparse)
    list(APPEND lib_parse_doc_packages lparse lparse)
  endif()
  while(lib_parse_doc_packages)
    list(POP_FRONT lib_parse_doc_packages component package)
    install(FILES ${PROJECT_BINARY_DIR}/debian/copyright ${PROJECT_BINARY_DIR}/debian/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  endwhile()
endif()

# cpack refuses any build but a release one under /usr.
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/check_build.cmake.in ${PROJECT_BINARY_DIR}/CPackCheckBuild.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackCheckBuild.cmake)

include(CPack)

# The packages, from a release build of this source in <build>/deb.
if(NOT LIB_PARSE_PACKAGING)
  set(lib_parse_deb_dir ${PROJECT_BINARY_DIR}/deb)
  cmake_host_system_information(RESULT lib_parse_cores QUERY NUMBER_OF_LOGICAL_CORES)
  # The packages' release build takes profile feedback where GCC allows it;
  # a build that turned it off where it is on by default turns it off there.
  set(lib_parse_deb_profile)
  if(lib_parse_profile_default AND NOT LIB_PARSE_PROFILE_GUIDED)
    set(lib_parse_deb_profile -DLIB_PARSE_PROFILE_GUIDED=OFF)
  endif()
  add_custom_target(deb
    COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${lib_parse_deb_dir} -G ${CMAKE_GENERATOR}
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DLIB_PARSE_PACKAGING=ON
            -DLIB_PARSE_BUILD_TESTS=OFF -DLIB_PARSE_BUILD_BENCH=OFF -DLIB_PARSE_BUILD_FUZZ=OFF
            -DLIB_PARSE_BUILD_PYTHON=OFF ${lib_parse_deb_profile}
            -DLIB_PARSE_BUILD_TOOLS=${LIB_PARSE_BUILD_TOOLS} -DLIB_PARSE_JIT=${LIB_PARSE_JIT}
            "-DLIB_PARSE_ASMJIT_SOURCE=${LIB_PARSE_ASMJIT_SOURCE}"
            "-DLIB_PARSE_DEB_MAINTAINER=${LIB_PARSE_DEB_MAINTAINER}"
            -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
    COMMAND ${CMAKE_COMMAND} --build ${lib_parse_deb_dir} --parallel ${lib_parse_cores}
    COMMAND ${CMAKE_COMMAND} -E chdir ${lib_parse_deb_dir} ${CMAKE_CPACK_COMMAND} -G DEB
    COMMENT "Debian packages from a release build in ${lib_parse_deb_dir}"
    USES_TERMINAL VERBATIM)
endif()
