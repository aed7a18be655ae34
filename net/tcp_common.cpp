#include "net/tcp.h"

#include <cstdio>

namespace {
// One part of an inet_addr text: decimal, 0-prefixed octal or 0x-prefixed hex.
const char* parsePart(const char* p, uint64_t* value) {
    uint64_t v = 0;
    int base = 10;
    if (*p == '0') {
        base = 8;
        ++p;
        if (*p == 'x' || *p == 'X') {
            base = 16;
            ++p;
            if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F')))
                return nullptr;
        }
    } else if (!(*p >= '0' && *p <= '9')) {
        return nullptr;
    }
    for (;; ++p) {
        int d;
        if (*p >= '0' && *p <= '9')
            d = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f')
            d = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F')
            d = *p - 'A' + 10;
        else
            break;
        if (d >= base)
            return nullptr;
        v = v * base + d;
        if (v > 0xFFFFFFFFull)
            return nullptr;
    }
    *value = v;
    return p;
}
} // namespace

bool parseInetAddr(const char* text, uint32_t* networkOrder) {
    if (!text)
        return false;
    uint64_t parts[4];
    int n = 0;
    const char* p = text;
    for (;;) {
        if (n == 4)
            return false;
        p = parsePart(p, &parts[n]);
        if (!p)
            return false;
        ++n;
        if (*p == '.') {
            ++p;
            continue;
        }
        if (*p != '\0')
            return false;
        break;
    }
    uint64_t host;
    switch (n) {
    case 1:
        host = parts[0];
        break;
    case 2:
        if (parts[0] > 0xFF || parts[1] > 0xFFFFFF)
            return false;
        host = parts[0] << 24 | parts[1];
        break;
    case 3:
        if (parts[0] > 0xFF || parts[1] > 0xFF || parts[2] > 0xFFFF)
            return false;
        host = parts[0] << 24 | parts[1] << 16 | parts[2];
        break;
    default:
        for (int i = 0; i < 4; ++i)
            if (parts[i] > 0xFF)
                return false;
        host = parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3];
        break;
    }
    uint32_t h = static_cast<uint32_t>(host);
    const unsigned char bytes[4] = {static_cast<unsigned char>(h >> 24), static_cast<unsigned char>(h >> 16),
                                    static_cast<unsigned char>(h >> 8), static_cast<unsigned char>(h)};
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        reinterpret_cast<unsigned char*>(&out)[i] = bytes[i];
    *networkOrder = out;
    return true;
}

void formatInetAddr(uint32_t networkOrder, char out[16]) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}
