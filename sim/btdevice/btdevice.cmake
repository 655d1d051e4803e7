# qvbtdevice: the simulator's devices over the machine's real Bluetooth stack
# (the test machine of scripts/btvm runs it on its second controller). Its
# Bluetooth LE peripheral talks to bluetoothd with the link's D-Bus helpers.
if(QD_PLATFORM STREQUAL "posix")
    add_executable(qvbtdevice ${QD_ROOT}/sim/btdevice/btdevice.cpp ${QD_ROOT}/sim/btdevice/ble_peripheral.cpp
        ${QD_ROOT}/link/posix/bluez_bus.cpp)
    qd_target_defaults(qvbtdevice)
    target_link_libraries(qvbtdevice PRIVATE qdsim qd_upgrade)
endif()
