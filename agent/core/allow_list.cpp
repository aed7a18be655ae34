#include "agent/core/allow_list.h"

#include "net/tcp.h"

#include <cstdio>
#include <cstring>

namespace {

uint32_t hostOrder(uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const uint8_t*>(&networkOrder);
    return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

enum class EntryError { None, NotAddress, HostBits, TooMany };

struct EntryProblem {
    EntryError error = EntryError::None;
    const char* entry = "";
    size_t length = 0;
    uint32_t network = 0; // HostBits: what the entry would have admitted
    int bits = 0;
};

EntryError parseEntry(const char* text, size_t length, uint32_t* network, uint32_t* mask, int* bitsOut) {
    const char* slash = static_cast<const char*>(std::memchr(text, '/', length));
    size_t addressLength = slash ? size_t(slash - text) : length;
    uint32_t address = 0;
    if (!parseStrictDottedQuad(text, addressLength, &address))
        return EntryError::NotAddress;
    int bits = 32;
    if (slash) {
        size_t i = addressLength + 1;
        if (i >= length || length - i > 2 || (length - i == 2 && text[i] == '0'))
            return EntryError::NotAddress;
        bits = 0;
        for (; i < length; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return EntryError::NotAddress;
            bits = bits * 10 + (text[i] - '0');
        }
        if (bits > 32)
            return EntryError::NotAddress;
    }
    *mask = bits == 0 ? 0 : ~uint32_t(0) << (32 - bits);
    *network = address & *mask;
    *bitsOut = bits;
    // An entry with bits past its prefix was most likely meant as one host;
    // taking it as its whole network would admit far more than was typed.
    return *network == address ? EntryError::None : EntryError::HostBits;
}

// Adds the entries of text to *list; on a problem *list is left as it was.
bool addEntries(const char* text, AllowList* list, EntryProblem* problem) {
    AllowList grown = *list;
    const char* p = text ? text : "";
    for (;;) {
        const char* comma = std::strchr(p, ',');
        size_t length = comma ? size_t(comma - p) : std::strlen(p);
        uint32_t network = 0, mask = 0;
        int bits = 0;
        EntryError error = parseEntry(p, length, &network, &mask, &bits);
        bool known = false;
        for (int i = 0; i < grown.count && !known; ++i)
            known = grown.network[i] == network && grown.mask[i] == mask;
        if (error == EntryError::None && !known && grown.count == kAllowListMax)
            error = EntryError::TooMany;
        if (error != EntryError::None) {
            *problem = {error, p, length, network, bits};
            return false;
        }
        if (!known) {
            grown.network[grown.count] = network;
            grown.mask[grown.count] = mask;
            ++grown.count;
        }
        if (!comma)
            break;
        p = comma + 1;
    }
    *list = grown;
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
    EntryProblem problem;
    if (!addEntries(text, &list, &problem)) {
        if (badEntry) {
            size_t n = problem.length < 63 ? problem.length : 63;
            std::memcpy(badEntry, problem.entry, n);
            badEntry[n] = '\0';
        }
        *out = AllowList{};
        return false;
    }
    *out = list;
    return true;
}

bool addAllowList(const char* text, AllowList* list, const char* what, char* message, size_t messageSize) {
    EntryProblem problem;
    if (addEntries(text, list, &problem))
        return true;
    int length = static_cast<int>(problem.length < 63 ? problem.length : 63);
    uint32_t n = problem.network;
    switch (problem.error) {
    case EntryError::HostBits:
        std::snprintf(message, messageSize, "%s: %.*s has host bits set; the network is %u.%u.%u.%u/%d", what,
                      length, problem.entry, n >> 24, (n >> 16) & 255, (n >> 8) & 255, n & 255, problem.bits);
        break;
    case EntryError::TooMany:
        std::snprintf(message, messageSize, "%s: more than %d addresses and blocks in all", what,
                      kAllowListMax);
        break;
    default:
        std::snprintf(message, messageSize, "%s: \"%.*s\" is not an IPv4 address or CIDR block", what, length,
                      problem.entry);
        break;
    }
    return false;
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
