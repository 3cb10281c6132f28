# Release test: makes the downloadable zip twice into temporary folders from
# the savers already built in build/win32 and build/win64 and checks it, then
# builds both savers again (two jobs). It took 75 to 129 s beside other
# builds (load 5 to 8 on 2 cores); the limit allows over four times that.
add_test(NAME release.zip
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/release/test_release.py ${CMAKE_SOURCE_DIR})
set_tests_properties(release.zip PROPERTIES LABELS release TIMEOUT 600 COST 600)
