#include "agent/allow_list.h"

#include "net/tcp.h"

#include <cstring>

namespace {

uint32_t hostOrder(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

bool parseEntry(const char* text, size_t length, uint32_t* network, uint32_t* mask) {
    const char* slash = static_cast<const char*>(std::memchr(text, '/', length));
    size_t addressLength = slash ? size_t(slash - text) : length;
    uint32_t address = 0;
    if (!parseStrictDottedQuad(text, addressLength, &address))
        return false;
    int bits = 32;
    if (slash) {
        size_t i = addressLength + 1;
        if (i >= length || length - i > 2)
            return false;
        bits = 0;
        for (; i < length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            bits = bits * 10 + (text[i] - '0');
        }
        if (bits > 32)
            return false;
    }
    *mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    *network = address & *mask;
    return true;
}

} // namespace

bool parseStrictDottedQuad(const char* text, size_t length, uint32_t* hostOrderOut) {
    uint32_t value = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        size_t start = i;
        uint32_t part = 0;
        while (i < length && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            part = part * 10 + uint32_t(text[i++] - '0');
        size_t digits = i - start;
        if (digits == 0 || part > 255 || (digits > 1 && text[start] == '0'))
            return false;
        value = (value << 8) | part;
        ++parts;
        if (parts < 4) {
            if (i >= length || text[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != length)
        return false;
    *hostOrderOut = value;
    return true;
}

bool parseAllowList(const char* text, AllowList* out, char badEntry[64]) {
    AllowList list;
    const char* p = text ? text : "";
    for (;;) {
        const char* comma = std::strchr(p, ',');
        size_t length = comma ? size_t(comma - p) : std::strlen(p);
        if (list.count == kAllowListMax ||
            !parseEntry(p, length, &list.network[list.count], &list.mask[list.count])) {
            if (badEntry) {
                size_t n = length < 63 ? length : 63;
                std::memcpy(badEntry, p, n);
                badEntry[n] = '\0';
            }
            *out = AllowList{};
            return false;
        }
        ++list.count;
        if (!comma)
            break;
        p = comma + 1;
    }
    *out = list;
    return true;
}

bool allowListAdmits(const AllowList* list, uint32_t addressNetworkOrder) {
    if (!list || list->count == 0)
        return true;
    uint32_t address = hostOrder(addressNetworkOrder);
    for (int i = 0; i < list->count; ++i)
        if ((address & list->mask[i]) == list->network[i])
            return true;
    return false;
}

bool allowListAdmitsText(const AllowList* list, const char* dotted) {
    if (!list || list->count == 0)
        return true;
    uint32_t address = 0;
    return dotted && parseInetAddr(dotted, &address) && allowListAdmits(list, address);
}
