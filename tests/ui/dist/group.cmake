# The Windows deliverables as a person gets them. The test program knows the
# version and this build's driver; <build>.sdk-example-build makes the SDK's
# example from the SDK zip of build/dist (make dist) for the SdkExample case
# of <build>.ui-dist. The installer is a 32-bit program: the 32-bit build
# runs its cases (win32.ui-installer) in a fresh copy of the Wine prefix.
target_compile_definitions(${TEST_TARGET} PRIVATE QD_DIST_VERSION="${PROJECT_VERSION}"
                           QD_DRIVER_DLL="${QD_DRIVER_NAME}.dll")
target_link_libraries(${TEST_TARGET} PRIVATE shell32 advapi32)
add_dependencies(${TEST_TARGET} recorder)

set(qd_dist ${QD_ROOT}/build/dist)
add_test(NAME ${QD_BUILD_NAME}.sdk-example-build
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/sdk-example.sh ${CMAKE_COMMAND} ${CMAKE_C_COMPILER} ${QD_BITS}
                 ${qd_dist}/quorvane-sdk-${PROJECT_VERSION}-win.zip ${CMAKE_BINARY_DIR}/sdk-example
                 $<TARGET_FILE:QuorvaneDrv> $<TARGET_FILE:qd_ftd2xx_sim> ${CMAKE_CURRENT_LIST_DIR}/msvc_probe.c)
set_tests_properties(${QD_BUILD_NAME}.sdk-example-build PROPERTIES LABELS host SKIP_RETURN_CODE 77 TIMEOUT 120)
set_property(TEST ${QD_BUILD_NAME}.ui-dist APPEND PROPERTY DEPENDS ${QD_BUILD_NAME}.sdk-example-build)

if(QD_BITS EQUAL 32)
    add_test(NAME ${QD_BUILD_NAME}.ui-installer
             COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/fresh-prefix.sh $<TARGET_FILE:${TEST_TARGET}>
                     ${qd_dist}/QuorvaneSetup-${PROJECT_VERSION}.exe)
    set_tests_properties(${QD_BUILD_NAME}.ui-installer PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 900 LABELS window RUN_SERIAL TRUE)
endif()
