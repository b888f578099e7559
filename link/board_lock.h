// One program per board. Every open hidraw handle receives a copy of every input
// report, so two programs on one bridge would take each other's answers and
// corrupt each other without a sign. A program that opens the bridge therefore
// holds an exclusive advisory lock (flock) on its node until it closes it; a
// second one is refused at once, with the holder's name when it can be found.
#pragma once

#include <string>
#include <sys/types.h>

class BoardLock {
public:
    // Locks the node at path. Throws "board PATH is in use by NAME (pid N)" (or
    // "... by another program") while another lock is held on it, also one of
    // this process, and "Error opening motherboard USB connection: <errno>" when
    // the node cannot be opened or locked.
    explicit BoardLock(const std::string &path);
    ~BoardLock(); // releases the lock
    BoardLock(const BoardLock &) = delete;
    BoardLock &operator=(const BoardLock &) = delete;

    // The process holding a lock on the file (device, inode), going by the text
    // of /proc/locks; 0 when none is listed.
    static pid_t holderIn(const std::string &procLocks, dev_t device, ino_t inode);
    // The refusal text for a board held by pid (0: not known).
    static std::string inUseText(const std::string &path, pid_t pid);

private:
    int fd;
};
