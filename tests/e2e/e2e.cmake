# End-to-end tests of the shipped libraries: the driver library of this build
# (libQuorvaneDrv.so, QuorvaneDrv64.dll, QuorvaneDrv.dll) loaded by a host
# program together with the simulator library (build/<preset>/sim/), the way
# a host application does. The Windows programs run under Wine; the 32-bit
# ones are skipped (77) on machines that cannot run 32-bit code.
#
#   <build>.e2e.heavy       the heaviest configuration for ten seconds, every
#                           sample checked, stop, idle, engine thread gone
#   <build>.e2e.ble         the same with a Bluetooth LE model through the
#                           simulator's Bluetooth LE stand-in
#   native.e2e.bluez        the same through the stand-in BlueZ service on a
#                           bus of the test's own
#   <build>.e2e.multi       three devices in three contexts at once, with
#                           high-pass filtered channels
#   <build>.e2e.lostreply   a lost reply: the driver's reply timer and message
#   <build>.e2e.linkloss    a link loss with reconnection
#   <build>.e2e.bluetooth   a Bluetooth Halvex found by name, every sample
#   <build>.e2e.brev        the Brev device on IrDA, every sample
#   <build>.e2e.qdacq-*     qdacq: CSV values, summaries, refusals, faults,
#                           and what happens without the simulator
#   <build>.e2e.compare     (Windows builds) the sample digests and driver
#                           logs of this build equal those of the native build

if(NOT TARGET QuorvaneDrv OR NOT TARGET qd_ftd2xx_sim OR NOT TARGET qdacq)
    return()
endif()

add_executable(qd_e2e_host
    ${QD_ROOT}/tests/e2e/e2e_host.cpp
    ${QD_ROOT}/tools/qdacq/sim_api.cpp
    ${QD_ROOT}/tools/qdacq/settings.cpp
    ${QD_ROOT}/tools/qdacq/stream.cpp ${QD_ROOT}/API/driver/ui/clockmodel.cpp)
qd_target_defaults(qd_e2e_host)
target_link_libraries(qd_e2e_host PRIVATE qd_tools_common ${QD_SYSTEM_LIBS})
if(WIN32)
    target_link_options(qd_e2e_host PRIVATE ${QD_STATIC_RUNTIME})
endif()
add_dependencies(qd_e2e_host QuorvaneDrv qd_ftd2xx_sim qd_bleapis_sim qdacq)

set(QD_E2E_OUT ${CMAKE_BINARY_DIR}/e2e)
set(qd_e2e_tests)
foreach(scenario heavy ble multi lostreply linkloss bluetooth brev)
    add_test(NAME ${QD_BUILD_NAME}.e2e.${scenario}
             COMMAND qd_e2e_host --sim $<TARGET_FILE:qd_ftd2xx_sim> --driver $<TARGET_FILE:QuorvaneDrv>
                     --out ${QD_E2E_OUT}/${scenario} ${scenario})
    set_tests_properties(${QD_BUILD_NAME}.e2e.${scenario} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
    list(APPEND qd_e2e_tests ${QD_BUILD_NAME}.e2e.${scenario})
endforeach()
# Linux: the same Bluetooth LE device through the stand-in BlueZ service on a
# bus of the test's own.
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.e2e.bluez
             COMMAND sh ${QD_ROOT}/scripts/private-bus.sh $<TARGET_FILE:qd_e2e_host> --sim $<TARGET_FILE:qd_ftd2xx_sim>
                     --driver $<TARGET_FILE:QuorvaneDrv> --out ${QD_E2E_OUT}/bluez bluez)
    set_tests_properties(${QD_BUILD_NAME}.e2e.bluez PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()

foreach(step csv ble summary refusals faults indicators nosim radio)
    add_test(NAME ${QD_BUILD_NAME}.e2e.qdacq-${step}
             COMMAND ${CMAKE_COMMAND}
                     -DSTEP=${step}
                     -DEMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DQDACQ=$<TARGET_FILE:qdacq>
                     -DHOST=$<TARGET_FILE:qd_e2e_host>
                     -DSIM=$<TARGET_FILE:qd_ftd2xx_sim>
                     -DOUT=${QD_E2E_OUT}/qdacq-${step}
                     -DWINDOWS=${WIN32}
                     -P ${QD_ROOT}/tests/e2e/qdacq.cmake)
    set_tests_properties(${QD_BUILD_NAME}.e2e.qdacq-${step} PROPERTIES
        SKIP_REGULAR_EXPRESSION "SKIP: " TIMEOUT 120)
endforeach()

# The Windows builds compare their results with the native build's (run
# first by "make test"); results older than this build's driver are stale.
if(WIN32)
    get_filename_component(qd_builds ${CMAKE_BINARY_DIR} DIRECTORY)
    add_test(NAME ${QD_BUILD_NAME}.e2e.compare
             COMMAND sh ${QD_ROOT}/tests/e2e/compare.sh ${qd_builds} ${QD_BUILD_NAME} $<TARGET_FILE:QuorvaneDrv>)
    # Where the 32-bit tests run in the test machine, beside the other
    # builds' tests, the comparison runs on this machine after all of them
    # (label after-vm, scripts/vm32/ctest-win32.sh).
    set_tests_properties(${QD_BUILD_NAME}.e2e.compare PROPERTIES
        SKIP_RETURN_CODE 77 TIMEOUT 60 DEPENDS "${qd_e2e_tests}" LABELS after-vm)
endif()

# The same libraries through libftdi1 and libusb against the emulated FTDI
# transceiver (Linux, with umockdev).
include(${QD_ROOT}/tests/e2e/usb_bed.cmake)
