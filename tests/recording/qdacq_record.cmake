# qdacq_record.cmake - qdacq records simulated sessions through the driver's
# writer: EDF with mixed rates read back (by EDFlib where it is built), TSV,
# a break in the sample stream, a device without room, and the options'
# refusals. Called by ctest with -DEMULATOR (the Wine runner for Windows
# programs, else empty), -DQDACQ, -DEDFCHECK (may be empty), -DOUT and
# -DWINDOWS.

file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})

include(${CMAKE_CURRENT_LIST_DIR}/../support/qdacq_run.cmake)

# An EDF file whose count field says `records` and whose size holds exactly
# that many records of `bytes` after a header of `header` bytes; EDFlib must
# take it where it is built.
function(check_edf file records header bytes)
    file(SIZE ${file} size)
    math(EXPR want "${header} + ${records} * ${bytes}")
    if(NOT size EQUAL want)
        message(FATAL_ERROR "${file} has ${size} bytes, expected ${want}")
    endif()
    file(READ ${file} count OFFSET 236 LIMIT 8)
    string(STRIP "${count}" count)
    if(NOT count STREQUAL "${records}")
        message(FATAL_ERROR "${file}: record count field \"${count}\", expected ${records}")
    endif()
    if(EDFCHECK)
        execute_process(COMMAND ${EDFCHECK} ${file} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
        string(REGEX MATCH "records [0-9]+" got "${out}")
        message("---- EDFlib: ${got}")
        if(NOT rc EQUAL 0 OR NOT got STREQUAL "records ${records}")
            message(FATAL_ERROR "EDFlib does not take ${file}: ${out}")
        endif()
    endif()
endfunction()

set(sim --simulate --model "Quorvane Halvex-4 USB" --set "Channel enable=1")
# 250, 62.5, 125 and 15.625 sps: records of 1.024 s with 256, 64, 128 and 16
# samples (928 bytes); four signals make a header of 1280 bytes.
set(mixed --set "Sample rate:A=250" --set "Sample rate:B=62.5" --set "Sample rate:C=125"
          --set "Channel function:D=Temperature")

# The seconds count from the program's start: a second of margin for a slow open.
run(edf 0 ${sim} ${mixed} --seconds 4.5 --edf ${OUT}/mixed.edf --client "Client \"C\"" --session "Session S")
expect(edf "recording into ${OUT}/mixed.edf")
string(REGEX MATCH "recording: [^\n]*mixed.edf, EDF, ([0-9]+) data records" m "${edf_out}")
if(NOT m OR CMAKE_MATCH_1 LESS 3)
    message(FATAL_ERROR "qdacq did not report three or more data records")
endif()
check_edf(${OUT}/mixed.edf ${CMAKE_MATCH_1} 1280 928)
file(READ ${OUT}/mixed.edf head LIMIT 168)
string(FIND "${head}" "Session S / Recorded with Quorvane Halvex-4 USB" at)
if(at EQUAL -1)
    message(FATAL_ERROR "the recording identification is missing: ${head}")
endif()

run(tsv 0 ${sim} --set "Sample rate:B=62.5" --seconds 1.5 --tsv ${OUT}/rec.txt --client "Client")
expect(tsv "recording: ${OUT}/rec.txt, tab separated text")
file(STRINGS ${OUT}/rec.txt lines)
list(LENGTH lines n)
list(GET lines 5 signals)
if(n LESS 100 OR NOT signals STREQUAL "Signals: 4")
    message(FATAL_ERROR "the TSV file has ${n} lines and \"${signals}\"")
endif()

# A lost data message: the recording stops, what was written stays valid.
# A slow machine's open leaves it one whole record ("1 data record") before
# the gap at 2.5 s.
run(gap 5 ${sim} --seconds 6 --sim-fault phase-gap@2.5 --edf ${OUT}/gap.edf)
expect(gap "!Sample stream is not continuous (phase=")
expect(gap "recording stopped: the sample stream is not continuous")
string(REGEX MATCH "gap.edf, EDF, ([0-9]+) data records?" m "${gap_out}")
if(NOT m)
    message(FATAL_ERROR "no record count reported")
endif()
# Four channels at 125 sps: records of 1 s, 1000 bytes.
check_edf(${OUT}/gap.edf ${CMAKE_MATCH_1} 1280 1000)

# No room on the device: the header cannot be written.
if(NOT WINDOWS AND EXISTS /dev/full)
    run(full 5 ${sim} --seconds 2 --edf /dev/full)
    expect(full "recording stopped: the file header could not be written")
endif()

# A file that cannot be created, and the options' refusals.
run(nofile 3 ${sim} --seconds 1 --edf ${OUT}/no/such/folder/x.edf)
expect(nofile "cannot create the output file")
run(both 2 ${sim} --edf ${OUT}/a.edf --tsv ${OUT}/a.txt)
expect(both "record into one file: one of --edf, --tsv or --edfplus")
run(client 2 ${sim} --client "C")
expect(client "give --edf, --tsv or --edfplus with a file")
run(test 2 ${sim} --test --edf ${OUT}/t.edf)
expect(test "a test measurement cannot be recorded")

# --view starts EDFbrowser on the growing file once 4 s are recorded: a
# stand-in edfbrowser on PATH notes its arguments and when it started.
# Without one on PATH qdacq says so once and records on.
if(NOT WINDOWS)
    set(path $ENV{PATH})
    file(MAKE_DIRECTORY ${OUT}/viewer ${OUT}/empty)
    file(WRITE ${OUT}/viewer/edfbrowser "#!/bin/sh\necho \"$*\" >${OUT}/viewer-args\ndate +%s%3N >${OUT}/viewer-ms\n")
    file(CHMOD ${OUT}/viewer/edfbrowser PERMISSIONS OWNER_READ OWNER_EXECUTE OWNER_WRITE)
    set(ENV{PATH} "${OUT}/viewer:${path}")
    execute_process(COMMAND date +%s%3N OUTPUT_VARIABLE before OUTPUT_STRIP_TRAILING_WHITESPACE)
    run(view 0 ${sim} --seconds 5 --edf ${OUT}/view.edf --view)
    file(READ ${OUT}/viewer-args args)
    file(READ ${OUT}/viewer-ms started)
    string(STRIP "${started}" started)
    math(EXPR delay "${started} - ${before}")
    if(NOT args STREQUAL "--stream ${OUT}/view.edf\n" OR delay LESS 4000 OR delay GREATER 7000)
        message(FATAL_ERROR "EDFbrowser started with \"${args}\" after ${delay} ms")
    endif()
    set(ENV{PATH} "${OUT}/empty")
    run(noview 0 ${sim} --seconds 5 --edf ${OUT}/noview.edf --view)
    set(ENV{PATH} "${path}")
    string(REGEX MATCHALL "was not found on PATH" said "${noview_out}")
    list(LENGTH said times)
    if(NOT times EQUAL 1)
        message(FATAL_ERROR "the missing EDFbrowser was reported ${times} times")
    endif()
    if(NOT noview_out MATCHES "noview.edf, EDF, [1-9][0-9]* data records?")
        message(FATAL_ERROR "the recording did not go on without EDFbrowser")
    endif()
    run(tsvview 2 ${sim} --tsv ${OUT}/v.txt --view)
    expect(tsvview "--view shows an EDF recording in EDFbrowser: give --edf FILE")
endif()
