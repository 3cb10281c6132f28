# Robustness of the saver on the simulation: the fault sweep, previews ended
# from outside, long runs, and the runner under valgrind. The long run of
# 100,000 pictures carries the label "long" and runs only with VELLOMIRE_LONG=1
# (VELLOMIRE_LONG=1 ctest -L long); everything else runs in CI.
file(GLOB ROBUSTNESS_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/*_test.cpp)
add_executable(vellomire_robustness_tests ${ROBUSTNESS_TEST_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness/robustness_support.cpp)
target_include_directories(vellomire_robustness_tests PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/robustness)
target_link_libraries(vellomire_robustness_tests PRIVATE vellomire_test_support GTest::gtest_main)
target_compile_options(vellomire_robustness_tests PRIVATE ${WARNINGS})

add_test(NAME robustness.fault_sweep
  COMMAND vellomire_robustness_tests --gtest_filter=Scenarios/FaultSweep.*)
set_tests_properties(robustness.fault_sweep PROPERTIES TIMEOUT 600 LABELS robustness)

add_test(NAME robustness.preview_from_outside
  COMMAND vellomire_robustness_tests --gtest_filter=PreviewFromOutside.*)
set_tests_properties(robustness.preview_from_outside PROPERTIES TIMEOUT 300 LABELS robustness)

add_test(NAME robustness.long_run_2000
  COMMAND vellomire_robustness_tests --gtest_filter=LongRun.TwoThousandPictures)
set_tests_properties(robustness.long_run_2000 PROPERTIES TIMEOUT 600 LABELS robustness)

add_test(NAME robustness.long_run_100000
  COMMAND vellomire_robustness_tests --gtest_filter=LongRun.HundredThousandPictures)
set_tests_properties(robustness.long_run_100000 PROPERTIES TIMEOUT 14400 LABELS "robustness;long"
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")

# The headless runner under memcheck: a 20-second full-screen run.
find_program(VALGRIND valgrind)
if(VALGRIND AND TARGET vellomire-sim)
  add_test(NAME robustness.valgrind_runner
    COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full
            $<TARGET_FILE:vellomire-sim> --for 20000 -- /s)
  set_tests_properties(robustness.valgrind_runner PROPERTIES TIMEOUT 900 LABELS robustness)
  # A preview on the Windows 95 family, moved over by the mouse.
  add_test(NAME robustness.valgrind_runner_preview
    COMMAND ${VALGRIND} --error-exitcode=1 --leak-check=full
            $<TARGET_FILE:vellomire-sim> --family 95 --parent 152x112 --at 3000:move:10,10
            --for 10000 -- /p PARENT)
  set_tests_properties(robustness.valgrind_runner_preview PROPERTIES TIMEOUT 900 LABELS robustness)
endif()

# The product tests again with AddressSanitizer and UndefinedBehaviorSanitizer,
# in a tree of their own (build/asan); the script configures, builds and runs it.
add_test(NAME robustness.sanitizers
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/sanitize.sh)
set_tests_properties(robustness.sanitizers PROPERTIES TIMEOUT 3000 COST 900 LABELS "robustness;sanitizers")
