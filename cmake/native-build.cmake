# Native build: the product sources on the simulated Win32 layer, with the
# tests, the headless runner and the end-to-end suites registered in CTest.
enable_testing()
find_package(GTest REQUIRED)
find_package(Threads REQUIRED)

# The simulation reads resources as the .scr carries them: compiled by
# MinGW's windres (-O res) from the script, with the script's folder on the
# include path for its header and pictures.
find_program(WINDRES NAMES x86_64-w64-mingw32-windres i686-w64-mingw32-windres REQUIRED)
function(add_resource_file target script output)
  get_filename_component(folder ${script} DIRECTORY)
  file(GLOB inputs ${folder}/*.h ${folder}/*.bmp)
  add_custom_command(OUTPUT ${output}
    COMMAND ${WINDRES} -I ${folder} -O res -i ${script} -o ${output}
    DEPENDS ${script} ${inputs} VERBATIM)
  add_custom_target(${target} DEPENDS ${output})
endfunction()
set(VELLOMIRE_RES ${CMAKE_BINARY_DIR}/vellomire.res)
add_resource_file(vellomire_res ${CMAKE_SOURCE_DIR}/resources/vellomire.rc ${VELLOMIRE_RES})

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
