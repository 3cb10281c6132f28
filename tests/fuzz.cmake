# libFuzzer targets (tests/fuzz): the command line, control.ini and the
# password switch's bytes. They build with clang++ in build/fuzz, outside
# this tree's compiler, and each runs for 15 s on its corpus.
find_program(CLANGXX NAMES clang++ clang++-14)
if(CLANGXX)
  add_test(NAME fuzz.targets COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/run-fuzzers.sh 15)
  set_tests_properties(fuzz.targets PROPERTIES TIMEOUT 1800 COST 800 LABELS fuzz
    ENVIRONMENT "CLANGXX=${CLANGXX}")
endif()
