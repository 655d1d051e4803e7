# The Bluetooth LE link through the stand-in BlueZ service, on a D-Bus bus
# of the test's own (Linux only): <build>.link-bluez.
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.link-bluez
             COMMAND sh ${QD_ROOT}/scripts/private-bus.sh $<TARGET_FILE:${TEST_TARGET}> --gtest_filter=BleBluez*)
    set_tests_properties(${QD_BUILD_NAME}.link-bluez PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endif()
# ... and with a bus address that leads nowhere: one clear line.
if(NOT WIN32)
    add_test(NAME ${QD_BUILD_NAME}.link-nobus
             COMMAND env DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/qd-bus QD_PRIVATE_BUS=nobus
                     $<TARGET_FILE:${TEST_TARGET}> --gtest_filter=BleBluezTest.NoBus)
    set_tests_properties(${QD_BUILD_NAME}.link-nobus PROPERTIES TIMEOUT 60)
endif()
