// POSIX file operations for settings.dat in the native build, so the same save and load
// logic runs in the native tests. Backslashes in the Windows-style paths become slashes; a
// path that starts with a drive letter ("C:\...") has no meaning here and fails with ENOENT
// rather than creating a folder named "C:" in the current directory. Errors are errno.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "settings/settings_file_ops.h"

namespace {

thread_local int LastErrno;

bool ToPosix(const char* path, std::string* out)
{
    if (!path || !path[0] || (path[0] && path[1] == ':')) {
        LastErrno = ENOENT;
        return false;
    }
    out->assign(path);
    for (char& c : *out)
        if (c == '\\')
            c = '/';
    return true;
}

// fd + 1, so that descriptor 0 is not mistaken for the null failure handle.
SettingsFileHandle FromFd(int fd)
{
    if (fd < 0) {
        LastErrno = errno;
        return nullptr;
    }
    return (SettingsFileHandle)(intptr_t)(fd + 1);
}

int ToFd(SettingsFileHandle file)
{
    return (int)(intptr_t)file - 1;
}

SettingsFileHandle PosixOpenRead(const char* path)
{
    std::string p;
    if (!ToPosix(path, &p))
        return nullptr;
    return FromFd(open(p.c_str(), O_RDONLY | O_CLOEXEC));
}

SettingsFileHandle PosixCreateTemp(const char* path)
{
    std::string p;
    if (!ToPosix(path, &p))
        return nullptr;
    return FromFd(open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
}

bool PosixRead(SettingsFileHandle file, void* buffer, uint32_t size, uint32_t* done)
{
    ssize_t n = read(ToFd(file), buffer, size);
    *done = n > 0 ? (uint32_t)n : 0;
    if (n < 0)
        LastErrno = errno;
    return n >= 0;
}

bool PosixWrite(SettingsFileHandle file, const void* data, uint32_t size, uint32_t* done)
{
    ssize_t n = write(ToFd(file), data, size);
    *done = n > 0 ? (uint32_t)n : 0;
    if (n < 0)
        LastErrno = errno;
    return n >= 0;
}

bool PosixFlush(SettingsFileHandle file)
{
    if (fsync(ToFd(file)) == 0)
        return true;
    LastErrno = errno;
    return false;
}

void PosixClose(SettingsFileHandle file)
{
    close(ToFd(file));
}

bool PosixMoveReplace(const char* from, const char* to)
{
    std::string a, b;
    if (!ToPosix(from, &a) || !ToPosix(to, &b))
        return false;
    if (rename(a.c_str(), b.c_str()) != 0) {
        LastErrno = errno;
        return false;
    }
    return true;
}

bool PosixRemove(const char* path)
{
    std::string p;
    if (!ToPosix(path, &p))
        return false;
    if (unlink(p.c_str()) != 0) {
        LastErrno = errno;
        return false;
    }
    return true;
}

bool PosixMakeDirectory(const char* path)
{
    std::string p;
    if (!ToPosix(path, &p))
        return false;
    // Each prefix ending before a slash, then the whole path.
    for (size_t i = 1; i <= p.size(); i++) {
        if (i < p.size() && p[i] != '/')
            continue;
        std::string prefix = p.substr(0, i);
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            LastErrno = errno;
            return false;
        }
    }
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

uint32_t PosixProcessId()
{
    return (uint32_t)getpid();
}

uint32_t PosixLastError()
{
    return (uint32_t)LastErrno;
}

const SettingsFileOps kPosixOps = {
    PosixOpenRead,    PosixCreateTemp, PosixRead,          PosixWrite,     PosixFlush,     PosixClose,
    PosixMoveReplace, PosixRemove,     PosixMakeDirectory, PosixProcessId, PosixLastError,
};

}  // namespace

const SettingsFileOps& PlatformSettingsFileOps()
{
    return kPosixOps;
}
