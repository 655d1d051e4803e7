# The fuzz targets. Read by the fuzz build, which compiles each piece once
# and links each target from its pieces, and by the native build, which runs
# each target as a ctest smoke run over tests/fuzz/corpus/<name>/.
#
# qd_fuzz_piece(name sources of the tree... [EXCLUDE sources...]): a source
# belongs to the first piece that names it.
qd_fuzz_piece(stub tests/fuzz/fuzz_log_stub.cpp)
qd_fuzz_piece(framestubs tests/fuzz/fuzz_frame_stubs.cpp)
# The frame receiver and builder that the driver and the loader share.
qd_fuzz_piece(frame link/frame_codec.cpp)
qd_fuzz_piece(os os/*.cpp os/posix/*.cpp)
qd_fuzz_piece(link link/*.cpp link/posix/*.cpp)
qd_fuzz_piece(sim sim/*.cpp)
qd_fuzz_piece(codec API/driver/protocol/codec.cpp)
# The contexts and the parameter tree without the engine.
qd_fuzz_piece(params API/driver/frame/storage.cpp API/driver/frame/contexts.cpp
    API/driver/frame/calllog.cpp API/driver/params/*.cpp)
qd_fuzz_piece(settingsfile API/driver/ui/settingsfile.cpp)
# The rest of the driver (its log writer replaced by the stub).
qd_fuzz_piece(driver API/driver/**.cpp EXCLUDE API/driver/frame/log.cpp)
qd_fuzz_piece(firmware Upgrade/firmware.cpp Upgrade/output.cpp)
qd_fuzz_piece(loader Upgrade/*.cpp)

# The operating-system layer, the link library and the simulator.
set(QD_FUZZ_LINKS os frame link sim)
# The whole driver over them.
set(QD_FUZZ_DRIVER stub codec params settingsfile driver ${QD_FUZZ_LINKS})

# Message receiver and validation with arbitrary byte streams.
qd_fuzz_target(codec stub frame codec)

# The whole driver on a simulated transceiver whose device side is the fuzz
# input: arbitrary device byte streams through the Halvex state machine, the
# sample stream and the reconnection path.
qd_fuzz_target(engine ${QD_FUZZ_DRIVER})

# Storage blobs of any size and content into fresh contexts and context -1.
qd_fuzz_target(storage stub framestubs params os)

# The firmware loader: any file through the firmware file check.
qd_fuzz_target(firmware firmware os)

# The loader's command line and upgrade.cfg through the tokenizer and the
# argument walk, and any text as a user message.
qd_fuzz_target(args firmware loader ${QD_FUZZ_LINKS})

# Any device byte stream through the loader's update run, over a simulated
# USB transceiver.
qd_fuzz_target(update firmware loader ${QD_FUZZ_LINKS})

# Values and flow-control messages of a Bluetooth LE device through the
# link's value-changed callback, the ring and the engine.
qd_fuzz_target(ble ${QD_FUZZ_DRIVER})

# The IrDA stack's answers (device list, IAS query result) through the open.
qd_fuzz_target(irda ${QD_FUZZ_LINKS})

# The recorder's time-limit parser and output name.
qd_fuzz_target(timelimit ${QD_FUZZ_DRIVER})

# Any file through the settings-file import and load.
qd_fuzz_target(settings stub framestubs settingsfile params os)

# The Linux socket table of the link library is BlueZ's (the native build
# only makes a test of the name).
foreach(name engine args update ble irda timelimit)
    if(TARGET fuzz_${name})
        target_link_libraries(fuzz_${name} PRIVATE bluetooth)
    endif()
endforeach()
