# The radar chain's units and their unit tests, built for another processor
# and run under its emulator (CMAKE_CROSSCOMPILING_EMULATOR, scripts/armhf.sh):
# the FFT kernel and stages, peaks, heights and result lines, records, rings,
# settings and the shared helpers. Tests that need the configuration stand-in
# start this machine's build of it; the supervisor's tests and those of whole
# programs, which start programs built for the other processor, stay with the
# host build.
set(HOST_CONFIGSERVICE "" CACHE FILEPATH "The configuration stand-in built for this machine")
if(NOT EXISTS "${HOST_CONFIGSERVICE}")
  message(FATAL_ERROR "HOST_CONFIGSERVICE: no configuration stand-in at '${HOST_CONFIGSERVICE}'")
endif()

add_subdirectory(include)
add_subdirectory(src/vintor)
add_subdirectory(tests/support)

set(_tests ${CMAKE_SOURCE_DIR}/tests)
function(add_chain_unit_test name)
  cmake_parse_arguments(T "" "FILTER" "SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} GTest::gtest_main vintorlib testsupport)
  # Every test runs emulated: several times slower than here.
  gtest_discover_tests(${name} TEST_FILTER "${T_FILTER}" DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 300)
endfunction()

file(GLOB _spectra ${_tests}/vintor-spectra/*_test.cpp)
list(FILTER _spectra EXCLUDE REGEX "_ns_test\\.cpp$")
add_chain_unit_test(vintor_spectra_test SOURCES ${_spectra})
file(GLOB _heights ${_tests}/heights/*_test.cpp)
add_chain_unit_test(heights_test SOURCES ${_heights})
add_chain_unit_test(vintor_spine_test SOURCES ${_tests}/vintor-spine/records_test.cpp
  ${_tests}/vintor-spine/sharedmem_test.cpp ${_tests}/vintor-spine/configfile_test.cpp
  ${_tests}/vintor-spine/sectionsettings_test.cpp ${_tests}/vintor-spine/feedrecord_test.cpp)
# The emulator stands in for a process's own /proc/<pid>/stat with memory
# figures of 0, and shows its own name for the processes it runs.
add_chain_unit_test(util_test FILTER "-Process.*" SOURCES ${_tests}/util/misc_test.cpp ${_tests}/util/timer_test.cpp
  ${_tests}/util/pid_test.cpp ${_tests}/util/trim_handler_test.cpp)
# The replay line reader alone: where strtol saturates depends on the width of long.
add_chain_unit_test(replay_test FILTER "ExtractData.*" SOURCES ${_tests}/vintor-acquisition/replay_test.cpp)
target_compile_definitions(replay_test PRIVATE REPLAY_PEER_BIN="" REPLAY_GEN_BIN="")
