# wine_status.cmake - the Wine runner gives a program's own exit status when
# the Wine server sends SIGKILL to its finished process. Wine runs under
# strace, which holds every exit_group of Wine's processes for 0.8 s, longer
# than the server waits, so both the program and the status launcher meet
# that end. Called by ctest with
# -DRUNNER (scripts/wine-run.sh) and -DPROGRAM (the launcher itself, which
# run without arguments prints its usage and exits with 125).

find_program(STRACE strace)
if(NOT STRACE)
    message("SKIP: strace is not installed")
    return()
endif()
# The Wine server outside strace: the traced run then starts no process that
# outlives it.
execute_process(COMMAND ${RUNNER} ${PROGRAM} RESULT_VARIABLE plain OUTPUT_QUIET ERROR_QUIET)
if(plain EQUAL 77)
    message("SKIP: the runner cannot execute this program here")
    return()
endif()
set(ENV{QD_WINE_UNDER} "${STRACE} -f -o /dev/null -e trace=exit_group -e inject=exit_group:delay_enter=800000")
execute_process(COMMAND ${RUNNER} ${PROGRAM} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("---- plain run: ${plain}; held at exit: ${rc}\n${out}${err}")
if(NOT plain EQUAL 125 OR NOT rc EQUAL 125)
    message(FATAL_ERROR "the runner gave ${plain} and ${rc} for a program that exits with 125")
endif()
if(NOT err MATCHES "the program's exit status was 125")
    message(FATAL_ERROR "the launcher's own process was not ended by the Wine server: the check proves nothing")
endif()
