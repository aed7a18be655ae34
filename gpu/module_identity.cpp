#include "gpu/module_identity.h"

#include <cstring>

namespace {
uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
uint16_t read16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
constexpr size_t kPeHeaderOffsetField = 0x3C;
constexpr size_t kFileHeaderBytes = 20;
constexpr size_t kTimeDateStampInFileHeader = 4;
constexpr size_t kCheckSumInOptionalHeader = 64;
} // namespace

bool readModuleIdentity(const uint8_t* image, size_t available, ModuleIdentity& identity) {
    if (!image || available < kPeHeaderOffsetField + 4 || image[0] != 'M' || image[1] != 'Z')
        return false;
    uint32_t peOffset = read32(image + kPeHeaderOffsetField);
    size_t optional = size_t{peOffset} + 4 + kFileHeaderBytes;
    if (peOffset > available || optional + kCheckSumInOptionalHeader + 4 > available)
        return false;
    if (std::memcmp(image + peOffset, "PE\0\0", 4) != 0)
        return false;
    uint16_t magic = read16(image + optional);
    if (magic != 0x10B && magic != 0x20B)
        return false;
    identity.timeDateStamp = read32(image + peOffset + 4 + kTimeDateStampInFileHeader);
    identity.checkSum = read32(image + optional + kCheckSumInOptionalHeader);
    return true;
}

bool sameModuleIdentity(const ModuleIdentity& recorded, const ModuleIdentity& found) {
    if (found.checkSum != 0)
        return found.checkSum == recorded.checkSum;
    return found.timeDateStamp == recorded.timeDateStamp;
}
