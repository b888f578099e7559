// Raw register access as the tool, the panel's register view and the server
// offer it: checked against the device model's rules before anything reaches
// the bus, and a write that is sent even when the cache holds the byte.
#pragma once

#include <cstdint>
#include <string>

class IvrDevice;

// The device model's own text for an access its rules refuse ("Attempt to
// write to unwriteable address: 0d1"), or "" when they allow it. No board is
// needed: the rules are checked before any transfer.
std::string accessRefusal(uint8_t address, bool write);

// Writes one register: a write-only one is forced, any other goes through the
// cache and is committed. Throws the model's refusal or the link's failure.
void writeRegister(IvrDevice &device, uint8_t address, uint8_t value);
