// dist.h - what the tests of the Windows deliverables share: where the
// build and the distribution lie, and the recorder program's window.
#pragma once

#include <string>

#include "tests/ui/support/uitest.h"

namespace dist {

// "<path>", for a command line.
std::wstring quote(const std::string &path);
// The folder of a build beside this one: "win32" or "win64".
std::string buildFolder(const char *preset);
bool exists(const std::wstring &path);

// Waits for the recorder's window of a started program, checks that it shows
// its Session page with the default model and the program's icon, saves the
// picture as ui-shots/<shot>, closes the window as a user does (WM_CLOSE)
// and expects the program to end with 0.
void expectRecorderClosesCleanly(uitest::Program *program, const std::string &shot);

}  // namespace dist
