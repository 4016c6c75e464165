# Run after the test binary is built: lists its suites and writes the ctest file that runs each
# suite as one test, in one process, its cases' results written as XML to RESULTS/<suite>.xml.
# Suites that begin as LEAVING does, when it is given, are left out.
#   cmake -DPROGRAM=... -DOUT=... -DRESULTS=... [-DLEAVING=...] -P suites.cmake
execute_process(COMMAND ${PROGRAM} --gtest_list_tests
                OUTPUT_VARIABLE listing RESULT_VARIABLE status TIMEOUT 30)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} --gtest_list_tests failed: ${status}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(script "")
foreach(line IN LISTS lines)
    # A suite's line is its name and a dot (a typed suite's, then a comment); a case's is indented.
    if(line MATCHES "^([A-Za-z_][A-Za-z0-9_/]*)\\.")
        set(suite ${CMAKE_MATCH_1})
        if(LEAVING AND suite MATCHES "^(${LEAVING})")
            continue()
        endif()
        string(REPLACE "/" "_" file ${suite})
        string(APPEND script
            "add_test([=[${suite}]=] [=[${PROGRAM}]=] [=[--gtest_filter=${suite}.*]=] "
            "[=[--gtest_output=xml:${RESULTS}/${file}.xml]=])\n"
            "set_tests_properties([=[${suite}]=] PROPERTIES RUN_SERIAL TRUE TIMEOUT 300 "
            "SKIP_REGULAR_EXPRESSION [=[\\[  SKIPPED \\]]=])\n")
    endif()
endforeach()
file(WRITE ${OUT} "${script}")
