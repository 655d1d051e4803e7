# The Bluetooth tests on the real Linux stack, in the Bluetooth test machine
# (scripts/btvm): one machine start (native.btvm.machine, the fixture) runs
# every case, then each case's result is its own test. Label "btvm".
if(WIN32 OR NOT TARGET qvbtdevice OR NOT TARGET qdacq OR NOT TARGET kestrel)
    return()
endif()
set(qd_btvm ${QD_ROOT}/scripts/btvm/ctest-btvm.sh)
add_test(NAME ${QD_BUILD_NAME}.btvm.machine COMMAND sh ${qd_btvm} run)
set_tests_properties(${QD_BUILD_NAME}.btvm.machine PROPERTIES
    FIXTURES_SETUP btvm LABELS btvm SKIP_RETURN_CODE 77 TIMEOUT 1200 RUN_SERIAL ON
    ENVIRONMENT QD_BTVM_BUILD=${CMAKE_BINARY_DIR})
foreach(case bt-find bt-heavy bt-restart bt-upload bt-drop bt-power bt-vanish bt-nochannel
        ble-find ble-heavy ble-restart ble-power ble-drop ble-vanish-connect ble-vanish-notify ble-gatt-missing
        ble-gatt-flags)
    add_test(NAME ${QD_BUILD_NAME}.btvm.${case} COMMAND sh ${qd_btvm} check ${case})
    set_tests_properties(${QD_BUILD_NAME}.btvm.${case} PROPERTIES
        FIXTURES_REQUIRED btvm LABELS btvm SKIP_RETURN_CODE 77 TIMEOUT 60
        ENVIRONMENT QD_BTVM_BUILD=${CMAKE_BINARY_DIR})
endforeach()
