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
# The Linux socket table of the link library is BlueZ's (the native build
# only makes a test of the name).
if(TARGET fuzz_engine)
    target_link_libraries(fuzz_engine PRIVATE bluetooth)
endif()

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
