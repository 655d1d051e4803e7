# The fuzz targets: qd_fuzz_target(name sources of the tree...). Read by the
# fuzz build (which compiles them) and by the native build (which runs each
# as a ctest smoke run over tests/fuzz/corpus/<name>/).

# The operating-system layer, the link library and the simulator.
set(QD_FUZZ_LINKS os/*.cpp os/posix/*.cpp link/*.cpp link/posix/*.cpp sim/*.cpp)
# The whole driver over them (its log writer replaced by the stub).
set(QD_FUZZ_DRIVER tests/fuzz/fuzz_log_stub.cpp API/driver/**.cpp ${QD_FUZZ_LINKS}
    EXCLUDE API/driver/frame/log.cpp)
# The contexts and the parameter tree without the engine.
set(QD_FUZZ_PARAMS API/driver/frame/storage.cpp API/driver/frame/contexts.cpp
    API/driver/frame/calllog.cpp API/driver/params/*.cpp os/*.cpp os/posix/*.cpp)

# Message receiver and validation with arbitrary byte streams.
qd_fuzz_target(codec
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/protocol/codec.cpp)

# The whole driver on a simulated transceiver whose device side is the fuzz
# input: arbitrary device byte streams through the Halvex state machine, the
# sample stream and the reconnection path.
qd_fuzz_target(engine
    ${QD_FUZZ_DRIVER})

# Storage blobs of any size and content into fresh contexts and context -1.
qd_fuzz_target(storage
    tests/fuzz/fuzz_log_stub.cpp
    tests/fuzz/fuzz_frame_stubs.cpp
    ${QD_FUZZ_PARAMS})

# The firmware loader: any file through the firmware file check.
qd_fuzz_target(firmware
    Upgrade/firmware.cpp
    Upgrade/output.cpp
    os/*.cpp
    os/posix/*.cpp)

# The loader's command line and upgrade.cfg through the tokenizer and the
# argument walk, and any text as a user message.
qd_fuzz_target(args
    Upgrade/*.cpp
    ${QD_FUZZ_LINKS})

# Any device byte stream through the loader's update run, over a simulated
# USB transceiver.
qd_fuzz_target(update
    Upgrade/*.cpp
    ${QD_FUZZ_LINKS})

# Values and flow-control messages of a Bluetooth LE device through the
# link's value-changed callback, the ring and the engine.
qd_fuzz_target(ble
    ${QD_FUZZ_DRIVER})

# The IrDA stack's answers (device list, IAS query result) through the open.
qd_fuzz_target(irda
    ${QD_FUZZ_LINKS})

# The recorder's time-limit parser and output name.
qd_fuzz_target(timelimit
    ${QD_FUZZ_DRIVER})

# Any file through the settings-file import and load.
qd_fuzz_target(settings
    tests/fuzz/fuzz_log_stub.cpp
    tests/fuzz/fuzz_frame_stubs.cpp
    API/driver/ui/settingsfile.cpp
    ${QD_FUZZ_PARAMS})

# The Linux socket table of the link library is BlueZ's (the native build
# only makes a test of the name).
foreach(name engine args update ble irda timelimit)
    if(TARGET fuzz_${name})
        target_link_libraries(fuzz_${name} PRIVATE bluetooth)
    endif()
endforeach()
