// Who may ask an Agent for reports or metrics: a list of IPv4 addresses and
// CIDR blocks from the command line ("192.0.2.5,10.0.0.0/8").
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int kAllowListMax = 64;

struct AllowList {
    int count = 0;                        // 0: no list given, everyone is allowed
    uint32_t network[kAllowListMax] = {}; // host byte order, already masked
    uint32_t mask[kAllowListMax] = {};
};

// Four decimal parts 0..255 joined by points, no leading zeros, exactly
// length characters; the result in host byte order. inet_addr's other
// spellings (octal, hex, short forms) are refused: on a command line they are
// more likely a slip than meant.
bool parseStrictDottedQuad(const char* text, size_t length, uint32_t* hostOrderOut);

// Reads a comma-separated list of dotted addresses, each with an optional
// "/bits" (0..32, no leading zero) and no bits set past its prefix. False,
// with *out left empty and the offending entry copied to badEntry (when given,
// at most 63 characters), for an empty list, an empty entry, more than
// kAllowListMax entries or anything that is not such an address.
bool parseAllowList(const char* text, AllowList* out, char badEntry[64] = nullptr);

// Adds the entries of such a list to *list, so that repeated options admit
// the union of all of them (an entry already there is not counted twice).
// False, with *list unchanged, when the text is not such a list or the
// entries would number more than kAllowListMax; message then holds one line
// naming what is wrong, beginning with what (for example "--allow-from").
bool addAllowList(const char* text, AllowList* list, const char* what, char* message, size_t messageSize);

// True when no list was given or the address (network order) falls in one of
// its entries.
bool allowListAdmits(const AllowList* list, uint32_t addressNetworkOrder);
// The same for dotted text; text that is not an address is not admitted by a list.
bool allowListAdmitsText(const AllowList* list, const char* dotted);
