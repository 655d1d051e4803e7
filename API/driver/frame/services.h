// services.h - the command line of the device-service program QuorvaneServ,
// which the driver starts for the selected context (QdDevServices).
#pragma once

#include <cstddef>

// Room for the longest command line: a folder of 239 characters, the program
// name, the model, link and device parts.
constexpr size_t QD_SERVICES_LINE_MAX = 400;
constexpr int QD_SERVICES_ARG_MAX = 5;  // program, D=, L=, A=, null

// What starts the program on either kind of system: the Windows command line
// (quoted program path with "QuorvaneServ.exe", then the parts
// "D=<model>" in quotes, L=<word>, "A=<device id>" in quotes), and the same
// as a program path and argument vector for POSIX systems (program
// "QuorvaneServ" in the folder joined with '/', or found through PATH).
struct ServicesLaunch {
    char commandLine[QD_SERVICES_LINE_MAX];
    char program[QD_SERVICES_LINE_MAX];
    char model[48];
    char link[8];
    char device[32];
    const char *argv[QD_SERVICES_ARG_MAX];
};

// Fills the launch record for a folder (null, empty or 240 characters and
// more: the program is found through the system's program search) and the
// selected context (none: the program part alone).
void servicesBuildLaunch(const char *folder, ServicesLaunch *out);
