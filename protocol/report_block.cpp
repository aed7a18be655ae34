#include "protocol/report_block.h"

#include "protocol/number_format.h"
#include "protocol/text_cp932.h"

#include <cstring>

namespace {

struct BlockWriter {
    uint8_t* out;
    int pos;
    // The longest possible text is about 3300 bytes; the bound only guards
    // against a caller's broken sample.
    void append(const char* text, int maxBytes) {
        for (int i = 0; i < maxBytes && text[i] != '\0' && pos < kReportBlockBytes - 1; ++i)
            out[pos++] = text[i] == '\n' ? ' ' : static_cast<uint8_t>(text[i]);
    }
    void endLine() {
        if (pos < kReportBlockBytes)
            out[pos++] = '\n';
    }
};

void appendField(BlockWriter& w, const GpuSample& s, int k) {
    char number[16];
    uint32_t bits = sampleFieldBits(s, k);
    switch (kSampleFields[k].kind) {
    case WireKind::Flag:
        number[0] = bits >= 1 && bits <= 9 ? static_cast<char>('0' + bits) : '0';
        number[1] = '\0';
        break;
    case WireKind::Unsigned:
        formatUnsigned(bits, number);
        break;
    case WireKind::Signed:
        formatSigned(static_cast<int32_t>(bits), number);
        break;
    }
    w.append(number, sizeof number);
    w.endLine();
}

} // namespace

int buildReportBlock(const GpuSample samples[kGpuSlotCount], int gpuCount, const char* agentLabel,
                     uint8_t out[kReportBlockBytes]) {
    std::memset(out, 0, kReportBlockBytes);
    BlockWriter w{out, 0};
    w.append(agentLabel, kAddressTextMax);
    w.endLine();
    char count[16];
    formatSigned(gpuCount, count);
    w.append(count, sizeof count);
    w.endLine();
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        const GpuSample& s = samples[slot];
        wchar_t name[kFullNameChars + 1];
        std::memcpy(name, s.fullName, sizeof name);
        name[kFullNameChars] = L'\0';
        char mbName[51];
        wideToCp932(name, mbName, sizeof mbName);
        w.append(mbName, 50);
        w.endLine();
        w.append(s.tabLabel, kTabLabelBytes - 1);
        w.endLine();
        for (int k = 0; k < kSampleFieldCount; ++k)
            appendField(w, s, k);
    }
    return w.pos;
}

bool writeRequest(const char* dottedAddress, uint8_t out[kRequestBytes]) {
    size_t len = std::strlen(dottedAddress);
    if (len > kAddressTextMax)
        return false;
    std::memset(out, 0, kRequestBytes);
    std::memcpy(out, dottedAddress, len);
    return true;
}

bool readRequestAddress(const uint8_t request[kRequestBytes], char out[kAddressTextMax + 1]) {
    for (int i = 0; i <= kAddressTextMax; ++i) {
        out[i] = static_cast<char>(request[i]);
        if (request[i] == 0)
            return true;
    }
    out[0] = '\0';
    return false;
}
