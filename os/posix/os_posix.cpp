// os_posix.cpp - the operating-system layer on Linux: paths, files, folders,
// environment and modules.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "os/os.h"

// ---------------------------------------------------------------------------
// Paths and files
// ---------------------------------------------------------------------------

char osPathSeparator() { return '/'; }
bool osIsPathSeparator(char c) { return c == '/'; }

OsFile osFileOpen(const char *path, unsigned flags) {
    if (path == nullptr) return OS_INVALID_FILE;
    int mode;
    if ((flags & OS_FILE_READ) && (flags & OS_FILE_WRITE)) {
        mode = O_RDWR;
    } else if (flags & OS_FILE_WRITE) {
        mode = O_WRONLY;
    } else {
        mode = O_RDONLY;
    }
    if (flags & OS_FILE_TRUNCATE) {
        mode |= O_CREAT | O_TRUNC;
    } else if (flags & OS_FILE_CREATE) {
        mode |= O_CREAT;
    }
    if (flags & OS_FILE_APPEND) mode |= O_APPEND;
    if ((flags & OS_FILE_EXCLUSIVE) && (mode & O_CREAT)) mode |= O_EXCL;
    // A plain-only open neither follows a link nor waits for a FIFO's other
    // end; the non-blocking mode is cleared again once the file is known to
    // be a regular one.
    const bool plain = (flags & OS_FILE_PLAIN_ONLY) != 0;
    if (plain) mode |= O_NOFOLLOW | O_NONBLOCK;
    int fd;
    do {
        fd = open(path, mode | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return OS_INVALID_FILE;
    struct stat st;
    bool refused = fstat(fd, &st) != 0 || S_ISDIR(st.st_mode) || (plain && !S_ISREG(st.st_mode));
    if (!refused && plain) refused = fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0;
    if (refused) {
        close(fd);
        return OS_INVALID_FILE;
    }
    return (OsFile)fd;
}

int32_t osFileRead(OsFile f, void *buffer, uint32_t size) {
    if (f == OS_INVALID_FILE) return -1;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    ssize_t n;
    do {
        n = read((int)f, buffer, size);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : (int32_t)n;
}

int32_t osFileWrite(OsFile f, const void *data, uint32_t size) {
    if (f == OS_INVALID_FILE) return -1;
    if (size > 0x7FFFFFFFu) size = 0x7FFFFFFFu;
    const char *p = (const char *)data;
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = write((int)f, p + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (done == 0) return -1;
            break;
        }
        if (n == 0) break;
        done += (uint32_t)n;
    }
    return (int32_t)done;
}

int64_t osFileSeek(OsFile f, int64_t offset, OsSeek whence) {
    if (f == OS_INVALID_FILE) return -1;
    int w = whence == OS_SEEK_SET ? SEEK_SET : whence == OS_SEEK_CUR ? SEEK_CUR : SEEK_END;
    off_t r = lseek((int)f, (off_t)offset, w);
    return r < 0 ? -1 : (int64_t)r;
}

int64_t osFileSize(OsFile f) {
    if (f == OS_INVALID_FILE) return -1;
    struct stat st;
    if (fstat((int)f, &st) != 0) return -1;
    return (int64_t)st.st_size;
}

bool osFileTruncate(OsFile f, int64_t size) {
    if (f == OS_INVALID_FILE || size < 0) return false;
    int r;
    do {
        r = ftruncate((int)f, (off_t)size);
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool osFileFlush(OsFile f) {
    if (f == OS_INVALID_FILE) return false;
    return fsync((int)f) == 0 || errno == EINVAL;
}

void osFileClose(OsFile f) {
    if (f != OS_INVALID_FILE) close((int)f);
}

bool osPathExists(const char *path) {
    struct stat st;
    return path != nullptr && stat(path, &st) == 0;
}

bool osIsDirectory(const char *path) {
    struct stat st;
    return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Copies a regular file to a new file 'to' (which must not exist) and keeps
// the permission bits; removes a partial copy on failure.
static bool copyNewFile(const char *from, const char *to) {
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat st;
    if (fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(in);
        return false;
    }
    int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, st.st_mode & 07777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buf[16384];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) break;
        if (osFileWrite((OsFile)out, buf, (uint32_t)n) != (int32_t)n) {
            ok = false;
            break;
        }
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) unlink(to);
    return ok;
}

bool osFileMove(const char *from, const char *to) {
    if (from == nullptr || to == nullptr) return false;
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    int err = errno;
    if (err == EINVAL || err == ENOSYS) {
        // File system without no-replace renames: check, then rename.
        struct stat st;
        if (lstat(to, &st) == 0) return false;
        if (rename(from, to) == 0) return true;
        err = errno;
    }
    if (err != EXDEV) return false;
    // Another file system: copy, then delete the original.
    if (!copyNewFile(from, to)) return false;
    if (unlink(from) != 0) {
        unlink(to);
        return false;
    }
    return true;
}

bool osFileReplace(const char *from, const char *to) {
    return from != nullptr && to != nullptr && rename(from, to) == 0;
}

OsFile osFileCreateTemporary(const char *path, char *tempPath, size_t size) {
    if (path == nullptr || tempPath == nullptr || size == 0) return OS_INVALID_FILE;
    // mkstemp's pattern: six characters it replaces with random ones, and it
    // creates the file with O_EXCL (a name planted meanwhile is not used).
    int n = snprintf(tempPath, size, "%s.XXXXXX", path);
    if (n < 0 || (size_t)n >= size) {
        tempPath[0] = '\0';
        return OS_INVALID_FILE;
    }
    int fd = mkostemp(tempPath, O_CLOEXEC);
    if (fd < 0) {
        tempPath[0] = '\0';
        return OS_INVALID_FILE;
    }
    // mkstemp makes it 0600; the file it becomes is read by every user.
    fchmod(fd, 0644);
    return (OsFile)fd;
}

bool osFileDelete(const char *path) {
    if (path == nullptr) return false;
    struct stat st;
    if (lstat(path, &st) != 0 || S_ISDIR(st.st_mode)) return false;
    return unlink(path) == 0;
}

bool osDirCreate(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    if (mkdir(path, 0777) == 0) return true;
    return errno == EEXIST && osIsDirectory(path);
}

bool osSharedDirCreate(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    const mode_t shared = 01777;
    if (mkdir(path, shared) == 0) return chmod(path, shared) == 0;  // the umask took bits away
    struct stat st;
    if (errno != EEXIST || lstat(path, &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    // A folder an older driver made writable for all (mode 0777): others
    // could remove or replace its files until it has the sticky bit.
    if (st.st_uid == geteuid() && (st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX)) {
        chmod(path, (st.st_mode & 07777) | S_ISVTX);
    }
    return true;
}

bool osDirRemove(const char *path) { return path != nullptr && rmdir(path) == 0; }

static bool removeTreeAt(int parent, const char *name, int depth) {
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (!S_ISDIR(st.st_mode)) return unlinkat(parent, name, 0) == 0;
    if (depth > 64) return false;
    int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    DIR *dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return false;
    }
    bool ok = true;
    while (struct dirent *e = readdir(dir)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
        if (!removeTreeAt(dirfd(dir), e->d_name, depth + 1)) ok = false;
    }
    closedir(dir);
    return unlinkat(parent, name, AT_REMOVEDIR) == 0 && ok;
}

bool osDirRemoveTree(const char *path) {
    if (path == nullptr || path[0] == '\0') return false;
    return removeTreeAt(AT_FDCWD, path, 0);
}

bool osSameFile(const char *a, const char *b) {
    struct stat sa, sb;
    if (a == nullptr || b == nullptr) return false;
    if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

uint32_t osFileAttributes(const char *path) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return OS_ATTR_INVALID;
    uint32_t attr = 0;
    if (S_ISDIR(st.st_mode)) attr |= OS_ATTR_DIRECTORY;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attr |= OS_ATTR_READONLY;
    return attr;
}

bool osSetReadOnly(const char *path, bool readOnly) {
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) return false;
    mode_t mode = st.st_mode & 07777;
    if (readOnly) {
        mode &= ~(mode_t)(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        mode |= S_IWUSR;
    }
    return chmod(path, mode) == 0;
}

int osTempDir(char *buffer, size_t size) {
    char path[PATH_MAX];
    const char *tmp = getenv("TMPDIR");
    if (tmp == nullptr || tmp[0] == '\0' || !osIsDirectory(tmp)) tmp = "/tmp";
    size_t n = strlen(tmp);
    if (n + 2 > sizeof path) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return -1;
    }
    memcpy(path, tmp, n);
    if (path[n - 1] != '/') path[n++] = '/';
    path[n] = '\0';
    return copyOut(path, buffer, size);
}

// ---------------------------------------------------------------------------
// Environment and modules
// ---------------------------------------------------------------------------

int osGetEnv(const char *name, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    if (name == nullptr) return -1;
    const char *value = getenv(name);
    if (value == nullptr) return -1;
    return copyOut(value, buffer, size);
}

bool osSetEnv(const char *name, const char *value) {
    if (name == nullptr || name[0] == '\0' || strchr(name, '=') != nullptr) return false;
    if (value == nullptr) return unsetenv(name) == 0;
    return setenv(name, value, 1) == 0;
}

static char g_mainOverride[PATH_MAX];

void osMainModulePathOverride(const char *path) {
    if (path == nullptr) {
        g_mainOverride[0] = '\0';
    } else {
        snprintf(g_mainOverride, sizeof g_mainOverride, "%s", path);
    }
}

int osMainModulePath(char *buffer, size_t size) {
    if (g_mainOverride[0] != '\0') return copyOut(g_mainOverride, buffer, size);
    char path[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    if (n <= 0) {
        if (buffer != nullptr && size > 0) buffer[0] = '\0';
        return -1;
    }
    path[n] = '\0';
    return copyOut(path, buffer, size);
}

int osModulePathOf(const void *address, char *buffer, size_t size) {
    if (buffer != nullptr && size > 0) buffer[0] = '\0';
    Dl_info info;
    struct link_map *map = nullptr;
    if (dladdr1(address, &info, (void **)&map, RTLD_DL_LINKMAP) == 0) return -1;
    // The main program has an empty name in the loader's list.
    if (map != nullptr && map->l_name != nullptr && map->l_name[0] == '\0') {
        return osMainModulePath(buffer, size);
    }
    const char *name = info.dli_fname;
    if (name == nullptr || name[0] == '\0') return -1;
    if (name[0] == '/') return copyOut(name, buffer, size);
    char full[PATH_MAX];
    if (realpath(name, full) == nullptr) return copyOut(name, buffer, size);
    return copyOut(full, buffer, size);
}

int osSharedDataDir(char *buffer, size_t size) {
    const char *value = getenv("ALLUSERSPROFILE");
    if (value == nullptr || value[0] == '\0') value = "/var/lib";
    return copyOut(value, buffer, size);
}
