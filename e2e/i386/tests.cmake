# The 32-bit saver end to end where the kernel cannot run 32-bit programs:
# 32-bit Wine in an emulated i386 Debian machine (qemu-system-i386, software
# emulation). Included by e2e/CMakeLists.txt, which then registers each suite
# but the host-only ones with add_i386_suite.
set(I386_DIR ${CMAKE_SOURCE_DIR}/e2e/i386)

# Builds the machine image once per machine (cached under
# ~/.cache/vellomire/i386-<hash>); a build that fails fails loudly, and so
# every suite that needs it. run-tests.sh starts the build before the trees
# are built; this test then waits for it.
add_test(NAME e2e_i386_image COMMAND bash ${I386_DIR}/build-image.sh)
set_tests_properties(e2e_i386_image PROPERTIES
  LABELS "i386"
  FIXTURES_SETUP i386_image
  COST 3000
  TIMEOUT 3000)

# e2e_<name>_win32: the suite on the 32-bit build, in a machine of its own.
# Two machines run side by side, each on one emulated processor: the suites
# take the two lanes (resource locks) in turn, and start before the other
# tests (COST), for they are the longest.
set(I386_LANE 1)
function(add_i386_suite name)
  add_test(NAME e2e_${name}_win32
    COMMAND ${E2E_PYTHON} ${CMAKE_SOURCE_DIR}/e2e/suites/test_${name}.py)
  set_tests_properties(e2e_${name}_win32 PROPERTIES
    LABELS "i386;win32"
    ENVIRONMENT "${E2E_ENV};VELLOMIRE_BACKEND=i386"
    FIXTURES_REQUIRED i386_image
    RESOURCE_LOCK i386_lane_${I386_LANE}
    COST 2000
    TIMEOUT 1200)
  math(EXPR lane "3 - ${I386_LANE}")
  set(I386_LANE ${lane} PARENT_SCOPE)
endfunction()
