# The 32-bit saver end to end: 32-bit Wine in an emulated i386 Debian machine
# (qemu-system-i386, software emulation), since this kind of machine cannot
# run 32-bit code. Included by e2e/CMakeLists.txt, which registers every suite
# on this backend with add_i386_suite. The machine's tests are the longest:
# their COST makes a parallel CTest start them first, beside the rest.
set(I386_DIR ${CMAKE_SOURCE_DIR}/e2e/i386)

# Builds the machine image once per machine (cached under
# ~/.cache/vellomire/i386-<hash>); a build that fails fails loudly, and so
# every suite that needs it.
add_test(NAME e2e_i386_image COMMAND bash ${I386_DIR}/build-image.sh)
set_tests_properties(e2e_i386_image PROPERTIES
  LABELS "i386"
  FIXTURES_SETUP i386_image
  RESOURCE_LOCK i386_vm
  COST 3000
  TIMEOUT 3000)

# e2e_<name>_i386: the suite on the 32-bit build, in a machine of its own.
function(add_i386_suite name)
  add_test(NAME e2e_${name}_i386
    COMMAND ${E2E_PYTHON} ${CMAKE_SOURCE_DIR}/e2e/suites/test_${name}.py)
  set_tests_properties(e2e_${name}_i386 PROPERTIES
    LABELS "i386"
    ENVIRONMENT "${E2E_ENV};VELLOMIRE_BACKEND=i386"
    FIXTURES_REQUIRED i386_image
    RESOURCE_LOCK i386_vm
    COST 2000
    TIMEOUT 2400)
endfunction()
