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
# The dialogs the tests open, compiled as the program's own resources are.
set(SIM_TEST_RES ${CMAKE_CURRENT_BINARY_DIR}/sim_test.res)
add_resource_file(sim_test_res ${CMAKE_CURRENT_SOURCE_DIR}/sim/data/dialogs.rc ${SIM_TEST_RES})
add_dependencies(vellomire_sim_core_tests sim_test_res)
target_compile_definitions(vellomire_sim_core_tests PRIVATE SIM_TEST_RESOURCE_FILE="${SIM_TEST_RES}")
gtest_discover_tests(vellomire_sim_core_tests DISCOVERY_TIMEOUT 60)
