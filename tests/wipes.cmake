# The headless runner's trace of a known run, checked call by call: the wipe
# as the saver paints it, with its 40 ms rhythm.
if(NOT VELLOMIRE_SYSTEM_PYTHON)
  set(VELLOMIRE_SYSTEM_PYTHON /usr/bin/python3)
endif()
if(TARGET vellomire-sim)
  add_test(NAME wipes.runner_trace_columns_open
    COMMAND ${VELLOMIRE_SYSTEM_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/show/check_wipe_trace.py
      $<TARGET_FILE:vellomire-sim>)
  set_tests_properties(wipes.runner_trace_columns_open PROPERTIES LABELS wipes)
endif()
