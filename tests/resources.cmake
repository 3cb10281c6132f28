# Resource tests: the resources read back out of both built saver files, and
# the picture converter that makes the eleven bitmaps.
set(VELLOMIRE_WIN32_SCR ${CMAKE_SOURCE_DIR}/build/win32/vellomire.scr CACHE FILEPATH
  "The 32-bit saver whose resources the tests read")
set(VELLOMIRE_WIN64_SCR ${CMAKE_SOURCE_DIR}/build/win64/vellomire.scr CACHE FILEPATH
  "The 64-bit saver whose resources the tests read")
# Debian's Python, which has pefile; the one first on PATH may not.
set(VELLOMIRE_SYSTEM_PYTHON /usr/bin/python3 CACHE FILEPATH "Python with Debian's modules")

add_executable(vellomire-picture
  ${CMAKE_SOURCE_DIR}/tools/pictures/colour.cpp
  ${CMAKE_SOURCE_DIR}/tools/pictures/dither.cpp
  ${CMAKE_SOURCE_DIR}/tools/pictures/formats.cpp
  ${CMAKE_SOURCE_DIR}/tools/pictures/main.cpp
  ${CMAKE_SOURCE_DIR}/tools/pictures/scielab.cpp
  ${CMAKE_SOURCE_DIR}/tools/pictures/search.cpp)
target_compile_options(vellomire-picture PRIVATE ${WARNINGS})
# The search's inner loop is vectorised at -O3 only; the result is the same.
set_source_files_properties(${CMAKE_SOURCE_DIR}/tools/pictures/search.cpp PROPERTIES COMPILE_OPTIONS -O3)

add_test(NAME resources.saver_files
  COMMAND ${VELLOMIRE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/resources/test_resources.py
    --scr ${VELLOMIRE_WIN32_SCR} --scr ${VELLOMIRE_WIN64_SCR}
    --resources ${CMAKE_SOURCE_DIR}/resources
    --pictures ${CMAKE_SOURCE_DIR}/tools/pictures/pictures.txt)
add_test(NAME resources.picture_converter
  COMMAND ${VELLOMIRE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/resources/test_picture_converter.py
    $<TARGET_FILE:vellomire-picture>)
set_tests_properties(resources.saver_files resources.picture_converter PROPERTIES LABELS resources COST 700)
