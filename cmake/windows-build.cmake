# The Windows saver: a statically linked, stripped GUI executable that imports
# only KERNEL32, USER32, GDI32, ADVAPI32 and msvcrt.
enable_language(RC)
set(WINDOWS_CXX_FLAGS ${WARNINGS} -Os -fno-exceptions -fno-rtti
  -ffunction-sections -fdata-sections)
# The 32-bit build has no use for DWARF unwind tables; the 64-bit build keeps
# its unwind information, which the table-based exception dispatch walks.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND WINDOWS_CXX_FLAGS -fno-asynchronous-unwind-tables)
endif()
set(WINDOWS_LINK_FLAGS -mwindows -static -static-libgcc -static-libstdc++ -s
  -Wl,--gc-sections)

add_executable(vellomire WIN32 ${PRODUCT_SOURCES}
  ${CMAKE_SOURCE_DIR}/platform/guard_windows.cpp
  ${CMAKE_SOURCE_DIR}/resources/vellomire.rc)
set_target_properties(vellomire PROPERTIES OUTPUT_NAME vellomire SUFFIX .scr)
target_include_directories(vellomire PRIVATE ${PRODUCT_INCLUDES})
target_compile_options(vellomire PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${WINDOWS_CXX_FLAGS}>)
target_link_options(vellomire PRIVATE ${WINDOWS_LINK_FLAGS})

# Windows helper programs of the end-to-end tests (launcher, probes, doubles).
if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/windows/CMakeLists.txt)
  add_subdirectory(e2e/windows)
endif()
