# The 32-bit saver end to end: 32-bit Wine in an emulated i386 Debian machine
# (qemu-system-i386, software emulation), since this kind of machine cannot
# run 32-bit code. Included by e2e/CMakeLists.txt. The machine's tests are the
# longest: their COST makes a parallel CTest start them first, beside the rest.
#   e2e_i386_image   builds the machine image once per machine (cached under
#                    ~/.cache/vellomire/i386-<hash>; about 15 minutes cold);
#                    a build that fails fails loudly, and so the suite.
#   e2e_i386_suite   boots the machine once and runs e2e/i386/cases.py on the
#                    32-bit build (build/win32)
#   e2e_cases_win64  the same cases on the 64-bit build under the host's wine64
#   e2e_<suite>_i386 the saver's end-to-end suites (e2e/suites: modes,
#                    fullscreen, preview, dialog, install) on the 32-bit build
#                    in the machine
if(NOT DEFINED VELLOMIRE_WIN32_DIR)
  set(VELLOMIRE_WIN32_DIR ${CMAKE_SOURCE_DIR}/build/win32)
endif()
if(NOT DEFINED VELLOMIRE_WIN64_DIR)
  set(VELLOMIRE_WIN64_DIR ${CMAKE_SOURCE_DIR}/build/win64)
endif()
set(I386_DIR ${CMAKE_SOURCE_DIR}/e2e/i386)

add_test(NAME e2e_i386_image COMMAND bash ${I386_DIR}/build-image.sh)
set_tests_properties(e2e_i386_image PROPERTIES
  LABELS "i386"
  FIXTURES_SETUP i386_image
  RESOURCE_LOCK i386_vm
  COST 3000
  TIMEOUT 3000)

add_test(NAME e2e_i386_suite
  COMMAND /usr/bin/python3 ${I386_DIR}/run_suite.py --backend i386
          --build-dir ${VELLOMIRE_WIN32_DIR})
set_tests_properties(e2e_i386_suite PROPERTIES
  LABELS "i386"
  FIXTURES_REQUIRED i386_image
  RESOURCE_LOCK i386_vm
  COST 2000
  TIMEOUT 2400)

add_test(NAME e2e_cases_win64
  COMMAND /usr/bin/python3 ${I386_DIR}/run_suite.py --backend wine64
          --build-dir ${VELLOMIRE_WIN64_DIR})
set_tests_properties(e2e_cases_win64 PROPERTIES
  LABELS "wine"
  RESOURCE_LOCK wine
  TIMEOUT 600)

# The saver's suites on their second backend: the 32-bit build in the
# machine, the same cases as e2e_<suite>_win64. Each boots the machine once.
foreach(suite modes fullscreen preview dialog install)
  add_test(NAME e2e_${suite}_i386
    COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/e2e/suites/test_${suite}.py)
  set_tests_properties(e2e_${suite}_i386 PROPERTIES
    LABELS "i386"
    ENVIRONMENT "VELLOMIRE_BACKEND=i386;VELLOMIRE_WIN32_DIR=${VELLOMIRE_WIN32_DIR}"
    FIXTURES_REQUIRED i386_image
    RESOURCE_LOCK i386_vm
    COST 2000
    TIMEOUT 2400)
endforeach()
