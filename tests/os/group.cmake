# Two small libraries for the tests of loading at run time: qd_os_testlib
# exports qdOsTestAnswer; qd_os_testuser needs qd_os_testlib but is built
# without a way to find it (no run path; on Windows the other library is in
# a folder the loader does not search), so loading it fails for a missing
# dependency.
set(qd_os_lib_dir ${CMAKE_BINARY_DIR}/test_os_lib)
add_library(qd_os_testlib SHARED ${CMAKE_CURRENT_LIST_DIR}/lib/answer.c)
add_library(qd_os_testuser SHARED ${CMAKE_CURRENT_LIST_DIR}/lib/user.c)
target_link_libraries(qd_os_testuser PRIVATE qd_os_testlib)
foreach(lib qd_os_testlib qd_os_testuser)
    target_compile_options(${lib} PRIVATE ${QD_WARNINGS})
    if(WIN32)
        target_link_options(${lib} PRIVATE ${QD_STATIC_RUNTIME})
    endif()
endforeach()
set_target_properties(qd_os_testlib PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${qd_os_lib_dir}/hidden RUNTIME_OUTPUT_DIRECTORY ${qd_os_lib_dir}/hidden)
set_target_properties(qd_os_testuser PROPERTIES SKIP_BUILD_RPATH ON
    LIBRARY_OUTPUT_DIRECTORY ${qd_os_lib_dir} RUNTIME_OUTPUT_DIRECTORY ${qd_os_lib_dir})
add_dependencies(${TEST_TARGET} qd_os_testlib qd_os_testuser)
target_compile_definitions(${TEST_TARGET} PRIVATE
    QD_OS_TESTLIB="$<TARGET_FILE:qd_os_testlib>" QD_OS_TESTUSER="$<TARGET_FILE:qd_os_testuser>")
