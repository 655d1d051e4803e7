// Stand-in of the device-service program QuorvaneServ for the launcher
// tests. It records how it was started in the file named by the environment
// variable QD_SERVICES_RECORD: on Windows the raw command line
// ("cmdline:<line>"), elsewhere every argument on a line of its own
// ("arg:<argument>"). The record is written under a temporary name and then
// renamed, so that a reader never sees half of it.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
    const char *record = std::getenv("QD_SERVICES_RECORD");
    if (!record || !*record) return 2;
    std::string text;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    text = std::string("cmdline:") + GetCommandLineA() + "\n";
#else
    for (int i = 0; i < argc; ++i) text += std::string("arg:") + argv[i] + "\n";
#endif
    std::string partial = std::string(record) + ".part";
    FILE *f = std::fopen(partial.c_str(), "wb");
    if (!f) return 3;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = std::fclose(f) == 0 && ok;
    if (!ok || std::rename(partial.c_str(), record) != 0) return 4;
    return 0;
}
