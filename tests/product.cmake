# Tests of the saver itself, run on the simulated Win32 layer.
include(GoogleTest)
file(GLOB PRODUCT_TEST_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/host/*_test.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/show/*_test.cpp)
add_library(vellomire_test_support STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/support/saver_process.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/log_tables.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/dialog_user.cpp)
target_include_directories(vellomire_test_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(vellomire_test_support PUBLIC vellomire_product GTest::gtest)
target_compile_options(vellomire_test_support PRIVATE ${WARNINGS})

add_executable(vellomire_product_tests ${PRODUCT_TEST_SOURCES})
target_link_libraries(vellomire_product_tests PRIVATE vellomire_test_support GTest::gtest_main)
target_compile_options(vellomire_product_tests PRIVATE ${WARNINGS})
gtest_discover_tests(vellomire_product_tests DISCOVERY_TIMEOUT 60)
