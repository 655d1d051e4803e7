# qdacq.cmake - runs qdacq as a user would and checks what it says and writes.
# Called by ctest with -DSTEP=csv|ble|summary|refusals|faults|indicators|nosim|radio, -DEMULATOR
# (empty natively, the Wine runner for Windows programs), -DQDACQ, -DHOST
# (the e2e host, for the CSV check), -DSIM (the simulator library), -DOUT
# (a folder of its own) and -DWINDOWS. A program the runner cannot execute
# (32-bit code on a machine without it) makes the test print "SKIP:".

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})

include(${CMAKE_CURRENT_LIST_DIR}/../support/qdacq_run.cmake)

set(sim --simulate --model "Quorvane Halvex-4 USB" --set "Channel enable=1")
set(mixed --set "Sample rate:0=250" --set "Sample rate:1=500" --set "Sample rate:2=125" --set "Sample rate:3=1000")

if(STEP STREQUAL "csv")
    # Unfiltered channels at mixed rates into a CSV file, checked value by
    # value against the simulator's signals and the EDF mapping.
    run(csv 0 ${sim} --set "Measurement range=6000" --set "Lower limit frequency=0" ${mixed}
        --seconds 2 --csv ${OUT}/samples.csv)
    expect(csv "samples written to")
    expect(csv ", 0 lost (0 gaps), stop state: idle")
    execute_process(COMMAND ${EMULATOR} ${HOST} --sim ${SIM} --check-csv ${OUT}/samples.csv
                            --model "Quorvane Halvex-4 USB" --rates 250,500,125,1000 --range 6000
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("---- CSV check\n${out}${err}---- exit ${rc}")
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the CSV file does not hold the simulated samples")
    endif()
    if(NOT WINDOWS AND EXISTS /dev/full)
        # A full disk: every write fails, and so does the close.
        run(full 5 ${sim} --seconds 1 --csv /dev/full)
        expect(full "the CSV file /dev/full could not be written in full")
        execute_process(COMMAND ${QDACQ} --shared-dir ${OUT}/shared --list OUTPUT_FILE /dev/full
                        RESULT_VARIABLE rc ERROR_VARIABLE err)
        if(NOT rc EQUAL 5 OR NOT err MATCHES "standard output could not be written")
            message(FATAL_ERROR "qdacq --list into a full disk: exit ${rc}, ${err}")
        endif()
    endif()
elseif(STEP STREQUAL "ble")
    # Bluetooth LE models through the simulator's stand-in: a Halvex-4 BLE at
    # mixed rates into a CSV file checked value by value, and a Halvex+ 4 BLE
    # with every channel on.
    set(ble --simulate --model "Quorvane Halvex-4 BLE" --set "Channel enable=1")
    run(ble 0 ${ble} --set "Measurement range=6000" --set "Lower limit frequency=0" ${mixed}
        --seconds 2 --csv ${OUT}/ble.csv)
    expect(ble "simulator: Bluetooth LE stand-in")
    expect(ble "(0) link: connected (1)")
    expect(ble ", 0 lost (0 gaps), stop state: idle")
    execute_process(COMMAND ${EMULATOR} ${HOST} --sim ${SIM} --check-csv ${OUT}/ble.csv
                            --model "Quorvane Halvex-4 BLE" --rates 250,500,125,1000 --range 6000
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("---- CSV check\n${out}${err}---- exit ${rc}")
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the CSV file of the BLE device does not hold the simulated samples")
    endif()
    run(plus 0 --simulate --model "Quorvane Halvex+ 4 BLE" --set "Channel enable=1" --seconds 1.5)
    expect(plus "| E ")
    expect(plus ", 0 lost (0 gaps), stop state: idle")
elseif(STEP STREQUAL "summary")
    # Summary lines, polled by qdacq itself, and a test measurement.
    run(poll 0 ${sim} ${mixed} --seconds 2.5 --poll)
    expect(poll "qdacq polls the engine")
    expect(poll "[  1 s] A ")
    expect(poll "[  2 s] A ")
    expect(poll "| lost 0")
    expect(poll "(0) link: connected (1)")
    expect(poll "stop state: idle (QdStopMeasurement 1, QdComState 0")
    run(test 0 ${sim} --test --seconds 1.5)
    expect(test "test measurement started")
    expect(test ", 0 lost (0 gaps), stop state: idle")
elseif(STEP STREQUAL "refusals")
    run(model 2 --simulate --model "Quorvane Halvex-4 usb")
    expect(model "QdOpenDevContext -2 (no such device model)")
    expect(model "driver log: !}QdOpenDevContext: Device not found")
    expect(model "Quorvane Halvex+ 4 USB")
    run(rate 2 ${sim} --set "Sample rate:0=251")
    expect(rate "QdStr2Param result 2")
    expect(rate "valid values: one of: 62.5, 125, 250, 500, 1000, 2000")
    run(label 2 ${sim} --set "Channel label:B=a label far too long")
    expect(label "driver log: !QdSetParam: Value outside parameter's domain")
    expect(label "a text of at most 15 characters")
    run(name 2 ${sim} --set "Sampel rate=250")
    expect(name "the model has no parameter \"Sampel rate\"")
    expect(name "Sample rate")
    run(channel 2 ${sim} --set "Sample rate:6=250")
    expect(channel "QdStr2Param result 4")
    # Numbers out of range, NaN and overflow: refused before anything runs.
    foreach(bad "--seconds;nan" "--seconds;1e20" "--seconds;-1" "--sim-amplitude;nan" "--sim-frequency;1e400")
        run(number 2 ${sim} ${bad})
        expect(number "needs a ")
    endforeach()
    run(fault 2 ${sim} --sim-fault silence@1+1e20)
    expect(fault "silence@1+1e20")
elseif(STEP STREQUAL "faults")
    # A lost stop reply: the driver's reply timer ends the measurement.
    run(lost 1 ${sim} --seconds 1 --sim-fault lost-reply=stop)
    expect(lost "error: Device is not responding. Please check, if it's on and connected with USB cable.")
    expect(lost "(0) link: link error (2)")
    # Idle once the reply timer ran out (about 1 s; more on a loaded
    # machine), neither at once nor only at qdacq's own 5-s bound.
    expect_match(lost "stop state: idle \\(QdStopMeasurement 1, QdComState 0 after ([5-9][0-9][0-9]|[1-4][0-9][0-9][0-9]) ms")
    expect(lost "last error: Device is not responding.")
    # The start's reply lost: the driver ends the measurement by itself.
    run(start 1 ${sim} --seconds 3 --sim-fault lost-reply=start)
    expect(start "the driver ended the measurement")
    # A link loss with reconnection: samples of the outage are lost, the
    # measurement goes on.
    run(loss 4 ${sim} --seconds 2.2 --sim-fault link-loss@0.8+300)
    expect(loss "simulator: radio link down")
    expect(loss "(0) link: link error (2)")
    expect(loss "stop state: idle")
    string(REGEX MATCH "total: [0-9]+ samples in [0-9.]+ s, ([0-9]+) lost \\(1 gaps\\)" m "${loss_out}")
    if(NOT m OR CMAKE_MATCH_1 EQUAL 0)
        message(FATAL_ERROR "the link loss did not show as one gap with lost samples")
    endif()
elseif(STEP STREQUAL "indicators")
    # Signal state and battery indicators in words.
    run(ind 0 ${sim} --seconds 1.5 --sim-fault signal@0.5=1:2 --sim-fault battery@0.5=1)
    expect(ind "signal channel B: overflow (2)")
    expect(ind "battery: low (1)")
elseif(STEP STREQUAL "radio")
    # A Bluetooth Halvex found by its name, and the Brev device on IrDA
    # recorded into an EDF file.
    run(bt 0 --simulate --model "Quorvane Halvex-4 BT" --set "Channel enable=1" --seconds 2)
    expect(bt "model: Quorvane Halvex-4 BT (simulated)")
    expect(bt ", 0 lost (0 gaps), stop state: idle")
    run(brev 0 --simulate --model "Quorvane Brev 100" --seconds 3.5 --edf ${OUT}/brev.edf)
    expect(brev "channel 0 (A): 128 sps, range -150 to 150 uV")
    # The seconds count from the program's start, so a slow machine's open
    # takes its share: the file holds every whole second of samples received
    # (128 a record), at least two of them.
    string(REGEX MATCH "EDF, ([0-9]+) data records" m "${brev_out}")
    set(records "${CMAKE_MATCH_1}")
    string(REGEX MATCH "per channel: A ([0-9]+) " m "${brev_out}")
    math(EXPR whole "${CMAKE_MATCH_1} / 128")
    if(NOT records OR records LESS 2 OR NOT records EQUAL whole)
        message(FATAL_ERROR "the EDF file holds ${records} records for ${whole} whole seconds of samples")
    endif()
    expect(brev ", 0 lost (0 gaps), stop state: idle")
elseif(STEP STREQUAL "nosim")
    # The simulator is chosen by --simulate alone.
    run(usage 2 --sim-fault link-loss@1)
    expect(usage "options need --simulate")
    # Without the simulator the driver talks to real transceivers.
    if(WINDOWS)
        # The test prefix has no FTD2XX.dll: the driver cannot load.
        run(nosim 3 --model "Quorvane Halvex-4 USB")
        expect(nosim "needs the FTDI D2XX library FTD2XX.dll")
    else()
        # The libftdi backend loads and finds no transceiver.
        run(nosim 1 --model "Quorvane Halvex-4 USB" --set "Channel enable=1" --seconds 1)
        expect(nosim "the measurement did not start: QdStartMeasurement 1")
        expect(nosim "driver log: !FT_OpenEx: 2")
        expect(nosim "details in the driver log")
    endif()
endif()
