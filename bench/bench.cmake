# Benchmarks: programs that print figures and never fail on a slow machine.
# qdbench links the driver core and the simulated transceivers into one
# process (the optimised objects of the shipped library, not the sanitizer
# build of the tests). "make bench" runs it and bench/callgrind.sh; ctest
# runs it once with tiny sizes to prove that it works (<build>.bench-smoke).

file(GLOB QD_BENCH_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/bench/*.cpp)
add_executable(qdbench ${QD_BENCH_SOURCES} $<TARGET_OBJECTS:qd_core_obj> ${QD_LINK_OBJECTS})
qd_target_defaults(qdbench)
target_compile_definitions(qdbench PRIVATE QD_BUILDING_DRIVER)
target_link_libraries(qdbench PRIVATE qdsim qd_os ${QD_SYSTEM_LIBS} ${QD_LINK_LIBS})
set_target_properties(qdbench PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
if(WIN32)
    target_link_options(qdbench PRIVATE ${QD_STATIC_RUNTIME})
else()
    add_test(NAME ${QD_BUILD_NAME}.bench-smoke
             COMMAND qdbench all --samples 200000 --seconds 0.5 --devices 3 --runs 3)
    set_tests_properties(${QD_BUILD_NAME}.bench-smoke PROPERTIES TIMEOUT 120
                         PASS_REGULAR_EXPRESSION "figure: driver_percent")
endif()

# Benchmarks of single parts: every folder bench/<name>/ becomes one program
# bench_<name> built from its *.cpp files with the OS layer; a folder that
# needs more adds a bench.cmake beside its sources, included with BENCH
# naming the target. ctest runs each once with tiny sizes (<build>.bench-<name>).
file(GLOB QD_BENCH_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${QD_ROOT}/bench/*)
foreach(dir ${QD_BENCH_DIRS})
    if(NOT IS_DIRECTORY ${dir})
        continue()
    endif()
    get_filename_component(name ${dir} NAME)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(NOT sources)
        continue()
    endif()
    set(BENCH bench_${name})
    add_executable(${BENCH} ${sources})
    qd_target_defaults(${BENCH})
    target_link_libraries(${BENCH} PRIVATE qd_os)
    set_target_properties(${BENCH} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
    if(WIN32)
        target_link_options(${BENCH} PRIVATE ${QD_STATIC_RUNTIME})
    endif()
    include(${dir}/bench.cmake OPTIONAL)
endforeach()
