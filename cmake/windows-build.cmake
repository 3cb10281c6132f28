# The Windows saver: a stripped GUI executable without the C runtime, entered
# at its own start-up (platform/startup_windows.cpp), that imports only
# KERNEL32, USER32, GDI32 and ADVAPI32; libgcc supplies the odd compiler
# helper (a 64-bit division) statically.
enable_language(RC)
set(WINDOWS_CXX_FLAGS ${WARNINGS} -Os -fno-exceptions -fno-rtti
  -ffunction-sections -fdata-sections)
# No link time in the PE header: two builds of one commit give the same bytes.
set(WINDOWS_LINK_FLAGS -mwindows -nostdlib -nostartfiles -s -Wl,--gc-sections
  -Wl,--no-insert-timestamp)
# The 32-bit build runs on an 80386 (Windows 95's least processor) and has no
# use for DWARF unwind tables; the 64-bit build keeps its unwind information,
# which the table-based exception dispatch walks. The entry symbol carries
# the C underscore on i686 only.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND WINDOWS_CXX_FLAGS -march=i386 -fno-asynchronous-unwind-tables)
  list(APPEND WINDOWS_LINK_FLAGS -Wl,-e,_SaverStartup)
else()
  list(APPEND WINDOWS_LINK_FLAGS -Wl,-e,SaverStartup)
endif()

add_executable(vellomire WIN32 ${PRODUCT_SOURCES}
  ${CMAKE_SOURCE_DIR}/platform/startup_windows.cpp
  ${CMAKE_SOURCE_DIR}/platform/guard_windows.cpp
  ${CMAKE_SOURCE_DIR}/resources/vellomire.rc)
target_link_libraries(vellomire PRIVATE kernel32 user32 gdi32 advapi32 gcc)
# windres's dependencies are not scanned: name the pictures, so that a picture
# made again makes the saver again.
file(GLOB RESOURCE_INPUTS ${CMAKE_SOURCE_DIR}/resources/*.bmp ${CMAKE_SOURCE_DIR}/resources/*.h)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/vellomire.rc PROPERTIES
  OBJECT_DEPENDS "${RESOURCE_INPUTS}")
set_target_properties(vellomire PROPERTIES OUTPUT_NAME vellomire SUFFIX .scr)
target_include_directories(vellomire PRIVATE ${PRODUCT_INCLUDES})
target_compile_options(vellomire PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WINDOWS_CXX_FLAGS}>)
target_link_options(vellomire PRIVATE ${WINDOWS_LINK_FLAGS})

# Windows helper programs of the end-to-end tests (launcher, probes, doubles).
if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/windows/CMakeLists.txt)
  add_subdirectory(e2e/windows)
endif()
