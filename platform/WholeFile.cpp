#include "platform/WholeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace lynx::platform {

namespace {

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

bool Fail(const std::string& path, std::string* error)
{
    *error = "cannot write '" + path + "': " + std::strerror(errno);
    return false;
}

} // namespace

bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string* error)
{
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return Fail(path, error);
        bool ok = WriteAll(fd, bytes);
        int saved = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            saved = errno;
        }
        errno = saved;
        return ok || Fail(path, error);
    }
    // A name of its own beside the target, so that the rename stays on one
    // file system; created with the usual mode (the umask applies).
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1));
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return Fail(path, error);
    bool ok = WriteAll(fd, bytes) && (!exists || ::fchmod(fd, existing.st_mode & 07777) == 0) && ::fsync(fd) == 0;
    int saved = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    if (ok)
        saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return Fail(path, error);
}

} // namespace lynx::platform
