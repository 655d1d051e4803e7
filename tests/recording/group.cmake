# Independent readers of the recordings the writer produces (native build
# only; Debian packages libedf-dev and biosig-tools): edfcheck reads a file
# with EDFlib, save2gdf (biosig) converts one to text. The tests find them
# through QD_EDFCHECK and QD_SAVE2GDF and skip a reader that is missing.
if(NOT WIN32)
    find_path(QD_EDFLIB_INCLUDE edflib.h)
    find_library(QD_EDFLIB edf)
    if(QD_EDFLIB_INCLUDE AND QD_EDFLIB)
        add_executable(qd_edfcheck ${CMAKE_CURRENT_LIST_DIR}/edfcheck/edfcheck.c)
        target_include_directories(qd_edfcheck PRIVATE ${QD_EDFLIB_INCLUDE})
        target_link_libraries(qd_edfcheck PRIVATE ${QD_EDFLIB})
        target_compile_options(qd_edfcheck PRIVATE ${QD_WARNINGS})
        add_dependencies(${TEST_TARGET} qd_edfcheck)
        target_compile_definitions(${TEST_TARGET} PRIVATE QD_EDFCHECK="$<TARGET_FILE:qd_edfcheck>")
    else()
        message(STATUS "EDFlib not found (libedf-dev): the recording tests skip the EDFlib reader")
    endif()
    find_program(QD_SAVE2GDF save2gdf)
    if(QD_SAVE2GDF)
        target_compile_definitions(${TEST_TARGET} PRIVATE QD_SAVE2GDF="${QD_SAVE2GDF}")
    endif()
    # Failures of the real file system (a full device, a file size limit).
    target_sources(${TEST_TARGET} PRIVATE ${CMAKE_CURRENT_LIST_DIR}/posix/disk_full_test.cpp)
endif()

# qdacq records through the same writer (with the simulator library).
if(TARGET qdacq AND TARGET qd_ftd2xx_sim AND TARGET QuorvaneDrv)
    set(qd_edfcheck_file "")
    if(TARGET qd_edfcheck)
        set(qd_edfcheck_file $<TARGET_FILE:qd_edfcheck>)
    endif()
    add_test(NAME ${QD_BUILD_NAME}.recording.qdacq
             COMMAND ${CMAKE_COMMAND}
                     -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DQDACQ=$<TARGET_FILE:qdacq>
                     -DEDFCHECK=${qd_edfcheck_file}
                     -DOUT=${CMAKE_BINARY_DIR}/recording-qdacq
                     -DWINDOWS=${WIN32}
                     -P ${CMAKE_CURRENT_LIST_DIR}/qdacq_record.cmake)
    set_tests_properties(${QD_BUILD_NAME}.recording.qdacq PROPERTIES SKIP_REGULAR_EXPRESSION "SKIP: the runner cannot execute" TIMEOUT 180)
endif()

# The EDF+ session through qdacq: a gap, a pause and markers on standard
# input, read back by EDFlib and by MNE (Debian python3-mne; skipped without).
if(NOT WIN32 AND TARGET qdacq AND TARGET qd_ftd2xx_sim AND TARGET QuorvaneDrv AND TARGET qd_edfcheck)
    add_test(NAME ${QD_BUILD_NAME}.recording.edfplus
             COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/edfplus_session.py $<TARGET_FILE:qdacq>
                     $<TARGET_FILE:qd_edfcheck> ${CMAKE_BINARY_DIR}/recording-edfplus)
    set_tests_properties(${QD_BUILD_NAME}.recording.edfplus PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
