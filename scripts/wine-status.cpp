// wine-status.cpp - qd_wine_status.exe STATUSFILE PROGRAM [ARGS...]
//
// Runs PROGRAM under Wine, waits for it, writes its exit status to
// STATUSFILE (a Windows path, "Z:/tmp/..." for a Unix file) and exits with
// the same status. scripts/wine-run.sh starts every Windows program of this
// tree through it.
//
// Why: once the last thread of a Wine process has ended, the Wine server
// gives the process's Unix side about half a second to finish its exit and
// then sends it SIGKILL. On a busy machine the Unix process can miss that
// window, although the program has finished and its exit status is final;
// the Unix parent (ctest, a test script) then sees "killed" instead of the
// status. The status lives on in the Wine server's process object, so a
// Windows parent reads it there, and the file keeps it should this parent
// be caught the same way at its own exit.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

namespace {

// Skips one argument of a Windows command line: quotes group, a backslash
// before a quote escapes it. Returns the start of the next argument.
const wchar_t *skipArgument(const wchar_t *p) {
    while (*p == L' ' || *p == L'\t') ++p;
    bool quoted = false;
    while (*p != L'\0' && (quoted || (*p != L' ' && *p != L'\t'))) {
        if (*p == L'\\') {
            const wchar_t *q = p;
            while (*q == L'\\') ++q;
            if (*q == L'"' && (q - p) % 2 == 1) {
                p = q + 1;
                continue;
            }
            p = q;
            continue;
        }
        if (*p == L'"') quoted = !quoted;
        ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

// The standard handles, made inheritable for the child.
HANDLE inheritable(DWORD which) {
    HANDLE h = GetStdHandle(which), copy = nullptr;
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return h;
    HANDLE self = GetCurrentProcess();
    if (!DuplicateHandle(self, h, self, &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) return h;
    return copy;
}

// Wine's mapping of a Windows exit code to a Unix exit status: the low
// byte, except that a code whose low byte is 0 but which is not 0 gives 1.
unsigned unixStatus(DWORD code) { return code != 0 && (code & 0xFF) == 0 ? 1u : (unsigned)(code & 0xFF); }

bool writeStatus(const wchar_t *path, unsigned status) {
    FILE *f = _wfopen(path, L"w");
    if (f == nullptr) return false;
    bool ok = fprintf(f, "%u\n", status) > 0;
    return fclose(f) == 0 && ok;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 3) {
        fprintf(stderr, "usage: qd_wine_status STATUSFILE PROGRAM [ARGS...]\n");
        return 125;
    }
    // The child gets the rest of the command line as it stands, so its
    // arguments reach it exactly as they reached this program.
    wchar_t *command = const_cast<wchar_t *>(skipArgument(skipArgument(GetCommandLineW())));
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = inheritable(STD_INPUT_HANDLE);
    si.hStdOutput = inheritable(STD_OUTPUT_HANDLE);
    si.hStdError = inheritable(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi;
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        fprintf(stderr, "qd_wine_status: cannot start %ls (error %lu)\n", argv[2], GetLastError());
        return 126;
    }
    CloseHandle(pi.hThread);
    DWORD code = 0;
    if (WaitForSingleObject(pi.hProcess, INFINITE) != WAIT_OBJECT_0 || !GetExitCodeProcess(pi.hProcess, &code)) {
        fprintf(stderr, "qd_wine_status: lost track of %ls (error %lu)\n", argv[2], GetLastError());
        return 125;
    }
    unsigned status = unixStatus(code);
    if (!writeStatus(argv[1], status)) fprintf(stderr, "qd_wine_status: cannot write %ls\n", argv[1]);
    fflush(stderr);
    ExitProcess(code);
}
