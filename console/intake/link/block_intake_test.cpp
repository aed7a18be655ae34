#include "console/intake/link/intake.h"
#include "protocol/wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

std::wstring gTitle;
std::vector<std::string> gTabResets;

// Every stored field of a slot in line order, widened so that signed and
// unsigned values compare as numbers.
std::vector<int64_t> storedFields(const GpuPanelSlot& slot) {
    std::vector<int64_t> fields;
#define GAUGELINE_READ_FIELD(name, kind, conv) fields.push_back(relaxed(slot.name));
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_READ_FIELD)
#undef GAUGELINE_READ_FIELD
    return fields;
}

// How the Console reads each of a GPU part's 42 number lines, in line order
// (lines 3 to 44): 'u' with strtoul (memory total and usage, the memory
// controller, video engine and bus loads, fan level and rpm, both core
// voltages), 'a' with atoi (the flags, clocks, loads, temperature, power,
// driver model and P-state).
constexpr char kConversions[] = "aaaaaaaaaaaaaaaaa" // lines 3-19
                                "uaua"              // 20-23: 20 memoryTotal, 22 memoryUsage
                                "aaaaaaaa"          // 24-31
                                "uauauauauauau";    // 32-44, every other line
static_assert(sizeof kConversions - 1 == 42, "one conversion per number line");

std::string gpuPart(const std::string& name, const std::string& label, const std::string& value) {
    std::string part = name + "\n" + label + "\n";
    for (int k = 0; k < kSampleFieldCount; ++k)
        part += value + "\n";
    return part;
}

// GPU part `slot`: its number line k + 3 carries 1000 k + slot.
std::string numberedPart(int slot) {
    std::string part = "\x90\xDA\x91\xB1 GPU " + std::to_string(slot) + "\nGPU " + std::to_string(slot) +
                       "(" + std::to_string(slot + 1) + ")\n";
    for (int k = 0; k < kSampleFieldCount; ++k)
        part += std::to_string(1000 * k + slot) + "\n";
    return part;
}

BlockOutcome apply(GpuPanelState& state, std::string text, const IntakeWindowCallbacks& hooks) {
    text.resize(kReportBlockBytes); // padded with zeros
    return applyReportBlock(state, reinterpret_cast<const uint8_t*>(text.data()), hooks);
}

// The number lines a reset clears ('c'): the current readings; flags, rated
// clocks, totals, limits, driver model and P-state survive it.
constexpr char kClearedByReset[] = "..cc.c.c.."
                                   ".....c...c"
                                   ".c..c....c"
                                   ".c.c.c.c...c";
static_assert(sizeof kClearedByReset - 1 == 42, "one mark per number line");

TEST(Intake, EveryFieldLandsTheTitleIsExtendedOncePerConnectionAResetKeepsWhatIsNotAReadingAndLinesParse) {
    GpuPanelState state;
    initGpuPanelState(state);
    IntakeWindowCallbacks hooks;
    gTitle = kConsoleTitle;
    hooks.readTitle = [](void*, wchar_t* out, int n) {
        return std::swprintf(out, n, L"%ls", gTitle.c_str()) > 0;
    };
    hooks.writeTitle = [](void*, const wchar_t* t) { gTitle = t; };
    hooks.resetTabs = [](void*, const char* label) { gTabResets.push_back(label); };
    const std::string parts = numberedPart(0) + numberedPart(1) + numberedPart(2);
    ASSERT_EQ(BlockOutcome::Applied,
              apply(state, "192.0.2.20\n2\n" + parts, hooks)); // the third part is left out
    const std::wstring title = L"Kovra Gaugeline Console ===> [Agent: 192.0.2.20] \x304B\x3089\x63A5\x7D9A";
    EXPECT_EQ(title, gTitle);
    apply(state, "192.0.2.21\n2\n" + parts, hooks); // the title names the first Agent until a reset
    EXPECT_EQ(title, gTitle);
    for (bool reset : {false, true}) {
        if (reset)
            resetGpuPanelState(state, hooks);
        EXPECT_EQ(reset ? 1 : 2, relaxed(state.gpuCount));
        for (int slot = 0; slot < 3; ++slot) {
            std::vector<int64_t> expected(kSampleFieldCount, 0);
            for (int k = 0; slot < 2 && k < kSampleFieldCount; ++k)
                expected[k] = reset && kClearedByReset[k] == 'c' ? 0 : 1000 * k + slot;
            EXPECT_EQ(expected, storedFields(state.slots[slot])) << slot << reset;
        }
        const PanelSlotSnapshot slot0 = snapshotPanelSlot(state, 0), slot1 = snapshotPanelSlot(state, 1);
        EXPECT_EQ(std::wstring(slot0.fullName) + L"|" + slot1.fullName,
                  reset ? L"- empty -|- empty -" : L"\x63A5\x7D9A GPU 0|\x63A5\x7D9A GPU 1");
        EXPECT_EQ(std::string(slot0.tabLabel) + "|" + slot1.tabLabel,
                  reset ? std::string(kEmptyTabLabel) + "|" : "GPU 0(1)|GPU 1(2)");
    }
    EXPECT_EQ(gTabResets, std::vector<std::string>{kEmptyTabLabel});
    EXPECT_EQ(kConsoleTitle, gTitle);

    std::string eightParts;
    for (int i = 0; i < 8; ++i)
        eightParts += gpuPart("N", "L", "7");
    const std::string head = "1.2.3.4\n1\n";
    // fields: how many lines of the last slot read were given, each as asStrtoul or asAtoi;
    // with none, the first slot keeps its empty name and label.
    const struct {
        std::string text;
        BlockOutcome outcome;
        int32_t gpuCount;
        int64_t asStrtoul, asAtoi;
        int fields = kSampleFieldCount;
        std::wstring name = L"N";
        std::string label = "L";
    } cases[] = {
        {head + gpuPart("N", "L", "-1"), BlockOutcome::Applied, 1, 4294967295, -1},
        {head + gpuPart("N", "L", " \t+12x3\r"), BlockOutcome::Applied, 1, 12, 12},
        {head + gpuPart("N", "L", "2147483648"), BlockOutcome::Applied, 1, 2147483648, INT32_MAX},
        {head + gpuPart("N", "L", "-3000000000"), BlockOutcome::Applied, 1, 1294967296, INT32_MIN},
        {head + gpuPart("N", "L", std::string(23, '9')), BlockOutcome::Applied, 1, 4294967295, INT32_MAX},
        // A zero byte ends the number.
        {head + gpuPart("N", "L", std::string("12\0x", 4)), BlockOutcome::Applied, 1, 12, 12},
        {"1.2.3.4\n9\n" + eightParts, BlockOutcome::Applied, 8, 7, 7},
        {head + gpuPart(std::string(60, 'n'), std::string(150, 'L'), "7"), BlockOutcome::Applied, 1, 7, 7,
         kSampleFieldCount, std::wstring(39, L'n'), std::string(49, 'L')},
        {head + "\x90\xDA\x91\xB1\nL\n7\n7\n7", BlockOutcome::Truncated, 1, 7, 7, 2, L"\x63A5\x7D9A"},
        {"1.2.3.4\n0\n" + gpuPart("N", "L", "7"), BlockOutcome::NoGpus, 0, 0, 0, 0},
        {"1.2.3.4\n-3\n" + gpuPart("N", "L", "7"), BlockOutcome::NoGpus, -3, 0, 0, 0},
        {std::string(kReportBlockBytes, 'A'), BlockOutcome::Truncated, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 12));
        initGpuPanelState(state);
        EXPECT_EQ(c.outcome, apply(state, c.text, hooks));
        EXPECT_EQ(c.gpuCount, relaxed(state.gpuCount));
        std::vector<int64_t> expected(kSampleFieldCount, 0);
        for (int k = 0; k < c.fields; ++k)
            expected[k] = kConversions[k] == 'u' ? c.asStrtoul : c.asAtoi;
        EXPECT_EQ(expected, storedFields(state.slots[std::max(0, std::min(c.gpuCount, 8) - 1)]));
        EXPECT_EQ(c.fields ? c.name : L"- empty -", snapshotPanelSlot(state, 0).fullName);
        EXPECT_EQ(c.fields ? c.label : kEmptyTabLabel, snapshotPanelSlot(state, 0).tabLabel);
    }
}

} // namespace
