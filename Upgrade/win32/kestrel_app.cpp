// kestrel_app.cpp - start-up, message loop and end of the window program.
#include <cstdio>
#include <cstring>

#include "Upgrade/firmware.h"
#include "Upgrade/output.h"
#include "Upgrade/update.h"
#include "Upgrade/win32/kestrel_internal.h"
#include "os/os.h"

namespace {

const int MIN_OS_CODE = 8;
const size_t COMMAND_LINE_SIZE = 256;
const char HELP_NAME[] = "kestrel.htm";

// The arguments: the command line when it fits beside the program's path,
// else (or when it is empty) upgrade.cfg.
void takeArguments(const char *commandLine) {
    static char line[COMMAND_LINE_SIZE];
    static char cfg[COMMAND_LINE_SIZE];
    char *args[LOADER_MAX_ARGS];
    int count = 0;
    if (commandLine && std::strlen(g_loader.programPath) + std::strlen(commandLine) < COMMAND_LINE_SIZE) {
        std::snprintf(line, sizeof line, "%s", commandLine);
        count = tokenize(line, " \t", args, LOADER_MAX_ARGS);
    }
    if (count == 0) count = readUpgradeCfg(cfg, args);
    loaderApplyArguments(args, count);
}

}  // namespace

HWND kestrelStart(HINSTANCE instance, const char *commandLine, int show, int *exitCode) {
    std::memset(&g_kw, 0, sizeof g_kw);
    g_kw.instance = instance;
    *exitCode = 0;
    measureLayout();
    char programPath[LOADER_PATH_SIZE * 2] = "";
    GetModuleFileNameA(nullptr, programPath, sizeof programPath);
    loaderInit(programPath);
    const LoaderSinks sinks = {showUserMessage, showProgress};
    setLoaderSinks(&sinks);
    openUpgradeLog(programPath);
    linkSetLogHook(updLogV);
    updLog("\nKESTREL ver. %s\n", LOADER_VERSION);
    if (g_loader.osCode < MIN_OS_CODE) {
        updUserMessage("!Unsupported operating system. Supported systems are Microsoft Windows XP/Vista/7/8/10/11.\n");
        *exitCode = 1;
        return nullptr;
    }
    osBesideProgramPath(programPath, HELP_NAME, g_kw.helpPath, sizeof g_kw.helpPath);
    takeArguments(commandLine);
    if (!registerClasses()) {
        *exitCode = 1;
        return nullptr;
    }
    return createMainWindow(show);
}

bool kestrelPass(int *exitCode) {
    MSG msg;
    bool handled = false;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            *exitCode = (int)msg.wParam;
            return false;
        }
        if (!g_kw.main || !IsDialogMessageA(g_kw.main, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        handled = true;
    }
    const bool running = (g_loader.flags & LOADER_RUNNING) != 0;
    if (running && !PollUpdate()) onRunEnded();
    if (!handled) Sleep(running ? 1 : 5);
    // The window is gone (its quit message may have been taken by a modal
    // loop): the program ends.
    return g_kw.main != nullptr;
}

void kestrelFinish() {
    closeWaitWindow();
    loaderCloseLink();
    CloseFirmwareFile();
    g_loader.flags = 0;
    updLog("\n");
    linkSetLogHook(nullptr);
    closeUpgradeLog();
    setLoaderSinks(nullptr);
    if (g_kw.ownFont) DeleteObject(g_kw.font);
    g_kw.ownFont = false;
}

bool kestrelRunning() { return (g_loader.flags & LOADER_RUNNING) != 0; }
