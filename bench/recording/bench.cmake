# The writer is portable code over the OS layer: the benchmark compiles it
# alone, without the driver.
target_sources(${BENCH} PRIVATE ${QD_ROOT}/API/driver/ui/recording.cpp ${QD_ROOT}/API/driver/ui/clockmodel.cpp)
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.bench-recording COMMAND ${BENCH} --samples 100000)
    set_tests_properties(${QD_BUILD_NAME}.bench-recording PROPERTIES TIMEOUT 120
                         PASS_REGULAR_EXPRESSION "TSV, 2000 [^\n]*samples/s")
endif()
