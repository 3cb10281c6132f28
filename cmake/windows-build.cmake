# The Windows saver: a statically linked, stripped GUI executable that imports
# only KERNEL32, USER32, GDI32, ADVAPI32 and msvcrt.
enable_language(RC)
set(WINDOWS_CXX_FLAGS ${WARNINGS} -Os -fno-exceptions -fno-rtti
  -fno-asynchronous-unwind-tables -ffunction-sections -fdata-sections)
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
