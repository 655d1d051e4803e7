# Tests. Every folder tests/<group>/ (but support, fuzz, e2e, hosts, data, ui)
# becomes one GoogleTest program test_<group>, linked with the driver core,
# the in-process device simulator and tests/support. ctest runs each program
# as "<build>.<group>", e.g. native.params, win64.params, win32.params; the
# Windows programs run under Wine through the toolchain's emulator.

# The test programs' own sources (assertions, GoogleTest's macros, the
# benches' set-ups) are compiled at -O1: at the build's -O2 they took nine
# tenths of the native build's compile time, for code whose speed no test
# measures. The driver's sources under test keep the build's own level.
set(QD_TEST_CODE_OPTIONS -O1)

if(WIN32)
    # GoogleTest from the sources Debian's googletest package ships, compiled
    # with the mingw toolchain.
    set(QD_GTEST_SRC /usr/src/googletest)
    add_library(qd_gtest STATIC
        ${QD_GTEST_SRC}/googletest/src/gtest-all.cc
        ${QD_GTEST_SRC}/googlemock/src/gmock-all.cc)
    target_include_directories(qd_gtest SYSTEM PUBLIC
        ${QD_GTEST_SRC}/googletest/include ${QD_GTEST_SRC}/googlemock/include)
    target_include_directories(qd_gtest PRIVATE
        ${QD_GTEST_SRC}/googletest ${QD_GTEST_SRC}/googlemock)
    set(QD_GTEST_LIBS qd_gtest)
    set(QD_TEST_LINK_OPTIONS ${QD_STATIC_RUNTIME})
    # scripts/wine-run.sh starts the tree's Windows programs through this
    # launcher, which it looks for at the top of the build tree.
    add_executable(qd_wine_status ${QD_ROOT}/scripts/wine-status.cpp)
    target_compile_options(qd_wine_status PRIVATE ${QD_WARNINGS})
    target_link_libraries(qd_wine_status PRIVATE shell32)
    target_link_options(qd_wine_status PRIVATE ${QD_STATIC_RUNTIME})
    set_target_properties(qd_wine_status PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
    add_test(NAME ${QD_BUILD_NAME}.wine-status
             COMMAND ${CMAKE_COMMAND} -DRUNNER=${CMAKE_CROSSCOMPILING_EMULATOR} -DPROGRAM=$<TARGET_FILE:qd_wine_status>
                     -P ${QD_ROOT}/tests/support/wine_status.cmake)
    set_tests_properties(${QD_BUILD_NAME}.wine-status PROPERTIES SKIP_REGULAR_EXPRESSION "SKIP: " TIMEOUT 120)
    # The Wine server of a test run: its first program brings it up with its
    # services (scripts/wine-run.sh); this ends it after the last test of
    # the run that needs it. Every test but those that run only host tools
    # (labels host and after-vm: they run here while the 32-bit tests may
    # run in the test machine) needs it.
    add_test(NAME ${QD_BUILD_NAME}.wine-stop COMMAND sh ${QD_ROOT}/scripts/wine-run.sh --stop)
    set_tests_properties(${QD_BUILD_NAME}.wine-stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 120)
    function(qd_wine_fixture)
        get_property(tests DIRECTORY PROPERTY TESTS)
        foreach(test IN LISTS tests)
            get_test_property(${test} LABELS labels)
            if(test STREQUAL ${QD_BUILD_NAME}.wine-stop OR labels MATCHES "host|after-vm")
                continue()
            endif()
            set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED wine)
        endforeach()
    endfunction()
    cmake_language(DEFER CALL qd_wine_fixture)
else()
    find_package(GTest REQUIRED)
    set(QD_GTEST_LIBS GTest::gtest GTest::gmock)
    set(QD_TEST_LINK_OPTIONS "")
endif()

file(GLOB QD_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/tests/support/*.cpp)
add_library(qd_test_support STATIC ${QD_TEST_SUPPORT_SOURCES} ${QD_ROOT}/tests/support/main.cpp)
qd_target_defaults(qd_test_support)
target_compile_options(qd_test_support PRIVATE ${QD_TEST_CODE_OPTIONS})
qd_sanitize(qd_test_support)
target_link_libraries(qd_test_support PUBLIC qd_core_test ${QD_GTEST_LIBS})
if(TARGET qdsim_test)
    target_link_libraries(qd_test_support PUBLIC qdsim_test)
endif()

file(GLOB QD_TEST_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${QD_ROOT}/tests/*)
foreach(dir ${QD_TEST_DIRS})
    if(NOT IS_DIRECTORY ${dir})
        continue()
    endif()
    get_filename_component(group ${dir} NAME)
    if(group MATCHES "^(support|fuzz|e2e|hosts|data|ui)$")
        continue()
    endif()
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
    if(NOT sources)
        continue()
    endif()
    add_executable(test_${group} ${sources})
    qd_target_defaults(test_${group})
    target_compile_options(test_${group} PRIVATE ${QD_TEST_CODE_OPTIONS})
    qd_sanitize(test_${group})
    target_link_libraries(test_${group} PRIVATE qd_test_support)
    # Keep the whole support library so that its test main is linked.
    target_link_options(test_${group} PRIVATE ${QD_TEST_LINK_OPTIONS})
    add_test(NAME ${QD_BUILD_NAME}.${group} COMMAND test_${group})
    set_tests_properties(${QD_BUILD_NAME}.${group} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
    # A group may build helper programs of its own (TEST_TARGET names its
    # test program).
    set(TEST_TARGET test_${group})
    include(${dir}/group.cmake OPTIONAL)
endforeach()

# Each kind known in its table only, the layers looking down only (a grep of
# the sources; once, in the native build).
if(QD_BUILD_NAME STREQUAL "native")
    add_test(NAME native.kinds COMMAND sh ${QD_ROOT}/scripts/check-kinds.sh ${QD_ROOT})
endif()

include(${QD_ROOT}/tests/e2e/e2e.cmake OPTIONAL)
include(${QD_ROOT}/tests/btvm/btvm.cmake OPTIONAL)
include(${QD_ROOT}/tests/fuzz/fuzz.cmake OPTIONAL)
include(${QD_ROOT}/tests/hosts/hosts.cmake OPTIONAL)
include(${QD_ROOT}/tests/ui/ui.cmake OPTIONAL)
include(${QD_ROOT}/python/python.cmake OPTIONAL)
