// os_win32.cpp - the operating-system layer on Win32: paths, files, folders,
// environment and modules.
#include <windows.h>
#include <sddl.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "os/os.h"

static_assert(sizeof(OsFile) == sizeof(HANDLE), "OsFile must hold a HANDLE");

static HANDLE handleOf(OsFile f) { return (HANDLE)f; }

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------

char osPathSeparator() { return '\\'; }
bool osIsPathSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

OsFile osFileOpen(const char *path, unsigned flags) {
    if (path == nullptr) return OS_INVALID_FILE;
    DWORD access = 0;
    if (flags & OS_FILE_READ) access |= GENERIC_READ;
    if (flags & OS_FILE_WRITE) {
        // Append-only access makes every write land at the end of the file.
        access |= (flags & OS_FILE_APPEND) ? (FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE)
                                           : GENERIC_WRITE;
    }
    if (access == 0) access = GENERIC_READ;
    DWORD share = 0;
    if (flags & OS_FILE_SHARE_READ) share |= FILE_SHARE_READ;
    if (flags & OS_FILE_SHARE_WRITE) share |= FILE_SHARE_WRITE;
    DWORD disposition = OPEN_EXISTING;
    if (flags & OS_FILE_TRUNCATE) {
        disposition = (flags & OS_FILE_EXCLUSIVE) ? CREATE_NEW : CREATE_ALWAYS;
    } else if (flags & OS_FILE_CREATE) {
        disposition = OPEN_ALWAYS;
    }
    // A plain-only open opens a reparse point (a link) itself, which is then
    // refused, as is anything but a file on a disk.
    const bool plain = (flags & OS_FILE_PLAIN_ONLY) != 0;
    if (plain) access |= FILE_READ_ATTRIBUTES;  // for the check below
    DWORD attributes = FILE_ATTRIBUTE_NORMAL | (plain ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return OS_INVALID_FILE;
    BY_HANDLE_FILE_INFORMATION info;
    if (plain && (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
                  (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)) {
        CloseHandle(h);
        return OS_INVALID_FILE;
    }
    return (OsFile)h;
}

int32_t osFileRead(OsFile f, void *buffer, uint32_t size) {
    if (f == OS_INVALID_FILE) return -1;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    DWORD n = 0;
    if (!ReadFile(handleOf(f), buffer, size, &n, nullptr)) return -1;
    return (int32_t)n;
}

int32_t osFileWrite(OsFile f, const void *data, uint32_t size) {
    if (f == OS_INVALID_FILE) return -1;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    DWORD n = 0;
    if (!WriteFile(handleOf(f), data, size, &n, nullptr)) return n > 0 ? (int32_t)n : -1;
    return (int32_t)n;
}

int64_t osFileSeek(OsFile f, int64_t offset, OsSeek whence) {
    if (f == OS_INVALID_FILE) return -1;
    DWORD method = whence == OS_SEEK_SET ? FILE_BEGIN : whence == OS_SEEK_CUR ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance, result;
    distance.QuadPart = offset;
    if (!SetFilePointerEx(handleOf(f), distance, &result, method)) return -1;
    return (int64_t)result.QuadPart;
}

int64_t osFileSize(OsFile f) {
    if (f == OS_INVALID_FILE) return -1;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handleOf(f), &size)) return -1;
    return (int64_t)size.QuadPart;
}

bool osFileTruncate(OsFile f, int64_t size) {
    if (f == OS_INVALID_FILE || size < 0) return false;
    // SetEndOfFile cuts at the file pointer: move it there and back.
    LARGE_INTEGER zero, here, target;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(handleOf(f), zero, &here, FILE_CURRENT)) return false;
    target.QuadPart = size;
    bool ok = SetFilePointerEx(handleOf(f), target, nullptr, FILE_BEGIN) && SetEndOfFile(handleOf(f));
    SetFilePointerEx(handleOf(f), here, nullptr, FILE_BEGIN);
    return ok;
}

bool osFileFlush(OsFile f) { return f != OS_INVALID_FILE && FlushFileBuffers(handleOf(f)) != 0; }

void osFileClose(OsFile f) {
    if (f != OS_INVALID_FILE) CloseHandle(handleOf(f));
}

bool osPathExists(const char *path) {
    return path != nullptr && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool osIsDirectory(const char *path) {
    if (path == nullptr) return false;
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool osFileMove(const char *from, const char *to) {
    return from != nullptr && to != nullptr && MoveFileExA(from, to, MOVEFILE_COPY_ALLOWED) != 0;
}

bool osFileReplace(const char *from, const char *to) {
    return from != nullptr && to != nullptr &&
           MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

OsFile osFileCreateTemporary(const char *path, char *tempPath, size_t size) {
    if (path == nullptr || tempPath == nullptr || size == 0) return OS_INVALID_FILE;
    for (int attempt = 0; attempt < 16; ++attempt) {
        // The name mixes the clock with the process and a counter; the open
        // refuses a name that exists (CREATE_NEW), so a planted one is skipped.
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        unsigned long long mix = (unsigned long long)now.QuadPart * 0x9E3779B97F4A7C15ull ^
                                 ((unsigned long long)GetCurrentProcessId() << 20) ^ (unsigned long long)attempt;
        int n = snprintf(tempPath, size, "%s.%012llx", path, mix & 0xFFFFFFFFFFFFull);
        if (n < 0 || (size_t)n >= size) break;
        OsFile f = osFileOpen(tempPath, OS_FILE_WRITE | OS_FILE_TRUNCATE | OS_FILE_EXCLUSIVE | OS_FILE_PLAIN_ONLY);
        if (f != OS_INVALID_FILE) return f;
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    tempPath[0] = '\0';
    return OS_INVALID_FILE;
}

bool osFileDelete(const char *path) { return path != nullptr && DeleteFileA(path) != 0; }

// The rights of the programs' folder under ProgramData, not inherited from
// it: SYSTEM and the administrators have full control; users may list it,
// add files and read and write every file in it (the log is shared by every
// user), but hold no delete right on the folder's files nor on the folder
// itself, so nobody can remove or replace another's file; the user who made
// a file has full control of it (CREATOR OWNER).
const char SHARED_DIR_RIGHTS[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICIIO;FA;;;CO)"
                                 "(A;;0x1200AB;;;BU)(A;OIIO;FRFW;;;BU)";

bool osSharedDirCreate(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    SECURITY_ATTRIBUTES sa;
    sa.nLength = sizeof sa;
    sa.bInheritHandle = FALSE;
    sa.lpSecurityDescriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(SHARED_DIR_RIGHTS, SDDL_REVISION_1,
                                                              &sa.lpSecurityDescriptor, nullptr)) {
        return false;
    }
    bool ok = CreateDirectoryA(path, &sa) != 0;
    DWORD error = GetLastError();
    LocalFree(sa.lpSecurityDescriptor);
    return ok || (error == ERROR_ALREADY_EXISTS && osIsDirectory(path));
}

bool osDirCreate(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    if (CreateDirectoryA(path, nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && osIsDirectory(path);
}

bool osDirRemove(const char *path) { return path != nullptr && RemoveDirectoryA(path) != 0; }

static bool removeTree(const char *path, int depth) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (a & FILE_ATTRIBUTE_READONLY) SetFileAttributesA(path, a & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        return (a & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path) != 0 : DeleteFileA(path) != 0;
    }
    if (depth > 64) return false;
    char pattern[MAX_PATH + 4];
    int n = snprintf(pattern, sizeof pattern, "%s\\*", path);
    if (n < 0 || (size_t)n >= sizeof pattern) return false;
    bool ok = true;
    WIN32_FIND_DATAA fd;
    HANDLE find = FindFirstFileA(pattern, &fd);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0) continue;
            char child[MAX_PATH + 4];
            n = snprintf(child, sizeof child, "%s\\%s", path, fd.cFileName);
            if (n < 0 || (size_t)n >= sizeof child || !removeTree(child, depth + 1)) ok = false;
        } while (FindNextFileA(find, &fd));
        FindClose(find);
    }
    return RemoveDirectoryA(path) != 0 && ok;
}

bool osDirRemoveTree(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    char trimmed[MAX_PATH + 4];
    int n = snprintf(trimmed, sizeof trimmed, "%s", path);
    if (n <= 0 || (size_t)n >= sizeof trimmed) return false;
    while (n > 1 && (trimmed[n - 1] == '\\' || trimmed[n - 1] == '/')) trimmed[--n] = '\0';
    return removeTree(trimmed, 0);
}

static bool fileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info) {
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = GetFileInformationByHandle(h, info) != 0;
    CloseHandle(h);
    return ok;
}

bool osSameFile(const char *a, const char *b) {
    if (a == nullptr || b == nullptr) return false;
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!fileIdentity(a, &ia) || !fileIdentity(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

uint32_t osFileAttributes(const char *path) {
    if (path == nullptr) return OS_ATTR_INVALID;
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return OS_ATTR_INVALID;
    return (uint32_t)a & (OS_ATTR_READONLY | OS_ATTR_DIRECTORY);
}

bool osSetReadOnly(const char *path, bool readOnly) {
    if (path == nullptr) return false;
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    a = readOnly ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~(DWORD)FILE_ATTRIBUTE_READONLY);
    if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesA(path, a) != 0;
}

int osTempDir(char *buffer, size_t size) {
    char path[MAX_PATH + 2];
    DWORD n = GetTempPathA(sizeof path, path);
    if (n == 0 || n >= sizeof path) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return -1;
    }
    return copyOut(path, buffer, size);
}

// ---------------------------------------------------------------------------
// Environment and modules
// ---------------------------------------------------------------------------

int osGetEnv(const char *name, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (name == nullptr || buffer == nullptr || size == 0) return -1;
    DWORD room = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : (DWORD)size;
    SetLastError(ERROR_SUCCESS);
    DWORD n = GetEnvironmentVariableA(name, buffer, room);
    if (n == 0) {
        buffer[0] = '\0';
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? -1 : 0;
    }
    if (n >= room) {
        buffer[0] = '\0';
        return -1;
    }
    return (int)n;
}

bool osSetEnv(const char *name, const char *value) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '=') != nullptr) return false;
    return SetEnvironmentVariableA(name, value) != 0;
}

static char g_mainOverride[MAX_PATH + 1];

void osMainModulePathOverride(const char *path) {
    if (path == nullptr) {
        g_mainOverride[0] = '\0';
    } else {
        snprintf(g_mainOverride, sizeof g_mainOverride, "%s", path);
    }
}

static int modulePath(HMODULE module, char *buffer, size_t size) {
    if (buffer == nullptr || size == 0) return -1;
    DWORD room = size > 0x7FFFFFFFu ? 0x7FFFFFFFu : (DWORD)size;
    DWORD n = GetModuleFileNameA(module, buffer, room);
    if (n == 0 || n >= room) {
        buffer[0] = '\0';
        return -1;
    }
    return (int)n;
}

int osMainModulePath(char *buffer, size_t size) {
    if (g_mainOverride[0] != '\0') return copyOut(g_mainOverride, buffer, size);
    return modulePath(nullptr, buffer, size);
}

int osModulePathOf(const void *address, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)address, &module)) {
        return -1;
    }
    return modulePath(module, buffer, size);
}

int osSharedDataDir(char *buffer, size_t size) {
    // Set and not empty: the value (when it does not fit, there is no folder).
    if (GetEnvironmentVariableA("ALLUSERSPROFILE", nullptr, 0) > 1) return osGetEnv("ALLUSERSPROFILE", buffer, size);
    char path[MAX_PATH];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return -1;
    }
    return copyOut(path, buffer, size);
}
