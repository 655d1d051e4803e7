// recorder.cpp - QuorvaneRecorder.exe: the driver's recorder window as a
// program of its own, for people who have no host application.
//
//   QuorvaneRecorder [--simulate]
//
// The program loads the driver of its own bitness (QuorvaneDrv.dll or
// QuorvaneDrv64.dll) from its own folder, runs QdCreateRecWindow with its
// instance and that folder (where the help page and licence text lie) and
// ends when the window has been closed: exit status 0, or 1 when the driver
// could not be loaded or the window not opened, 2 for a bad command line.
//
// A driver that cannot be loaded is explained in a message box naming the
// missing file, never by the system's loader. --simulate loads the device
// simulator (sim\FTD2XX.dll beside the program, with its Bluetooth LE
// stand-in) before the driver and puts simulated devices where the models'
// links look for them; without it the driver talks to real transceivers.
#include <windows.h>

#include <shlobj.h>
#include <shellapi.h>

#include <string>

#include "QuorvaneDrv.h"

namespace {

const wchar_t kCaption[] = L"Quorvane Recorder";
const wchar_t kSimFolder[] = L"sim\\";
const wchar_t kSimLibrary[] = L"FTD2XX.dll";
const wchar_t kBleStandIn[] = L"BluetoothAPIs.dll";
const wchar_t kD2xxLibrary[] = L"FTD2XX.dll";
#if defined(_WIN64)
const wchar_t kDriverFile[] = L"QuorvaneDrv64.dll";
#else
const wchar_t kDriverFile[] = L"QuorvaneDrv.dll";
#endif
const wchar_t kWindowClass[] = L"QuorvaneDevConfig";
const int kIconId = 1;

enum ExitCode { EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

// The simulator's controls used here (sim/ftsim.h), resolved by name.
typedef int (*SimAddFn)(const char *, const char *);
typedef int (*SimAddNamedFn)(const char *);
typedef int (*SimAttachFn)(int, const char *, const char *);

// Where the simulated devices sit: one per link, each of the model the
// recorder would pick for that link, named as those models' default device
// id ("Quorvane Halvex*") expects.
const char kSimSerial[] = "QVSIM001";
const char kSimDeviceName[] = "Quorvane Halvex*";
const char kSimBtAddress[] = "00:80:98:51:56:01";
const char kSimIrdaName[] = "Quorvane Brev";
const char kSimUsbModel[] = "Quorvane Halvex+ 4 USB";
const char kSimBtModel[] = "Quorvane Halvex+ 4 BT";
const char kSimBleModel[] = "Quorvane Halvex+ 4 BLE";
const char kSimIrdaModel[] = "Quorvane Brev 100";

HICON g_bigIcon = nullptr;
HICON g_smallIcon = nullptr;

void showError(const std::wstring &text) { MessageBoxW(nullptr, text.c_str(), kCaption, MB_OK | MB_ICONERROR); }

// Folder of the running program, with a trailing backslash.
std::wstring programFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], (DWORD)path.size());
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

// The system's words for an error code, with the code.
std::wstring systemText(DWORD code) {
    wchar_t *buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, (wchar_t *)&buffer, 0, nullptr);
    std::wstring text = buffer ? buffer : L"";
    if (buffer) LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) text.pop_back();
    return text + L" (error " + std::to_wstring(code) + L")";
}

bool fileExists(const std::wstring &path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Loads a library by its full path; the libraries it imports are looked for
// in its own folder first.
HMODULE loadLibrary(const std::wstring &path, DWORD *error) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    *error = module ? 0 : GetLastError();
    return module;
}

// Puts the simulated devices behind the simulator's transceiver and sockets.
bool addSimulatedDevices(HMODULE sim) {
    SimAddFn add = (SimAddFn)(void *)GetProcAddress(sim, "ftsimAdd");
    SimAddFn addBluetooth = (SimAddFn)(void *)GetProcAddress(sim, "ftsimAddBluetooth");
    SimAddFn addBle = (SimAddFn)(void *)GetProcAddress(sim, "ftsimAddBle");
    SimAddNamedFn addIrda = (SimAddNamedFn)(void *)GetProcAddress(sim, "ftsimAddIrda");
    SimAttachFn attach = (SimAttachFn)(void *)GetProcAddress(sim, "ftsimAttachNewDevice");
    if (!add || !addBluetooth || !addBle || !addIrda || !attach) return false;
    return attach(add(kSimSerial, nullptr), kSimUsbModel, nullptr) >= 0 &&
           attach(addBluetooth(kSimBtAddress, kSimDeviceName), kSimBtModel, nullptr) >= 0 &&
           attach(addBle(kSimDeviceName, nullptr), kSimBleModel, nullptr) >= 0 &&
           attach(addIrda(kSimIrdaName), kSimIrdaModel, nullptr) >= 0;
}

// Loads the simulator and its Bluetooth LE stand-in from sim\ beside the
// program, before the driver: the driver's imports of FTD2XX.dll, and its
// later load of BluetoothAPIs.dll, then find them.
bool loadSimulator(const std::wstring &folder) {
    std::wstring dir = folder + kSimFolder;
    DWORD error = 0;
    HMODULE sim = loadLibrary(dir + kSimLibrary, &error);
    if (!sim) {
        showError(L"--simulate needs the device simulator " + dir + kSimLibrary + L", which " +
                  (fileExists(dir + kSimLibrary) ? L"cannot be loaded: " + systemText(error) + L"."
                                                 : std::wstring(L"is missing.")) +
                  L"\n\nInstall the recorder with its device simulator, or start it without --simulate to "
                  L"record from a real device.");
        return false;
    }
    if (!loadLibrary(dir + kBleStandIn, &error)) {
        showError(L"--simulate needs the simulator's Bluetooth LE stand-in " + dir + kBleStandIn + L": " +
                  systemText(error) + L".");
        return false;
    }
    if (!addSimulatedDevices(sim)) {
        showError(L"The library " + dir + kSimLibrary + L" is not the Quorvane device simulator.");
        return false;
    }
    return true;
}

// What to tell the user when the driver file is there but did not load.
std::wstring driverLoadFailure(const std::wstring &path, DWORD error) {
    std::wstring found(MAX_PATH, L'\0');
    bool d2xxFound = SearchPathW(nullptr, kD2xxLibrary, nullptr, (DWORD)found.size(), &found[0], nullptr) != 0;
    if (error == ERROR_MOD_NOT_FOUND && !d2xxFound) {
        return std::wstring(L"The recorder cannot start: the driver ") + kDriverFile + L" needs " + kD2xxLibrary +
               L", which is missing on this computer.\n\n" + kD2xxLibrary +
               L" comes with the driver package of the FTDI USB transceiver: install that package, then "
               L"start the recorder again.\n\nTo try the recorder without a device, start it with --simulate.";
    }
    if (error == ERROR_BAD_EXE_FORMAT) {
        return L"The recorder cannot load the driver " + path + L": it, or the " + kD2xxLibrary +
               L" it needs, is not built for this program's bitness (" + std::to_wstring(sizeof(void *) * 8) +
               L"-bit).\n\n" + systemText(error);
    }
    return L"The recorder cannot load the driver " + path + L":\n" + systemText(error);
}

HMODULE loadDriver(const std::wstring &folder) {
    std::wstring path = folder + kDriverFile;
    if (!fileExists(path)) {
        showError(std::wstring(L"The recorder cannot start: the driver ") + kDriverFile +
                  L" is missing. It belongs in the recorder's own folder:\n" + folder +
                  L"\n\nInstall the Quorvane software again.");
        return nullptr;
    }
    DWORD error = 0;
    HMODULE driver = loadLibrary(path, &error);
    if (!driver) showError(driverLoadFailure(path, error));
    return driver;
}

// The folder as the driver's narrow-text interface takes it: in the ANSI
// code page, or as its short form when a character has no ANSI equivalent.
std::string narrowFolder(const std::wstring &folder) {
    auto narrow = [](const std::wstring &text, bool *lossy) {
        BOOL defaulted = FALSE;
        int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, &defaulted);
        std::string out(n > 0 ? n : 1, '\0');
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, &out[0], n, nullptr, &defaulted);
        out.resize(out.size() - 1);
        *lossy = defaulted != FALSE;
        return out;
    };
    bool lossy = false;
    std::string text = narrow(folder, &lossy);
    if (!lossy) return text;
    std::wstring shortPath(MAX_PATH, L'\0');
    DWORD n = GetShortPathNameW(folder.c_str(), &shortPath[0], (DWORD)shortPath.size());
    if (n == 0 || n >= shortPath.size()) return text;
    shortPath.resize(n);
    std::string shortText = narrow(shortPath, &lossy);
    return lossy ? text : shortText;
}

// Started in its own folder (a double click, a shortcut without a working
// folder), the recorder works in the user's documents instead: recordings
// and settings files do not belong among the program files, which a user
// may not even write to.
void leaveProgramFolder(const std::wstring &folder) {
    std::wstring current(MAX_PATH, L'\0');
    DWORD n = GetCurrentDirectoryW((DWORD)current.size(), &current[0]);
    if (n == 0 || n >= current.size()) return;
    current.resize(n);
    if (current.empty() || current.back() != L'\\') current += L'\\';
    if (CompareStringOrdinal(current.c_str(), -1, folder.c_str(), -1, TRUE) != CSTR_EQUAL) return;
    wchar_t documents[MAX_PATH];
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents))) {
        SetCurrentDirectoryW(documents);
    }
}

// The driver registers the recorder's window class with the system's
// application icon; the window is given the program's own icon when it is
// first activated.
LRESULT CALLBACK onWindowEvent(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wParam;
        wchar_t name[64];
        if (GetClassNameW(window, name, 64) && lstrcmpW(name, kWindowClass) == 0 &&
            !SendMessageW(window, WM_GETICON, ICON_BIG, 0)) {
            SendMessageW(window, WM_SETICON, ICON_BIG, (LPARAM)g_bigIcon);
            SendMessageW(window, WM_SETICON, ICON_SMALL, (LPARAM)g_smallIcon);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// --simulate, or nothing; anything else is answered with the usage.
bool readCommandLine(bool *simulate) {
    int count = 0;
    wchar_t **args = CommandLineToArgvW(GetCommandLineW(), &count);
    bool ok = args != nullptr;
    for (int i = 1; ok && i < count; ++i) {
        if (lstrcmpiW(args[i], L"--simulate") == 0) {
            *simulate = true;
            continue;
        }
        MessageBoxW(nullptr,
                    (L"Unknown argument: " + std::wstring(args[i]) +
                     L"\n\nUsage: QuorvaneRecorder [--simulate]\n\n--simulate\trecord from simulated devices "
                     L"(the device simulator in the sim folder) instead of real ones")
                        .c_str(),
                    kCaption, MB_OK | MB_ICONWARNING);
        ok = false;
    }
    if (args) LocalFree(args);
    return ok;
}

int runWindow(HINSTANCE instance, HMODULE driver, const std::wstring &folder) {
    typedef int(QDCALL * CreateRecWindowFn)(void *, void *, const char *);
    CreateRecWindowFn create = (CreateRecWindowFn)(void *)GetProcAddress(driver, "QdCreateRecWindow");
    if (!create) {
        showError(folder + kDriverFile + L" is not a Quorvane driver: it has no QdCreateRecWindow.");
        return EXIT_FAILED;
    }
    int size = GetSystemMetrics(SM_CXSMICON);
    g_bigIcon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE);
    g_smallIcon = (HICON)LoadImageW(instance, MAKEINTRESOURCEW(kIconId), IMAGE_ICON, size, size, 0);
    HHOOK hook = SetWindowsHookExW(WH_CBT, onWindowEvent, nullptr, GetCurrentThreadId());
    int shown = create(instance, nullptr, narrowFolder(folder).c_str());
    if (hook) UnhookWindowsHookEx(hook);
    if (shown) return EXIT_DONE;
    showError(L"The recorder window could not be opened. The driver's log tells why: "
              L"Quorvane\\QuorvaneDrv.log in the folder named by %ALLUSERSPROFILE%.");
    return EXIT_FAILED;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Load failures are told by this program, never by the system's boxes.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    bool simulate = false;
    if (!readCommandLine(&simulate)) return EXIT_USAGE;
    std::wstring folder = programFolder();
    if (simulate && !loadSimulator(folder)) return EXIT_FAILED;
    HMODULE driver = loadDriver(folder);
    if (!driver) return EXIT_FAILED;
    leaveProgramFolder(folder);
    int code = runWindow(instance, driver, folder);
    FreeLibrary(driver);
    return code;
}
