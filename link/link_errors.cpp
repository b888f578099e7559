#include "link/link_errors.h"

#include "device/text.h"

#include <cerrno>
#include <cstring>

namespace {
// The link's texts that end in an errno value.
const char *const ERRNO_TEXTS[] = {
    "Error opening motherboard USB connection: ",
    "Error during USB read: ",
    "Error during USB write: ",
};

bool errnoOf(const std::string &text, const std::string &prefix, int &error) {
    if (text.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string digits = text.substr(prefix.size());
    // No errno value is longer: a longer number is not one.
    long value = 0;
    if (digits.size() > 6 || !text::parseCount(digits, value))
        return false;
    error = int(value);
    return true;
}
} // namespace

bool isLinkFailure(const std::string &text) {
    return text.compare(0, 17, "Error during USB ") == 0;
}

std::string errnoMeaning(int error) {
    // The GNU strerror_r: thread-safe, and it may return a static text
    // instead of filling the buffer.
    char buffer[256] = {};
    return strerror_r(error, buffer, sizeof buffer);
}

std::string linkErrorHint(const std::string &linkText) {
    for (const char *prefix : ERRNO_TEXTS) {
        int error = 0;
        if (!errnoOf(linkText, prefix, error))
            continue;
        const std::string meaning = "(" + errnoMeaning(error) + ")";
        // A hidraw node is root's alone until a udev rule says otherwise.
        if (prefix == ERRNO_TEXTS[0] && (error == EACCES || error == EPERM))
            return meaning + " only root may open the bridge's node: install the udev rule " +
                   BRIDGE_UDEV_RULE +
                   " and plug the board in again (see \"Installing on Linux\" in the README)";
        return meaning;
    }
    return std::string();
}
