# The tsan preset: every target compiled with -fsanitize=thread (see
# QdSources.cmake); the build preset builds what its two tests need.
#
#   tsan.ble-stress  the Bluetooth LE link's ring and credit under a
#                    producer and a consumer thread (tests/link/ble_stress_test.cpp
#                    with the link library, the simulator and the OS layer),
#                    and the Linux D2XX library's read-ahead under its reader
#                    and a consumer (tests/link/ftdi_reader_stress_test.cpp)
#   tsan.stress      the shipped driver library with the simulator library
#                    under qdsoak --stress: ten contexts of every link kind,
#                    host threads querying all of them while the engine
#                    thread measures, stop/start cycles during connections
#                    and reconnections, racing starts and stops, a blocking
#                    callback, a close during the measurement
#   tsan.soak        the same fleet for 30 s with a fault of the simulator
#                    every 3 s per context on average: reconnections, ends
#                    and restarts, Bluetooth LE credit faults
#
# A report of ThreadSanitizer fails the test (halt_on_error). The
# suppressions (tests/tsan.supp) cover code that is not ours only.

find_package(GTest REQUIRED)
add_executable(test_ble_tsan
    ${QD_ROOT}/tests/link/ble_stress_test.cpp ${QD_ROOT}/tests/link/ftdi_reader_stress_test.cpp
    ${QD_ROOT}/link/ftdi/ftdi_core.cpp ${QD_ROOT}/tests/link/tsan/tsan_main.cpp ${QD_LINK_OBJECTS})
qd_target_defaults(test_ble_tsan)
target_link_libraries(test_ble_tsan PRIVATE qdsim qd_os GTest::gtest ${QD_SYSTEM_LIBS} ${QD_LINK_LIBS})
enable_testing()
set(QD_TSAN_OPTIONS "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=${QD_ROOT}/tests/tsan.supp")
add_test(NAME tsan.ble-stress COMMAND test_ble_tsan)
set_tests_properties(tsan.ble-stress PROPERTIES TIMEOUT 120 ENVIRONMENT "${QD_TSAN_OPTIONS}")
set(qd_tsan_libraries --driver $<TARGET_FILE:QuorvaneDrv> --sim-library $<TARGET_FILE:qd_ftd2xx_sim>)
add_test(NAME tsan.stress
         COMMAND qdsoak --stress --cycles 100 ${qd_tsan_libraries} --shared-dir ${CMAKE_BINARY_DIR}/stress-shared)
add_test(NAME tsan.soak
         COMMAND qdsoak --seconds 30 --interval 10 --fault-every 3 ${qd_tsan_libraries}
                 --shared-dir ${CMAKE_BINARY_DIR}/soak-shared)
set_tests_properties(tsan.stress tsan.soak PROPERTIES TIMEOUT 400 ENVIRONMENT "${QD_TSAN_OPTIONS}")
