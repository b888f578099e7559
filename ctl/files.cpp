#include "ctl/files.h"

#include "link/link_errors.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ctl {

namespace {

std::string notRegular(mode_t mode) {
    const char *kind = S_ISDIR(mode)                    ? "a directory"
                       : S_ISFIFO(mode)                 ? "a FIFO"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "not a file";
    return std::string("not a regular file (") + kind + ")";
}

bool writeAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Reads up to limit bytes from the start of fd (or from where it stands).
bool readUpTo(int fd, size_t limit, std::string &text, bool fromStart) {
    text.assign(limit, '\0');
    size_t done = 0;
    while (done < limit) {
        const ssize_t n = fromStart ? ::pread(fd, &text[done], limit - done, off_t(done))
                                    : ::read(fd, &text[done], limit - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        done += size_t(n);
    }
    text.resize(done);
    return true;
}

// The file a path names: through a symbolic link to where it points, so that
// the link stays a link.
bool resolve(const std::string &file, std::string &target) {
    struct stat link;
    target = file;
    if (::lstat(file.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return true;
    char resolved[PATH_MAX];
    if (!::realpath(file.c_str(), resolved))
        return false;
    target = resolved;
    return true;
}

} // namespace

std::string replaceFile(const std::string &file, const std::string &text) {
    std::string target;
    if (!resolve(file, target))
        return errnoMeaning(errno);
    struct stat old;
    const bool exists = ::stat(target.c_str(), &old) == 0;
    if (!exists && errno != ENOENT)
        return errnoMeaning(errno);
    if (exists && !S_ISREG(old.st_mode))
        return notRegular(old.st_mode);
    // A file we may not write stays as it is, though the directory would let
    // us replace it.
    if (exists && ::access(target.c_str(), W_OK) != 0)
        return errnoMeaning(errno);

    const size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = directory + (directory == "." ? "/." : ".") + base + ".XXXXXX";
    const int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0)
        return errnoMeaning(errno);

    std::string error;
    mode_t mode = 0;
    if (exists) {
        mode = old.st_mode & 07777;
        struct stat fresh;
        // The owner first: changing it clears set-user-ID and set-group-ID bits.
        if (::fstat(fd, &fresh) != 0)
            error = errnoMeaning(errno);
        else if ((fresh.st_uid != old.st_uid || fresh.st_gid != old.st_gid) &&
                 ::fchown(fd, old.st_uid, old.st_gid) != 0)
            error = "its owner and group (" + std::to_string(old.st_uid) + ":" +
                    std::to_string(old.st_gid) + ") cannot be kept: " + errnoMeaning(errno);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    std::string back;
    if (error.empty() && ::fchmod(fd, mode) != 0)
        error = errnoMeaning(errno);
    if (error.empty() && (!writeAll(fd, text) || ::fsync(fd) != 0))
        error = errnoMeaning(errno);
    if (error.empty() && !readUpTo(fd, text.size() + 1, back, true))
        error = errnoMeaning(errno);
    if (error.empty() && back != text)
        error = "the written file reads back differently";
    if (::close(fd) != 0 && error.empty())
        error = errnoMeaning(errno);
    if (error.empty() && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errnoMeaning(errno);
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return error;
    }
    // The rename itself reaches the disk with the directory.
    const int dir = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return std::string();
}

std::string readRegularFile(const std::string &file, size_t limit, std::string &text,
                            bool &openFailed) {
    openFailed = false;
    // Anything but a regular file is refused before it is opened (opening a
    // device can act on it); the file opened is checked again, and opened
    // without blocking, as a FIFO put in its place must not wait for a writer.
    struct stat named;
    if (::stat(file.c_str(), &named) == 0 && !S_ISREG(named.st_mode))
        return notRegular(named.st_mode);
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openFailed = true;
        return errnoMeaning(errno);
    }
    struct stat st;
    std::string error;
    if (::fstat(fd, &st) != 0)
        error = errnoMeaning(errno);
    else if (!S_ISREG(st.st_mode))
        error = notRegular(st.st_mode);
    else if (!readUpTo(fd, limit, text, false))
        error = errnoMeaning(errno);
    ::close(fd);
    return error;
}

} // namespace ctl
