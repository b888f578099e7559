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

std::string utf8(const wchar_t *text) {
    std::string out;
    for (; text && *text; ++text) {
        uint32_t c = uint32_t(*text);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}
} // namespace hid
