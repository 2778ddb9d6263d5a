# The real quorrel.exe of this build under Wine on a virtual display (needs
# Xvfb and xdotool; skipped without them). Each test builds a prefix of its
# own in a temporary folder, never the user's ~/.wine.
if(TARGET quorrel AND NOT CMAKE_HOST_WIN32)
  add_test(NAME win32_e2e
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/e2e_wine.sh $<TARGET_FILE:quorrel>
                   ${PROJECT_SOURCE_DIR}/cmake/wine-run ${CMAKE_CURRENT_BINARY_DIR})
  # The bound covers building the prefix (wineboot) and a first start.
  set_tests_properties(win32_e2e PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900 RUN_SERIAL ON)
endif()
