// recording_helpers.h - pieces shared by the recording tests: a device whose
// parameters a test sets freely (behind the writer's parameter table), a
// reader of the EDF files the writer produces, and the independent readers
// (EDFlib through edfcheck, biosig's save2gdf) run as separate programs.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "API/driver/ui/recording.h"

// ---------------------------------------------------------------------------
// A made-up device behind RecordingParams.
// ---------------------------------------------------------------------------

struct FakeChannel {
    std::string name = "A";
    std::string label;
    std::string sensor;
    std::string unit = "uV";
    bool enabled = true;
    float range = 400.0f;
    float minimum = -400.0f;
    float rate = 250.0f;
    uint32_t rateIndex = 8;
    float lower = 0.5f;
    float upper = 0.4f;
    int filter = -1;        // -1: no "Power interference filter" parameter; 0 off; 1 on
};

struct FakeDevice {
    int32_t channelCount = 1;
    std::string model = "Quorvane Halvex-4 USB";
    float mains = 50.0f;
    std::vector<FakeChannel> channel;
    // Parameters that answer with another type byte (id -> type) or fail.
    std::map<uint16_t, uint8_t> typeOverride;
    std::map<uint16_t, int> failing;
};

// The device the fake parameter functions answer from.
extern FakeDevice g_fake;
extern const RecordingParams kFakeParams;

// A fresh device with n channels named "A", "B", ... (all enabled, 250 sps,
// range +-400 uV).
void fakeReset(int channels);

// ---------------------------------------------------------------------------
// EDF files as the tests read them.
// ---------------------------------------------------------------------------

struct EdfSignal {
    std::string label, transducer, dimension, physMin, physMax, digMin, digMax, prefilter, samples, reserved;
};

struct EdfImage {
    bool ok = false;
    std::string error;
    std::string header;            // main header, 256 bytes as stored
    std::string version, patient, recording, date, time, headerBytes, reserved, records, duration, signals;
    std::vector<EdfSignal> signal;
    std::vector<std::vector<int16_t>> data;   // per signal, all records
    size_t recordCount = 0;         // whole records in the file
    size_t trailing = 0;            // bytes after the last whole record
};

// Splits a file image into its fields (each field as stored, padding
// included) and its data records.
EdfImage parseEdf(const std::string &bytes);
// A field without its trailing spaces.
std::string trimmed(const std::string &field);

// ---------------------------------------------------------------------------
// Independent readers (native build only).
// ---------------------------------------------------------------------------

struct ReaderSignal {
    std::map<std::string, std::string> field;
    std::vector<double> values;     // physical
};
struct ReaderResult {
    bool ran = false;               // the reader exists on this build
    bool accepted = false;          // it read the file
    std::string output;
    std::map<std::string, std::string> field;
    std::vector<ReaderSignal> signal;
};

// EDFlib, through the edfcheck program.
ReaderResult readWithEdflib(const std::string &path);
// biosig, through save2gdf -f=ASCII: values per signal.
ReaderResult readWithBiosig(const std::string &path, int signals);

// A RecordingOutput on the heap (it holds the record rows) with the fake
// parameters.
std::unique_ptr<RecordingOutput> newOutput(const RecordingParams *params = &kFakeParams);

// Blocks of one packet: samples per entry (device values, stored << 16) and
// rate masks; entries without samples are not delivered.
struct Packet {
    ChannelSamples entry[6] = {};
    std::vector<std::vector<int32_t>> store;
    Packet(const std::vector<std::vector<int16_t>> &values, const std::vector<uint16_t> &masks);
};
