# The fuzz targets: qd_fuzz_target(name sources of the tree...). Read by the
# fuzz build (which compiles them) and by the native build (which runs each
# as a ctest smoke run over tests/fuzz/corpus/<name>/).

# Message receiver and validation with arbitrary byte streams.
qd_fuzz_target(codec
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/protocol/codec.cpp)

# The whole driver on a simulated transceiver whose device side is the fuzz
# input: arbitrary device byte streams through the Halvex state machine, the
# sample stream and the reconnection path.
qd_fuzz_target(engine
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/**.cpp
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp
    EXCLUDE API/driver/frame/log.cpp)

# Storage blobs of any size and content into fresh contexts and context -1.
qd_fuzz_target(storage
    tests/fuzz/fuzz_log_stub.cpp
    tests/fuzz/fuzz_frame_stubs.cpp
    API/driver/frame/storage.cpp
    API/driver/frame/contexts.cpp
    API/driver/frame/calllog.cpp
    API/driver/params/*.cpp
    os/*.cpp
    os/posix/*.cpp)

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
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp)

# Any device byte stream through the loader's update run, over a simulated
# USB transceiver.
qd_fuzz_target(update
    Upgrade/*.cpp
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp)

# Values and flow-control messages of a Bluetooth LE device through the
# link's value-changed callback, the ring and the engine.
qd_fuzz_target(ble
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/**.cpp
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp
    EXCLUDE API/driver/frame/log.cpp)

# The IrDA stack's answers (device list, IAS query result) through the open.
qd_fuzz_target(irda
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp)

# The recorder's time-limit parser and output name.
qd_fuzz_target(timelimit
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/**.cpp
    os/*.cpp
    os/posix/*.cpp
    link/*.cpp
    link/posix/*.cpp
    sim/*.cpp
    EXCLUDE API/driver/frame/log.cpp)

# Any file through the settings-file import and load.
qd_fuzz_target(settings
    tests/fuzz/fuzz_log_stub.cpp
    tests/fuzz/fuzz_frame_stubs.cpp
    API/driver/ui/settingsfile.cpp
    API/driver/frame/storage.cpp
    API/driver/frame/contexts.cpp
    API/driver/frame/calllog.cpp
    API/driver/params/*.cpp
    os/*.cpp
    os/posix/*.cpp)

# The Linux socket table of the link library is BlueZ's (the native build
# only makes a test of the name).
foreach(name engine args update ble irda timelimit)
    if(TARGET fuzz_${name})
        target_link_libraries(fuzz_${name} PRIVATE bluetooth)
    endif()
endforeach()
