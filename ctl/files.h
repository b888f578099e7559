// The tool's configuration files on disk: written whole or not at all, read
// only when they are regular files. POSIX, no Qt.
#pragma once

#include <cstddef>
#include <string>

namespace ctl {

// Replaces file by text, or leaves it as it was: the text goes to a temporary
// file beside it, which is written, flushed to disk, read back and compared,
// given the old file's permission bits, owner and group, and renamed over it.
// A symbolic link is followed (the file it names is replaced). Refuses
// anything but a regular file, a file the caller may not write, and an owner
// or group that cannot be kept. Returns "" or what went wrong ("File too
// large", "not a regular file (a FIFO)", ...).
std::string replaceFile(const std::string &file, const std::string &text);

// Reads at most limit bytes of a regular file into text; never waits for a
// writer (a FIFO is refused, not read). Returns "" or what went wrong, with
// openFailed set when the file could not even be opened.
std::string readRegularFile(const std::string &file, size_t limit, std::string &text,
                            bool &openFailed);

} // namespace ctl
