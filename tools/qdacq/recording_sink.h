// recording_sink.h - qdacq's EDF and TSV recordings (--edf, --tsv).
//
// qdacq compiles the driver's own recording writer (API/driver/ui/
// recording.cpp, portable code over the OS layer) into itself and feeds it
// from its QdProcSamples callback. The writer reads the device parameters
// through the functions qdacq resolved from the loaded driver (QdGetParam,
// QdParamInfo, QdGetDevName), so the files are the ones the driver's
// recorder writes, built from the public interface only.
//
// The packets arrive on whichever thread runs the engine; a lock keeps them
// apart from the end of the recording.
#pragma once

#include <cstdint>
#include <string>

#include "tools/common/driver_binding.h"

// Creates the output file in an output format (RECORDING_*, the index of a
// row of the writer's kOutputFormats; others may read the file while it
// grows); the header is written with the first packet. False with *why when
// it cannot be made.
bool recordingStart(const DriverApi &api, const std::string &path, uint16_t format, const std::string &client,
                    const std::string &session, std::string *why);
bool recordingActive();

// One sample packet of the recorded context (from QdProcSamples), arrived
// at host seconds `arrival`.
void recordingPacket(uint16_t phase, const ChannelSamples *blocks, double arrival);
// Events at host seconds `when` for a format that keeps them (EDF+): an
// indicator report, and a user message or a host's marker (false when the
// file cannot keep it: another format, no recording, or a full queue).
void recordingIndicator(uint16_t type, uint16_t value, double when);
bool recordingText(const char *text, double when);
// Whether the recording keeps events (EDF+).
bool recordingKeepsEvents();

// True once, when the recording failed since the last call (a write failed,
// the header could not be made, or the sample stream broke); *why says what.
bool recordingFailed(std::string *why);

// Ends the recording: the format completes the file (an EDF file gets its
// number of data records), then it is closed; later packets are ignored.
// *summary tells what the file holds. False when the completion failed.
bool recordingFinish(std::string *summary);
