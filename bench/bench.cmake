# Benchmarks: every folder bench/<name>/ becomes one program bench_<name>
# built from its *.cpp files into build/<preset>/bench/. They print figures
# and are not run by ctest. A folder that needs more adds a bench.cmake
# beside its sources, included with BENCH naming the target.
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
