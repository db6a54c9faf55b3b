# profile_guided.cmake - the library's objects compiled with GCC's profile
# feedback (LIB_PARSE_PROFILE_GUIDED). A parse runs about 400 lines of code,
# near all an instruction cache holds, and most of them sit beside code for
# errors, traces and limits that a parse seldom takes. With counts from a run
# of typical calls, GCC moves those rare paths out of the hot functions and
# lays the common ones out straight: a parse then touches fewer lines and runs
# fewer instructions (bench/README.md).
#
# The build compiles a twin of every object library, instrumented, links the
# workload of cmake/profile_workload.cpp with it and runs it, then compiles
# the library's objects with the counts. Only they use them: tests, tools and
# benchmarks are built as they would be without. The counts change the
# layout, never a value: the same -ffp-contract=off code, and the evaluators'
# tests run on this build.
set(lib_parse_profile_dir ${CMAKE_CURRENT_BINARY_DIR}/profile)
set(lib_parse_profiled_targets lib_parse_objects containers diagnostics ${lib_parse_native_target})

# GCC finds a function's counts by the name of its file's auxiliary outputs
# (for a function local to its file, by that name and the function's), which
# follows the object's path unless given: each source gets one, the same for
# its twin and its real object, in a folder of its own (split debug info and
# stack usage go there too; the real object, compiled last, writes them
# last). A changed workload compiles both again. The twins copy the targets'
# settings as they are here: settings added later do not reach them.
file(MAKE_DIRECTORY ${lib_parse_profile_dir}/names)
set(lib_parse_training_objects)
foreach(target IN LISTS lib_parse_profiled_targets)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    string(REPLACE "/" "-" name ${source})
    set_property(SOURCE ${source} APPEND PROPERTY COMPILE_OPTIONS
      -dumpdir ${lib_parse_profile_dir}/names/ -dumpbase ${name})
    set_property(SOURCE ${source} APPEND PROPERTY OBJECT_DEPENDS
      ${PROJECT_SOURCE_DIR}/cmake/profile_workload.cpp ${PROJECT_SOURCE_DIR}/cmake/profile_train.cmake)
  endforeach()
  add_library(${target}_training OBJECT EXCLUDE_FROM_ALL ${sources})
  foreach(property IN ITEMS INCLUDE_DIRECTORIES COMPILE_DEFINITIONS COMPILE_OPTIONS LINK_LIBRARIES)
    get_target_property(value ${target} ${property})
    if(value)
      set_property(TARGET ${target}_training PROPERTY ${property} ${value})
    endif()
  endforeach()
  # Its warnings are those of instrumented code; the real objects give the
  # source's own.
  target_compile_options(${target}_training PRIVATE -fprofile-generate=${lib_parse_profile_dir}/counts -w)
  list(APPEND lib_parse_training_objects $<TARGET_OBJECTS:${target}_training>)
endforeach()

add_executable(lib_parse_profile_workload EXCLUDE_FROM_ALL
  ${PROJECT_SOURCE_DIR}/cmake/profile_workload.cpp ${lib_parse_training_objects} ${lib_parse_asmjit_objects})
target_include_directories(lib_parse_profile_workload PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_options(lib_parse_profile_workload PRIVATE -fprofile-generate=${lib_parse_profile_dir}/counts)
if(LIB_PARSE_JIT AND NOT LIB_PARSE_ASMJIT_FROM_SOURCE)
  target_link_libraries(lib_parse_profile_workload PRIVATE asmjit::asmjit)
endif()
target_link_libraries(lib_parse_profile_workload PRIVATE m ${lib_parse_jit_system_libs})

add_custom_command(
  OUTPUT ${lib_parse_profile_dir}.stamp
  COMMAND ${CMAKE_COMMAND} -D WORKLOAD=$<TARGET_FILE:lib_parse_profile_workload> -D COUNTS=${lib_parse_profile_dir}/counts
          -P ${PROJECT_SOURCE_DIR}/cmake/profile_train.cmake
  COMMAND ${CMAKE_COMMAND} -E touch ${lib_parse_profile_dir}.stamp
  DEPENDS lib_parse_profile_workload ${PROJECT_SOURCE_DIR}/cmake/profile_train.cmake
  COMMENT "Running the profile workload on the instrumented library"
  VERBATIM)
add_custom_target(lib_parse_profile DEPENDS ${lib_parse_profile_dir}.stamp)

# The objects are compiled after the workload ran: one whose source changed
# is compiled again only after the workload ran on the changed code (the
# others keep the layout of the counts they were compiled with, so compare
# timings of clean builds). A function the workload never ran, such as the
# spreading of bulk rows over threads, is optimised as without counts.
foreach(target IN LISTS lib_parse_profiled_targets)
  add_dependencies(${target} lib_parse_profile)
  target_compile_options(${target} PRIVATE -fprofile-use=${lib_parse_profile_dir}/counts -fprofile-partial-training)
endforeach()
