// The backend table behind discovery (internal to link/).
#pragma once

#include "link/hid_backend.h"

#include <vector>

namespace hid {
const std::vector<Backend *> &backendTable();
// The first backend that owns the path, or nullptr.
Backend *backendForPath(const std::string &path);
// The platform's own backend (hidraw through hidapi).
Backend *platformBackend();
} // namespace hid
