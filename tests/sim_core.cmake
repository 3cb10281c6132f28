# Tests of the simulation's window core: window creation and destruction,
# activation, the message queue and timers, input, dialogs, the call log,
# fault injection and the exception guard.
include(GoogleTest)
file(GLOB SIM_CORE_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/core_*_test.cpp)
add_executable(vellomire_sim_core_tests ${SIM_CORE_TEST_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/core_support.cpp)
target_include_directories(vellomire_sim_core_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/sim)
target_link_libraries(vellomire_sim_core_tests PRIVATE vellomire_sim GTest::gtest_main)
target_compile_options(vellomire_sim_core_tests PRIVATE ${WARNINGS})
gtest_discover_tests(vellomire_sim_core_tests DISCOVERY_TIMEOUT 60)
