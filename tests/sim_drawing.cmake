# Tests of the simulation's drawing, resource and system half: GDI pixels
# and misuse, the resources read from windres's output, profile file bytes,
# registry, modules and the system functions.
include(GoogleTest)
file(GLOB SIM_DRAWING_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/gdi_*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/resources_*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/profiles_*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/registry_*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/modules_*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/sim/system_*_test.cpp)
add_executable(vellomire_sim_drawing_tests ${SIM_DRAWING_TEST_SOURCES})
target_link_libraries(vellomire_sim_drawing_tests PRIVATE vellomire_sim GTest::gtest_main)
target_compile_options(vellomire_sim_drawing_tests PRIVATE ${WARNINGS})
add_dependencies(vellomire_sim_drawing_tests sim_test_res)
target_compile_definitions(vellomire_sim_drawing_tests PRIVATE
  VELLOMIRE_RESOURCE_FILE="${VELLOMIRE_RES}" SIM_TEST_RESOURCE_FILE="${SIM_TEST_RES}"
  VELLOMIRE_PICTURES="${CMAKE_SOURCE_DIR}/resources")
gtest_discover_tests(vellomire_sim_drawing_tests DISCOVERY_TIMEOUT 60)
