#include "link/hid_backend_table.h"

#include <algorithm>

namespace hid {
namespace {
std::vector<Backend *> &table() {
    static std::vector<Backend *> backends{platformBackend()};
    return backends;
}
} // namespace

const std::vector<Backend *> &backendTable() {
    return table();
}

Backend *backendForPath(const std::string &path) {
    for (Backend *backend : table()) {
        if (backend->ownsPath(path))
            return backend;
    }
    return nullptr;
}

void addBackend(Backend *backend, bool first) {
    removeBackend(backend);
    if (first)
        table().insert(table().begin(), backend);
    else
        table().push_back(backend);
}

void removeBackend(Backend *backend) {
    auto &backends = table();
    backends.erase(std::remove(backends.begin(), backends.end(), backend), backends.end());
}

void removePlatformBackend() {
    removeBackend(platformBackend());
}
} // namespace hid
