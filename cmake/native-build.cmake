# Native build: the product sources on the simulated Win32 layer, with the
# tests, the headless runner and the end-to-end suites registered in CTest.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

add_subdirectory(sim)

add_library(vellomire_product STATIC ${PRODUCT_SOURCES})
target_include_directories(vellomire_product PUBLIC ${PRODUCT_INCLUDES})
target_compile_options(vellomire_product PRIVATE ${WARNINGS})
target_link_libraries(vellomire_product PUBLIC vellomire_sim)

add_subdirectory(tools)
add_subdirectory(tests)
if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/CMakeLists.txt)
  add_subdirectory(e2e)
endif()
