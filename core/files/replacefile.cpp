// Replacing a file through a temporary file and a rename (see replacefile.h).
#include "core/files/replacefile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace {

// Attempts at a free temporary name before giving up.
constexpr int kTempAttempts = 100;
// Digits of the largest process id Linux hands out (2^22).
constexpr std::size_t kPidDigits = 7;

int writeAll(int fd, std::span<const uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            return EIO;
        done += std::size_t(n);
    }
    return 0;
}

// The process id in a temporary name "<prefix><pid>-<attempt>.tmp", 0 when
// the name is not one of ours.
pid_t tempOwner(const char* name, const char* prefix)
{
    const std::size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0)
        return 0;
    const char* p = name + n;
    long pid = 0;
    const char* digits = p;
    while (*p >= '0' && *p <= '9' && p - digits < long(kPidDigits))
        pid = pid * 10 + (*p++ - '0');
    if (p == digits || *p++ != '-')
        return 0;
    const char* attempt = p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (p == attempt || std::strcmp(p, ".tmp") != 0)
        return 0;
    return pid_t(pid);
}

// A process killed outright between creating its temporary file and the
// rename leaves that file behind; the next save in the directory removes the
// ones whose process is gone. A file of a process that still runs (or that
// this user may not signal) is left alone.
void removeOrphanedTemps(const std::filesystem::path& dir, const char* prefix)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    while (const dirent* e = ::readdir(d)) {
        const pid_t owner = tempOwner(e->d_name, prefix);
        if (owner <= 0 || owner == ::getpid())
            continue;
        if (::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

}  // namespace

std::size_t longestTempName(const char* tempPrefix)
{
    return std::strlen(tempPrefix) + kPidDigits + 1 +
           std::to_string(kTempAttempts - 1).size() + std::strlen(".tmp");
}

int replaceFile(const std::string& path, std::span<const uint8_t> bytes, const ReplaceOptions& options)
{
    namespace fs = std::filesystem;
    std::error_code ec;

    // A file reached through a symbolic link is replaced where the link
    // points, so the link itself stays.
    fs::path target = path;
    if (fs::is_symlink(target, ec)) {
        const fs::path resolved = fs::weakly_canonical(target, ec);
        if (!ec)
            target = resolved;
    }
    // Only a regular file is replaced. A device, a pipe or a socket in its
    // place (a link to /dev/null, say) is left alone: a rename would put a
    // plain file where it was, which for root means losing /dev/null.
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return EISDIR;
    if (exists && !S_ISREG(old.st_mode))
        return EEXIST;

    fs::path dir = target.parent_path();
    if (dir.empty())
        dir = ".";
    removeOrphanedTemps(dir, options.tempPrefix);

    std::string tmp;
    int fd = -1;
    for (int attempt = 0; attempt < kTempAttempts && fd < 0; ++attempt) {
        tmp = (dir / (options.tempPrefix + std::to_string(::getpid()) + "-" +
                      std::to_string(attempt) + ".tmp"))
                  .string();
        fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;

    // The new file keeps the permissions of the one it replaces.
    if (exists)
        (void)::fchmod(fd, old.st_mode & 07777);

    int err = writeAll(fd, bytes);
    if (err == 0 && options.sync && ::fsync(fd) != 0)
        err = errno;
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err == 0 && ::rename(tmp.c_str(), target.c_str()) != 0)
        err = errno;
    if (err != 0)
        ::unlink(tmp.c_str());
    return err;
}

bool replaceFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes)
{
    return replaceFile(path, bytes) == 0;
}
