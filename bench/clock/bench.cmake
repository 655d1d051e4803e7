# The clock model is portable code: the benchmark compiles it alone.
target_sources(${BENCH} PRIVATE ${QD_ROOT}/API/driver/ui/clockmodel.cpp)
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.bench-clock COMMAND ${BENCH} --seconds 20)
    set_tests_properties(${QD_BUILD_NAME}.bench-clock PROPERTIES TIMEOUT 120 PASS_REGULAR_EXPRESSION "figure: clock_p99_us")
endif()
