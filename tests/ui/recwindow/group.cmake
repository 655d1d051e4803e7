# The recordings made in the window are read back by the recording tests'
# EDF reader.
target_sources(${TEST_TARGET} PRIVATE ${QD_ROOT}/tests/recording/recording_helpers.cpp)

# EDFlib (a Linux library, Debian libedf-dev) reads the window's EDF
# recording back on the build machine after the window test: it keeps the
# file and the generated values in ui-out/. Label "after-vm": where the
# window test runs in the 32-bit test machine, this one runs afterwards on
# the build machine (scripts/vm32/ctest-win32.sh).
find_program(QD_HOST_CC NAMES cc gcc)
find_path(QD_HOST_EDFLIB_INCLUDE edflib.h PATHS /usr/include /usr/local/include NO_CMAKE_FIND_ROOT_PATH)
set(qd_host_edflib "")
if(QD_HOST_CC AND QD_HOST_EDFLIB_INCLUDE)
    execute_process(COMMAND ${QD_HOST_CC} -print-file-name=libedf.a OUTPUT_VARIABLE qd_host_edflib
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${qd_host_edflib}")
        set(qd_host_edflib "")
    endif()
endif()
set(qd_host_edflib_args "${QD_HOST_CC}" "${QD_HOST_EDFLIB_INCLUDE}" "${qd_host_edflib}")
if(NOT qd_host_edflib)
    message(STATUS "EDFlib not found on the build machine (libedf-dev): ui-recwindow-edflib will skip")
    set(qd_host_edflib_args none none none)
endif()
add_test(NAME ${QD_BUILD_NAME}.ui-recwindow-edflib
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/edflib-check.sh ${qd_host_edflib_args} ${QD_ROOT}/tests/recording/edfcheck/edfcheck.c ${CMAKE_BINARY_DIR}/ui-out)
set_tests_properties(${QD_BUILD_NAME}.ui-recwindow-edflib PROPERTIES
    SKIP_RETURN_CODE 77 LABELS after-vm DEPENDS ${QD_BUILD_NAME}.ui-recwindow)
