# profile_train.cmake - runs the profile workload on the instrumented library.
#   cmake -D WORKLOAD=<program> -D COUNTS=<dir> -P profile_train.cmake
# Counts from an earlier run are removed first: GCC would add the new ones to
# them. A workload that fails (a text that reports an error, which the test
# profile_workload names) still leaves counts, and the library is built with
# them; one that leaves none, or runs for ten minutes, leaves the library
# built as without them (GCC then warns for every file, which stops a build
# with -Werror). The counts decide the layout, not the values.
file(REMOVE_RECURSE ${COUNTS})
execute_process(COMMAND ${WORKLOAD} RESULT_VARIABLE result TIMEOUT 600)
if(NOT result EQUAL 0)
  message(WARNING "The profile workload failed (${result}); the library is built with the counts it left")
endif()
file(GLOB_RECURSE counts ${COUNTS}/*.gcda)
if(NOT counts)
  message(WARNING "The profile workload left no counts in ${COUNTS}")
endif()
