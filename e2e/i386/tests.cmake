# The 32-bit saver end to end: 32-bit Wine in an emulated i386 Debian machine
# (qemu-system-i386, software emulation), since this kind of machine cannot
# run 32-bit code. Included by e2e/CMakeLists.txt, which registers each suite
# but the host-only ones on this backend with add_i386_suite.
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

# e2e_<name>_i386: the suite on the 32-bit build, in a machine of its own.
# Two machines run side by side, each on one emulated processor: each suite
# has a lane (a resource lock), chosen so that both lanes take about as long
# by what the suites took alone (seconds, in the table), and the suites
# start before the other tests (COST), for they are the longest.
set(I386_LANES
  # suite      lane  seconds
  modes        1     177
  install      1     125
  harness      1     39
  dialog       2     112
  password     2     89
  fullscreen   2     80
  preview      2     68)
function(add_i386_suite name)
  list(FIND I386_LANES ${name} at)
  if(at EQUAL -1)
    message(FATAL_ERROR "e2e/i386/tests.cmake: give the suite ${name} a lane in I386_LANES")
  endif()
  math(EXPR at_lane "${at} + 1")
  math(EXPR at_seconds "${at} + 2")
  list(GET I386_LANES ${at_lane} lane)
  list(GET I386_LANES ${at_seconds} seconds)
  add_test(NAME e2e_${name}_i386
    COMMAND ${E2E_PYTHON} ${CMAKE_SOURCE_DIR}/e2e/suites/test_${name}.py)
  math(EXPR cost "2000 + ${seconds}")
  set_tests_properties(e2e_${name}_i386 PROPERTIES
    LABELS "i386"
    ENVIRONMENT "${E2E_ENV};VELLOMIRE_BACKEND=i386"
    FIXTURES_REQUIRED i386_image
    RESOURCE_LOCK i386_lane_${lane}
    COST ${cost}
    TIMEOUT 1200)
endfunction()
