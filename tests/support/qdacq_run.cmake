# qdacq_run.cmake - run() and expect() for the scripts that drive qdacq as a
# user would (tests/e2e/qdacq.cmake, tests/recording/qdacq_record.cmake).
# Uses EMULATOR (the Wine runner for Windows programs, else empty), QDACQ and
# OUT; the driver keeps its log in ${OUT}/shared.

# run(<name> <expected exit status> args...): runs qdacq, keeps its output in
# ${name}_out, fails on another exit status. Exit 77 of the runner (no
# 32-bit execution here) skips the whole test.
function(run name expect)
    execute_process(COMMAND ${EMULATOR} ${QDACQ} --shared-dir ${OUT}/shared ${ARGN}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("---- qdacq ${ARGN}\n${out}${err}---- exit ${rc}")
    if(rc EQUAL 77 AND NOT expect EQUAL 77)
        # The test's SKIP_REGULAR_EXPRESSION turns this into a skip.
        message(FATAL_ERROR "SKIP: the runner cannot execute this program here")
    endif()
    if(NOT rc EQUAL expect)
        message(FATAL_ERROR "qdacq exited with ${rc}, expected ${expect}")
    endif()
    set(${name}_out "${out}${err}" PARENT_SCOPE)
endfunction()

# expect(<name> <text>): the output of run(<name> ...) holds the text.
function(expect name text)
    string(FIND "${${name}_out}" "${text}" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the output of ${name} lacks \"${text}\"")
    endif()
endfunction()

# expect_match(<name> <regex>): the output of run(<name> ...) matches the
# regular expression (for a figure that varies with the machine's load).
function(expect_match name regex)
    string(REGEX MATCH "${regex}" found "${${name}_out}")
    if(found STREQUAL "")
        message(FATAL_ERROR "the output of ${name} does not match \"${regex}\"")
    endif()
endfunction()
