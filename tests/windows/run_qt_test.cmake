# Runs one QtTest program of the Windows build under Wine and prints its report:
#   cmake -DWINE=... -DPROGRAM=... -DREPORT=... -P run_qt_test.cmake
# A QtTest program on Windows sends its report to the debugger unless standard output is a
# console, which it never is under CTest; so the report goes to a file and is printed here.
file(REMOVE ${REPORT})
execute_process(COMMAND ${WINE} ${PROGRAM} -o Z:${REPORT},txt RESULT_VARIABLE result)
if(EXISTS ${REPORT})
    execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${REPORT})
endif()
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ended with ${result}")
endif()
