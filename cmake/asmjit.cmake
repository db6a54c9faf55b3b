# asmjit.cmake - where the machine-code generators get AsmJit from. Sets
# asmjit_FOUND, LIB_PARSE_ASMJIT_FROM_SOURCE and lib_parse_asmjit_origin (what
# was found, for the configure message, which the caller prints once it knows
# whether machine code is built at all).
#
# From a source tree (LIB_PARSE_ASMJIT_SOURCE, or third_party/asmjit when it is
# there): built here as position-independent objects with hidden symbols,
# which go into both libraries, so the shared library makes machine code too.
# Otherwise from an installed AsmJit (Debian's libasmjit-dev): a static
# archive of position-dependent code, which only the static library can link;
# the shared library then interprets every tree.
set(LIB_PARSE_ASMJIT_SOURCE "" CACHE PATH
    "AsmJit source tree to build into both libraries (empty: third_party/asmjit if present)")
set(lib_parse_asmjit_source "${LIB_PARSE_ASMJIT_SOURCE}")
if(NOT lib_parse_asmjit_source AND EXISTS ${PROJECT_SOURCE_DIR}/third_party/asmjit/src/asmjit/x86.h)
  set(lib_parse_asmjit_source ${PROJECT_SOURCE_DIR}/third_party/asmjit)
endif()

set(LIB_PARSE_ASMJIT_FROM_SOURCE OFF)
if(lib_parse_asmjit_source)
  if(NOT EXISTS ${lib_parse_asmjit_source}/src/asmjit/x86.h)
    message(FATAL_ERROR "LIB_PARSE_ASMJIT_SOURCE: no AsmJit source tree (src/asmjit/x86.h) in ${lib_parse_asmjit_source}")
  endif()
  # The core and the x86 back end: the generators emit x86-64 only.
  file(GLOB lib_parse_asmjit_sources
    ${lib_parse_asmjit_source}/src/asmjit/core/*.cpp
    ${lib_parse_asmjit_source}/src/asmjit/x86/*.cpp)
  # Built only for a library that links it: not when machine code is off.
  add_library(lib_parse_asmjit OBJECT EXCLUDE_FROM_ALL ${lib_parse_asmjit_sources})
  # -isystem: its headers' warnings are not this project's to fix.
  target_include_directories(lib_parse_asmjit SYSTEM PUBLIC ${lib_parse_asmjit_source}/src)
  # ASMJIT_STATIC: no symbol of it is exported, neither from the shared
  # library nor from the static one's single object. ASMJIT_NO_FOREIGN: the
  # host's architecture only, as the sources compiled are.
  target_compile_definitions(lib_parse_asmjit PUBLIC ASMJIT_STATIC ASMJIT_NO_FOREIGN)
  target_compile_options(lib_parse_asmjit PRIVATE -w)
  # GCC makes the statics of inline functions GNU-unique symbols, which
  # objcopy cannot make local in the static library; plain weak ones can be.
  include(CheckCXXCompilerFlag)
  check_cxx_compiler_flag(-fno-gnu-unique lib_parse_has_no_gnu_unique)
  if(lib_parse_has_no_gnu_unique)
    target_compile_options(lib_parse_asmjit PRIVATE -fno-gnu-unique)
  endif()
  # Compiled only where a library takes its objects.
  set_target_properties(lib_parse_asmjit PROPERTIES POSITION_INDEPENDENT_CODE ON EXCLUDE_FROM_ALL ON)
  add_library(asmjit::asmjit ALIAS lib_parse_asmjit)
  set(asmjit_FOUND TRUE)
  set(LIB_PARSE_ASMJIT_FROM_SOURCE ON)
  set(lib_parse_asmjit_origin "built from ${lib_parse_asmjit_source}")
  return()
endif()

find_package(asmjit CONFIG QUIET)
if(NOT asmjit_FOUND)
  find_path(LIB_PARSE_ASMJIT_INCLUDE asmjit/x86.h)
  find_library(LIB_PARSE_ASMJIT_LIBRARY asmjit)
  if(LIB_PARSE_ASMJIT_INCLUDE AND LIB_PARSE_ASMJIT_LIBRARY)
    add_library(asmjit::asmjit UNKNOWN IMPORTED)
    set_target_properties(asmjit::asmjit PROPERTIES IMPORTED_LOCATION ${LIB_PARSE_ASMJIT_LIBRARY}
                          INTERFACE_INCLUDE_DIRECTORIES ${LIB_PARSE_ASMJIT_INCLUDE})
    set(asmjit_FOUND TRUE)
  endif()
endif()
if(asmjit_FOUND)
  set(lib_parse_asmjit_origin "installed archive")
endif()
