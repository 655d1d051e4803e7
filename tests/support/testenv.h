// testenv.h - helpers shared by the test programs.
#pragma once

#include <string>

// Points ALLUSERSPROFILE and the settings store at a fresh temporary folder.
void testenvInit();
// Removes what testenvInit created.
void testenvCleanup();
// The temporary root made by testenvInit (with a trailing separator).
const std::string &testenvRoot();
// A fresh, empty folder below the root (with a trailing separator).
std::string testenvNewDir(const char *tag);
// Reads a whole file; empty when it cannot be read.
std::string testenvReadFile(const std::string &path);
// Writes a whole file; false on failure.
bool testenvWriteFile(const std::string &path, const std::string &content);
