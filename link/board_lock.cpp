#include "link/board_lock.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {
std::string openFailure(int error) {
    return "Error opening motherboard USB connection: " + std::to_string(error);
}

std::string fileText(const std::string &path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

BoardLock::BoardLock(const std::string &path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        throw openFailure(errno);
    int locked;
    do
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0)
        return;
    const int error = errno;
    pid_t holder = 0;
    struct stat node;
    if (error == EWOULDBLOCK && ::fstat(fd, &node) == 0)
        holder = holderIn(fileText("/proc/locks"), node.st_dev, node.st_ino);
    ::close(fd);
    if (error == EWOULDBLOCK)
        throw inUseText(path, holder);
    throw openFailure(error);
}

BoardLock::~BoardLock() {
    ::close(fd); // closing the last descriptor of the open file drops its lock
}

pid_t BoardLock::holderIn(const std::string &procLocks, dev_t device, ino_t inode) {
    // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10952735 0 EOF"; waiters read
    // "1: -> FLOCK ...". POSIX and OFD locks do not conflict with flock.
    std::istringstream lines(procLocks);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, type, kind, mode, file;
        long pid = 0;
        if (!(fields >> id >> type >> kind >> mode >> pid >> file) || type != "FLOCK")
            continue;
        unsigned fileMajor = 0, fileMinor = 0;
        unsigned long long number = 0;
        char rest = 0;
        if (std::sscanf(file.c_str(), "%x:%x:%llu%c", &fileMajor, &fileMinor, &number, &rest) != 3)
            continue;
        if (fileMajor == major(device) && fileMinor == minor(device) && number == inode && pid > 0)
            return pid_t(pid);
    }
    return 0;
}

std::string BoardLock::inUseText(const std::string &path, pid_t pid) {
    std::string name;
    if (pid > 0) {
        name = fileText("/proc/" + std::to_string(pid) + "/comm");
        while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
            name.pop_back();
    }
    if (name.empty())
        return "board " + path + " is in use by another program";
    return "board " + path + " is in use by " + name + " (pid " + std::to_string(pid) + ")";
}
