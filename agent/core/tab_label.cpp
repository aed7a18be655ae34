#include "agent/core/tab_label.h"

#include "protocol/text_cp932.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

// "接続" in code page 932.
#define GAUGELINE_SETSUZOKU "\x90\xDA\x91\xB1"

const char* connectorSuffix(int32_t connectorType) {
    switch (connectorType) {
    case -1:
    case 0:
        return " (UNKNOWN " GAUGELINE_SETSUZOKU ")";
    case 1:
        return " (VGA " GAUGELINE_SETSUZOKU ")";
    case 2:
        return " (COMPONENT " GAUGELINE_SETSUZOKU ")";
    case 3:
        return " (SVIDEO " GAUGELINE_SETSUZOKU ")";
    case 4:
        return " (HDMI " GAUGELINE_SETSUZOKU ")";
    case 5:
        return " (DVI " GAUGELINE_SETSUZOKU ")";
    case 6:
        return " (LVDS " GAUGELINE_SETSUZOKU ")";
    case 7:
        return " (DP " GAUGELINE_SETSUZOKU ")";
    case 8:
        return " (COMPOSITE " GAUGELINE_SETSUZOKU ")";
    default:
        return "";
    }
}

int buildTabLabel(const wchar_t* fullName, int slot, int gpuCount, int32_t connectorType,
                  char out[kTabLabelBytes]) {
    char suffix[32] = {};
    if (gpuCount >= 2)
        std::snprintf(suffix, sizeof suffix, "(%d)", slot + 1);
    if (connectorType != kNoConnector)
        std::strncat(suffix, connectorSuffix(connectorType), sizeof suffix - std::strlen(suffix) - 1);
    int suffixLength = static_cast<int>(std::strlen(suffix));
    std::memset(out, 0, kTabLabelBytes);
    // The name gets what the suffixes leave of the 49 bytes, and never more
    // than the 50 bytes a name may take on the wire.
    int room = kTabLabelBytes - 1 - suffixLength;
    wchar_t name[kFullNameChars + 1];
    std::wcsncpy(name, fullName ? fullName : L"", kFullNameChars);
    name[kFullNameChars] = L'\0';
    int length = wideToCp932(name, out, room + 1);
    std::memcpy(out + length, suffix, suffixLength);
    return length + suffixLength;
}
