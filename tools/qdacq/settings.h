// settings.h - the parameters of the selected context as a host user sees
// them: by display name, set from text through QdStr2Param, listed with
// their values and options, and refusals explained in the driver's terms.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/driver_binding.h"

// Number of channels of the selected context (parameter 1), 0 when unknown.
int contextChannels(const DriverApi &api);

// Lines beginning with '!' that the driver wrote into its log at or after
// byte offset from; logSize gives the offset to pass (0 when no log).
long logSize(const std::string &logPath);
std::vector<std::string> logErrorsSince(const std::string &logPath, long from);

// Option texts of a definition ("62.5, 125, 250"), or "" without a list.
std::string optionTexts(const DriverApi &api, const QdParamDef *def);

// Applies one setting "Name[:channel]=value" to the selected context. Name is
// a parameter's display name (letter case does not matter) or its id;
// channel a number from 0 or a letter A..E; a channel parameter without a
// channel is set on every channel that has it. The value goes to
// QdStr2Param as it stands (on/off/true/false for a flag are read as 1/0).
// On refusal returns false with an explanation in *why: the driver's result
// and its log lines, and what would be valid.
bool applySetting(const DriverApi &api, const std::string &logPath, const std::string &setting, std::string *why);

// Prints the parameters of the selected context: each general parameter and
// each channel's, with value, unit, flags and options.
void printParameters(const DriverApi &api, FILE *out);

// Prints the models (those of one link type, or all with -1) with their
// link type and channel count.
void printModels(const DriverApi &api, FILE *out, int linkType = -1);
