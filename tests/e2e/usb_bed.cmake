# usb_bed.cmake - qdacq and kestrel with the shipped libQuorvaneDrv.so and
# libqvftd2xx.so, through Debian's libftdi1 and libusb, against the emulated
# FTDI transceiver (sim/umockdev_ftdi); the steps are listed in the README.
# Included by tests/e2e/e2e.cmake; run by ctest as a script with -DSTEP.

if(NOT CMAKE_SCRIPT_MODE_FILE)
    if(WIN32 OR NOT TARGET ftdi_bed OR NOT TARGET kestrel)
        return()
    endif()
    foreach(step heavy4 heavy unplug again kestrel access faults start sixteen)
        add_test(NAME ${QD_BUILD_NAME}.e2e.usb-${step}
                 COMMAND ${CMAKE_COMMAND} -DSTEP=${step} -DWRAPPER=${QD_UMOCKDEV_WRAPPER}
                         -DBED=$<TARGET_FILE:ftdi_bed> -DQDACQ=$<TARGET_FILE:qdacq> -DKESTREL=$<TARGET_FILE:kestrel>
                         -DLINKOPEN=$<TARGET_FILE:linkopen> -DD2XX=$<TARGET_FILE:qd_d2xx> -DOUT=${QD_E2E_OUT}/usb-${step}
                         -P ${CMAKE_CURRENT_LIST_FILE})
        set_tests_properties(${QD_BUILD_NAME}.e2e.usb-${step} PROPERTIES TIMEOUT 120 LABELS usb)
    endforeach()
    # Sixteen transceivers, each with a reader thread and its transfers, on
    # a machine of two cores that may be busy with other builds.
    set_tests_properties(${QD_BUILD_NAME}.e2e.usb-sixteen PROPERTIES TIMEOUT 900)
    add_dependencies(qd_e2e_host ftdi_bed kestrel linkopen)
    return()
endif()

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
include(${CMAKE_CURRENT_LIST_DIR}/../support/qdacq_run.cmake)

# bed(<name> <expected exit> <bed options>... -- <program> args...): runs a
# program in the bed and keeps its output in ${name}_out. The expected exit
# may name several ("1|65").
function(bed name expect)
    execute_process(COMMAND ${WRAPPER} ${BED} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    message("---- ftdi_bed ${ARGN}\n${out}${err}---- exit ${rc}")
    if(NOT rc MATCHES "^(${expect})$")
        message(FATAL_ERROR "the bed exited with ${rc}, expected ${expect}")
    endif()
    set(${name}_out "${out}${err}" PARENT_SCOPE)
endfunction()

set(qdacq ${QDACQ} --shared-dir ${OUT}/shared)
set(usb4 --model "Quorvane Halvex-4 USB" --set "Channel enable=1" --set "Measurement range=6000"
         --set "Lower limit frequency=0")
set(log ${OUT}/shared/Quorvane/QuorvaneDrv.log)

if(STEP STREQUAL "heavy4" OR STEP STREQUAL "heavy")
    if(STEP STREQUAL "heavy4")
        set(model "Quorvane Halvex-4 USB")
        set(args ${usb4} --set "Sample rate=2000")
        set(ranges 6000)
    else()
        set(model "Quorvane Halvex+ 4 USB")
        set(args --model ${model} --set "Channel enable=1" --set "Sample rate:4=250")
        foreach(c 0 1 2 3)
            list(APPEND args --set "Channel function:${c}=Voltage" --set "Measurement range:${c}=6000"
                             --set "Lower limit frequency:${c}=0" --set "Sample rate:${c}=2000")
        endforeach()
        set(ranges 6000,6000,6000,6000,2)
    endif()
    bed(run 0 --model ${model} --stats --check-csv ${OUT}/samples.csv --range ${ranges}
        -- ${qdacq} ${args} --seconds 10 --csv ${OUT}/samples.csv)
    expect(run "(0) link: connected (1)")
    expect(run ", 0 lost (0 gaps), stop state: idle")
    expect(run "differ from what the device sent, 0 sent samples up to tick")
    expect(run ", 0 differ")
    expect(run "latency timer 2 ms")
    # The library under test runs on Debian's libftdi1 and libusb.
    execute_process(COMMAND ldd ${D2XX} OUTPUT_VARIABLE deps)
    message("---- ldd ${D2XX}\n${deps}")
    foreach(lib "libftdi1.so.2 => /lib/" "libusb-1.0.so.0 => /lib/")
        string(FIND "${deps}" "${lib}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "${D2XX} does not use Debian's ${lib}")
        endif()
    endforeach()
elseif(STEP STREQUAL "unplug")
    # Pulled out mid-transfer for 2 s: the driver's link-lost path, and every
    # sample up to the last one delivered is there and right.
    bed(run 1 --fault unplug@1.5+2000 --check-csv ${OUT}/samples.csv --range 6000
        -- ${qdacq} ${usb4} --set "Sample rate=1000" --seconds 8 --csv ${OUT}/samples.csv)
    expect(run "transceiver pulled out")
    expect(run "(0) error: Link lost.")
    # How soon the program learned of the unplug is a printed figure.
    expect(run "figure: usb_unplug_seen_ms")
    expect(run ", 0 differ from what the device sent, 0 sent samples up to tick")
    file(READ ${log} text)
    string(FIND "${text}" "!libqvftd2xx: QV012345: the transceiver is gone (unplugged)" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the driver log does not say that the transceiver is gone")
    endif()
elseif(STEP STREQUAL "again")
    # Two measurements on the same device, one after the other; then the
    # device search finds the transceiver by its serial number.
    bed(run 0 -- sh -c "\"$0\" \"$@\" --seconds 1.5 && \"$0\" \"$@\" --seconds 1.5" ${qdacq} ${usb4})
    string(REGEX MATCHALL ", 0 lost \\(0 gaps\\), stop state: idle" idle "${run_out}")
    list(LENGTH idle n)
    if(NOT n EQUAL 2)
        message(FATAL_ERROR "expected two clean measurements, got ${n}")
    endif()
    bed(find 0 -- ${qdacq} --model "Quorvane Halvex-4 USB" --find QV012345)
    expect(find "found: Quorvane Halvex-4 USB, serial number QV070001, opened as QV012345")
elseif(STEP STREQUAL "kestrel")
    bed(run 0 --firmware ${OUT}/firmware.bin
        -- ${CMAKE_COMMAND} -E env ALLUSERSPROFILE=${OUT}/shared ${KESTREL} ${OUT}/firmware.bin L=usb A=QV012345)
    expect(run "Firmware updated succesfully.")
elseif(STEP STREQUAL "access")
    # The node exists, the user may not open it: one line naming the rule,
    # a start that fails cleanly, in qdacq and in kestrel.
    set(line "libqvftd2xx: no permission to open the USB transceiver QV012345 at /dev/bus/usb/001/002: install the udev rule 70-quorvane.rules")
    foreach(id QV012345 "Quorvane Halvex*")
        bed(run 1 --unreadable -- ${qdacq} ${usb4} --set "Device id=${id}" --seconds 2)
        expect(run "QdStartMeasurement 1")
        expect(run "driver log: !${line}")
    endforeach()
    bed(kestrel 1 --unreadable
        -- ${CMAKE_COMMAND} -E env ALLUSERSPROFILE=${OUT}/shared ${KESTREL} --check L=usb A=QV012345)
    expect(kestrel "${line}")
elseif(STEP STREQUAL "faults")
    # Each read-side fault ends in its line and the link-lost path, with the
    # samples delivered before it intact.
    # Packets of status bytes only are what an idle chip sends, and a chip
    # whose bulk-in transfers stop completing sends nothing: the driver's
    # data watchdog ends either, with its own line.
    # A packet flagged with a line error is passed on and the measurement goes
    # on to its end: with its data intact (framing) nothing is lost; an
    # overrun that took a whole message costs that message, counted as lost
    # (qdacq then exits 4).
    # Bytes lost inside a message (overrun) garble it: the protocol rejects
    # it, which ends the measurement by the protocol's rule, or takes what
    # is left of it (the bed's check then fails, 65); where the bytes lost
    # held a length, the receiver skips what the garbled length announced
    # and the measurement goes on, with those samples counted as lost (65
    # too). Which one depends on where in the stream the packet falls.
    # Entries: fault=exit of the bed=log line.
    foreach(fault "short@1=1=!libqvftd2xx: QV012345: a bulk-in packet shorter than its two status bytes"
                  "status-only@1=1=!Link error"
                  "overrun@1=1|65=!libqvftd2xx: QV012345: receive line error, line status 0x62"
                  "lost-message@1=4=!libqvftd2xx: QV012345: receive line error, line status 0x62"
                  "framing@1=0=!libqvftd2xx: QV012345: receive line error, line status 0x68"
                  "stuck@1=1=!Link error")
        string(REGEX REPLACE "=.*" "" kind "${fault}")
        string(REGEX REPLACE "^[^=]*=([0-9|]+)=.*" "\\1" exit "${fault}")
        string(REGEX REPLACE "^[^=]*=[0-9|]+=" "" said "${fault}")
        file(REMOVE ${log})
        bed(run ${exit} --fault ${kind} --check-csv ${OUT}/samples.csv --range 6000
            -- ${qdacq} ${usb4} --set "Sample rate=1000" --seconds 6 --csv ${OUT}/samples.csv)
        if(kind MATCHES "^overrun@")
            set(ended "stop state: idle: the driver ended the measurement")
            set(counted "[1-9][0-9]* lost \\(1 gaps?\\), stop state: idle \\(QdStopMeasurement 1")
            if(NOT run_out MATCHES "${ended}|${counted}")
                message(FATAL_ERROR "the garbled message neither ended the measurement nor was counted as lost")
            endif()
        elseif(exit STREQUAL "1")
            expect(run "(0) error: Link lost.")
        elseif(kind MATCHES "^framing@")
            expect(run ", 0 lost (0 gaps), stop state: idle (QdStopMeasurement 1")
        elseif(NOT run_out MATCHES " [1-9][0-9]* lost \\(1 gaps?\\), stop state: idle \\(QdStopMeasurement 1")
            message(FATAL_ERROR "the message the overrun took was not counted as lost, or the measurement ended")
        endif()
        if(NOT kind MATCHES "^overrun@")
            expect(run ", 0 differ from what the device sent, 0 sent samples up to tick")
        endif()
        file(READ ${log} text)
        string(FIND "${text}" "${said}" at)
        if(at EQUAL -1)
            message(FATAL_ERROR "the driver log lacks \"${said}\" after the ${kind} fault")
        endif()
    endforeach()
    # Requests the chip stalls: the open fails with libftdi's words for it.
    foreach(stall "3=set baudrate failed" "9=refused the latency timer of 2 ms" "0=ftdi_usb_reset failed")
        string(REGEX REPLACE "=.*" "" request "${stall}")
        string(REGEX REPLACE "^[^=]*=" "" said "${stall}")
        bed(run 1 --fault stall=${request} -- ${qdacq} ${usb4} --seconds 2)
        expect(run "QdStartMeasurement 1")
        expect(run "${said}")
    endforeach()
elseif(STEP STREQUAL "start")
    # The transceiver vanishes in the middle of the reader's start (its
    # second transfer) and comes back: through the link library the open
    # fails, through the driver the open fails or the link is lost at once,
    # whichever the reader's thread reaches first; no thread is left.
    bed(run 1 --fault unplug@start+300 -- ${LINKOPEN} usb QV012345)
    expect(run "!libqvftd2xx: QV012345: the transceiver is gone (unplugged)")
    expect(run "linkopen: the usb link did not open")
    if(NOT run_out MATCHES "threads: ([0-9]+) before, ([0-9]+) after" OR CMAKE_MATCH_2 GREATER CMAKE_MATCH_1)
        message(FATAL_ERROR "the failed open left a thread behind")
    endif()
    file(REMOVE ${log})
    bed(run 1 --fault unplug@start+300 -- ${qdacq} ${usb4} --seconds 3)
    if(NOT run_out MATCHES "QdStartMeasurement 1|\\(0\\) error: Link lost\\.")
        message(FATAL_ERROR "neither the open-failed nor the link-lost path")
    endif()
    file(READ ${log} text)
    string(FIND "${text}" "!libqvftd2xx: QV012345: the transceiver is gone (unplugged)" at)
    if(at EQUAL -1)
        message(FATAL_ERROR "the driver log does not say that the transceiver is gone")
    endif()
    # A reset while answers arrive empties what waited, reading goes on, the
    # device answers through a new open, and the closes leave no thread.
    bed(run 0 -- ${LINKOPEN} --reset QV012345)
    expect(run "0 after the reset): FT_ResetPort 0, reading goes on; the device answered after a new open")
elseif(STEP STREQUAL "sixteen")
    # Sixteen transceivers open at once through the D2XX layer: each answers,
    # and closing them all leaves none of their reader threads behind.
    set(ids QV012345)
    foreach(k 01 02 03 04 05 06 07 08 09 10 11 12 13 14 15)
        list(APPEND ids QV0123${k})
    endforeach()
    bed(run 0 --chips 16 -- ${LINKOPEN} usb ${ids})
    expect(run "linkopen: 16 of 16 usb links open at once, 16 answered; threads:")
endif()
