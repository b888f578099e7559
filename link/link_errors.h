// What a link failure means, for the line a program prints under the link's
// own text: the link's texts stay fixed ("Error during USB read: 110"), and
// the reader still learns that 110 is a time-out, or how to get access to a
// node that only root may open.
#pragma once

#include <string>

// The name of the udev rule that gives users access to the bridge's node.
constexpr const char *BRIDGE_UDEV_RULE = "70-qm44xx-bridge.rules";

// An exchange with the bridge failed ("Error during USB read: 110", "... write:
// 19"): the bridge is gone or does not answer, and its link is not used again.
bool isLinkFailure(const std::string &text);

// The meaning of an errno value, as strerror gives it: "Connection timed out".
std::string errnoMeaning(int error);

// For a link text that ends in an errno value ("Error opening motherboard USB
// connection: 13", "Error during USB read: 110", "Error during USB write: 19"),
// a line that says what it means: "(Connection timed out)"; for a permission
// error, the meaning and the udev rule that grants access. "" for any other text.
std::string linkErrorHint(const std::string &linkText);
