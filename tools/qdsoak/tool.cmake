# qdsoak loads the driver and the simulator the way qdacq does and shares
# qdacq's simulator binding and parameter settings. The word for what the
# process holds open: file descriptors on Linux, handles on Windows.
target_sources(${TOOL} PRIVATE ${QD_ROOT}/tools/qdacq/sim_api.cpp ${QD_ROOT}/tools/qdacq/settings.cpp)
add_dependencies(${TOOL} QuorvaneDrv qd_ftd2xx_sim qd_bleapis_sim)
if(WIN32)
    target_compile_definitions(${TOOL} PRIVATE QD_HANDLE_WORD="handles")
else()
    target_compile_definitions(${TOOL} PRIVATE QD_HANDLE_WORD="fds")
endif()

# Its runs in ctest (natively and in the 64-bit Windows build under Wine;
# the 32-bit build, whose tests may run under full emulation, leaves them
# out): the soak for 60 seconds with a line every 10 seconds, and 1,000
# open/measure/close cycles of each link kind. Each keeps its driver log in
# build/<preset>/<run>/. The tsan preset runs --stress (cmake/QdTsan.cmake).
function(qd_qdsoak_tests)
    if(NOT QD_TESTS OR QD_BITS EQUAL 32)
        return()
    endif()
    set(libraries --driver $<TARGET_FILE:QuorvaneDrv> --sim-library $<TARGET_FILE:qd_ftd2xx_sim>)
    add_test(NAME ${QD_BUILD_NAME}.soak
             COMMAND qdsoak --seconds 60 --interval 10 ${libraries} --shared-dir ${CMAKE_BINARY_DIR}/soak)
    add_test(NAME ${QD_BUILD_NAME}.cycles
             COMMAND qdsoak --cycles 1000 ${libraries} --shared-dir ${CMAKE_BINARY_DIR}/cycles)
    set_tests_properties(${QD_BUILD_NAME}.soak PROPERTIES TIMEOUT 180)
    set_tests_properties(${QD_BUILD_NAME}.cycles PROPERTIES TIMEOUT 300)
    # A seed beyond 32 bits is refused, not wrapped.
    add_test(NAME ${QD_BUILD_NAME}.qdsoak-arguments COMMAND qdsoak --seed 1e20 ${libraries})
    set_tests_properties(${QD_BUILD_NAME}.qdsoak-arguments PROPERTIES TIMEOUT 60
                         PASS_REGULAR_EXPRESSION "--seed needs a seed .* not \"1e20\"")
endfunction()
cmake_language(DEFER CALL qd_qdsoak_tests)
