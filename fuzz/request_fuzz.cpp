// Any 20 bytes the Agent can receive as a request, any text read as an
// address, and any text read as a number from a report block's lines.
#include "net/tcp.h"
#include "protocol/decimal_text.h"
#include "protocol/report_block.h"

#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint8_t request[kRequestBytes];
    std::memset(request, 0, sizeof request);
    std::memcpy(request, data, size < sizeof request ? size : sizeof request);
    char address[kAddressTextMax + 1];
    if (readRequestAddress(request, address)) {
        uint32_t parsed;
        if (parseInetAddr(address, &parsed)) {
            char dotted[16];
            formatInetAddr(parsed, dotted);
            uint8_t again[kRequestBytes];
            if (!writeRequest(dotted, again))
                __builtin_trap();
        }
    }
    std::string text(reinterpret_cast<const char*>(data), size);
    decimalAtoi(text.c_str());
    decimalStrtoul(text.c_str());
    return 0;
}
