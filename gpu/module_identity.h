// Identity of a loaded module as its PE headers give it: the optional header's
// CheckSum and the file header's TimeDateStamp.
#pragma once
#include <cstddef>
#include <cstdint>

struct ModuleIdentity {
    uint32_t checkSum = 0;
    uint32_t timeDateStamp = 0;
};

// Reads the identity from a module image (its DOS header first). False when the
// headers are not a PE image or do not fit in the given bytes.
bool readModuleIdentity(const uint8_t* image, size_t available, ModuleIdentity& identity);

// A module is the recorded one when its CheckSum matches, or, for a module
// without CheckSum, when its TimeDateStamp matches.
bool sameModuleIdentity(const ModuleIdentity& recorded, const ModuleIdentity& found);
