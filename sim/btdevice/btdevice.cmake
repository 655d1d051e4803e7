# qvbtdevice: the simulator's devices over the machine's real Bluetooth stack
# (the test machine of scripts/btvm runs it on its second controller).
if(QD_PLATFORM STREQUAL "posix")
    add_executable(qvbtdevice ${QD_ROOT}/sim/btdevice/btdevice.cpp)
    qd_target_defaults(qvbtdevice)
    target_link_libraries(qvbtdevice PRIVATE qdsim qd_upgrade)
endif()
