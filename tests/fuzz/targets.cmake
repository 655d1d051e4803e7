# The fuzz targets: qd_fuzz_target(name sources of the tree...). Read by the
# fuzz build (which compiles them) and by the native build (which runs each
# as a ctest smoke run over tests/fuzz/corpus/<name>/).

# Message receiver and validation with arbitrary byte streams.
qd_fuzz_target(codec
    tests/fuzz/fuzz_log_stub.cpp
    API/driver/protocol/codec.cpp)

# Storage blobs of any size and content into fresh contexts and context -1.
qd_fuzz_target(storage
    tests/fuzz/fuzz_log_stub.cpp
    tests/fuzz/fuzz_frame_stubs.cpp
    API/driver/frame/storage.cpp
    API/driver/frame/contexts.cpp
    API/driver/params/mains.cpp
    API/driver/params/mapping.cpp
    API/driver/params/models.cpp
    API/driver/params/paramapi.cpp
    API/driver/params/paramdefs.cpp
    API/driver/params/paramtext.cpp
    API/driver/params/spine.cpp
    API/driver/params/tables_brev.cpp
    API/driver/params/tables_firstgen.cpp
    API/driver/params/tables_general.cpp
    API/driver/params/tables_halvex.cpp
    API/driver/params/tables_halvexplus.cpp
    os/os_common.cpp
    os/posix/os_posix.cpp
    os/posix/os_posix_process.cpp
    os/posix/os_posix_settings.cpp
    os/posix/os_posix_thread.cpp)
