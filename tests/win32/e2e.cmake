# The real quorrel.exe of this build under Wine on a virtual display (needs
# Xvfb and xdotool; skipped without them).
if(TARGET quorrel AND NOT CMAKE_HOST_WIN32)
  add_test(NAME win32_e2e
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/e2e_wine.sh $<TARGET_FILE:quorrel>
                   ${PROJECT_SOURCE_DIR}/cmake/wine-run ${CMAKE_CURRENT_BINARY_DIR})
  set_tests_properties(win32_e2e PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 400 RUN_SERIAL ON)
endif()
