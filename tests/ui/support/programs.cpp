// programs.cpp - other programs started by a window test: the shipped
// programs and the installer, found by their windows.
#include "tests/ui/support/uitest.h"

namespace uitest {

std::wstring wide(const std::string &text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? n : 1, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

bool start(const std::wstring &commandLine, const std::wstring &folder, Program *program,
           const std::wstring &output) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HANDLE out = INVALID_HANDLE_VALUE;
    if (!output.empty()) {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        out = CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, nullptr);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = startup.hStdError = out;
    }
    std::wstring line = commandLine;
    PROCESS_INFORMATION info = {};
    bool ok = CreateProcessW(nullptr, &line[0], nullptr, nullptr, out != INVALID_HANDLE_VALUE, 0, nullptr,
                             folder.empty() ? nullptr : folder.c_str(), &startup, &info) != 0;
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (!ok) return false;
    CloseHandle(info.hThread);
    program->process = info.hProcess;
    program->id = info.dwProcessId;
    return true;
}

int finish(Program *program, DWORD timeoutMs) {
    if (!program->process) return -1;
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(program->process, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(program->process, 99);
    } else {
        GetExitCodeProcess(program->process, &code);
    }
    CloseHandle(program->process);
    program->process = nullptr;
    return (int)code;
}

namespace {
struct WindowSearch {
    DWORD id;
    const char *className;
    const char *title;
    HWND except;
    HWND found;
};
BOOL CALLBACK matchWindow(HWND w, LPARAM arg) {
    WindowSearch *s = (WindowSearch *)arg;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64] = "";
    GetClassNameA(w, cls, sizeof cls);
    if (pid != s->id || w == s->except || !IsWindowVisible(w) || lstrcmpA(cls, s->className) != 0) return TRUE;
    if (s->title && text(w) != s->title) return TRUE;
    s->found = w;
    return FALSE;
}
}  // namespace

HWND waitForWindow(const Program &program, const char *className, const char *title, DWORD timeoutMs,
                   HWND except) {
    DWORD begin = GetTickCount();
    do {
        WindowSearch s = {program.id, className, title, except, nullptr};
        EnumWindows(matchWindow, (LPARAM)&s);
        if (s.found) return s.found;
        pump(50);
    } while (GetTickCount() - begin < timeoutMs);
    return nullptr;
}

}  // namespace uitest
