# The tsan preset: the stress test of the Bluetooth LE link's ring and credit
# (tests/link/ble_stress_test.cpp), compiled with the link library, the
# simulator and the OS layer under ThreadSanitizer, as the one test of this
# build (tsan.ble-stress). Nothing else of the tree is built here.

find_package(GTest REQUIRED)
file(GLOB QD_TSAN_SIM_SOURCES CONFIGURE_DEPENDS ${QD_ROOT}/sim/*.cpp ${QD_ROOT}/sim/${QD_PLATFORM}/*.cpp)
add_executable(test_ble_tsan
    ${QD_ROOT}/tests/link/ble_stress_test.cpp ${QD_ROOT}/tests/link/tsan/tsan_main.cpp
    ${QD_OS_SOURCES} ${QD_LINK_SOURCES} ${QD_TSAN_SIM_SOURCES})
qd_target_defaults(test_ble_tsan)
target_compile_options(test_ble_tsan PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
target_link_options(test_ble_tsan PRIVATE -fsanitize=thread)
target_link_libraries(test_ble_tsan PRIVATE GTest::gtest ${QD_SYSTEM_LIBS} ${QD_LINK_LIBS})
enable_testing()
add_test(NAME tsan.ble-stress COMMAND test_ble_tsan)
set_tests_properties(tsan.ble-stress PROPERTIES TIMEOUT 120 ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1")
