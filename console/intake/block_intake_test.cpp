#include "console/intake/intake.h"
#include "protocol/report_block.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Records what the intake does to the window.
struct FakeWindow {
    std::wstring title = kConsoleTitle;
    int titleWrites = 0;
    std::vector<std::string> tabResets;
};
FakeWindow* gWindow = nullptr;

IntakeWindowHooks fakeHooks() {
    IntakeWindowHooks h;
    h.readTitle = [](void*, wchar_t* out, int n) {
        std::wcsncpy(out, gWindow->title.c_str(), n);
        out[n - 1] = L'\0';
        return true;
    };
    h.writeTitle = [](void*, const wchar_t* t) {
        gWindow->title = t;
        ++gWindow->titleWrites;
    };
    h.resetTabs = [](void*, const char* label) { gWindow->tabResets.push_back(label); };
    return h;
}

class Intake : public ::testing::Test {
  protected:
    void SetUp() override {
        gWindow = &window;
        initGpuPanelState(state);
        for (auto& s : samples)
            clearGpuSample(&s);
    }
    void TearDown() override { gWindow = nullptr; }

    void send(int gpuCount, const char* label = "192.0.2.20") {
        buildReportBlock(samples, gpuCount, label, block);
        outcome = applyReportBlock(state, block, fakeHooks());
    }
    // A block written by hand, padded with zeros.
    void sendText(const std::string& text) {
        std::memset(block, 0, sizeof block);
        std::memcpy(block, text.data(), text.size() < sizeof block ? text.size() : sizeof block);
        outcome = applyReportBlock(state, block, fakeHooks());
    }

    FakeWindow window;
    GpuPanelState state;
    GpuSample samples[kGpuSlotCount];
    uint8_t block[kReportBlockBytes];
    BlockOutcome outcome{};
};

TEST_F(Intake, StartUpState) {
    EXPECT_EQ(0, relaxed(state.gpuCount));
    char label[kTabLabelBytes];
    copyTabLabel(state, 0, label);
    EXPECT_STREQ("- empty - (UNKNOWN \x90\xDA\x91\xB1)", label);
    copyTabLabel(state, 1, label);
    EXPECT_STREQ("", label);
    wchar_t name[kFullNameChars + 1];
    copyFullName(state, 7, name);
    EXPECT_STREQ(L"- empty -", name);
    char address[16];
    copyAgentAddress(state, address);
    EXPECT_STREQ("", address);
}

TEST_F(Intake, EveryFieldLandsInItsSlotWithItsConversion) {
    for (int slot = 0; slot < 2; ++slot) {
        std::swprintf(samples[slot].fullName, kFullNameChars + 1, L"GPU %d", slot);
        std::snprintf(samples[slot].tabLabel, kTabLabelBytes, "GPU %d(%d)", slot, slot + 1);
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSampleFieldBits(&samples[slot], k,
                               kSampleFields[k].kind == WireKind::Flag ? 1u : 1000u * k + slot);
    }
    samples[0].memoryTotal = 4294967295u;
    samples[0].temperature = -5;
    samples[2].graphicsClock = 777; // a third GPU part that gpuCount 2 excludes
    send(2);
    ASSERT_EQ(BlockOutcome::Applied, outcome);
    EXPECT_EQ(2, relaxed(state.gpuCount));
    for (int slot = 0; slot < 2; ++slot) {
        PanelSlotSnapshot snap = snapshotPanelSlot(state, slot);
        EXPECT_EQ(1, snap.graphicsClockSupported);
        EXPECT_EQ(1000 * 2 + slot, snap.graphicsClock);
        EXPECT_EQ(static_cast<uint32_t>(1000 * 41 + slot), snap.coreVoltage);
        EXPECT_EQ(static_cast<uint32_t>(1000 * 35 + slot), snap.fanLevel);
        EXPECT_EQ(1000 * 24 + slot, snap.powerDraw);
        wchar_t expectedName[16];
        std::swprintf(expectedName, 16, L"GPU %d", slot);
        EXPECT_STREQ(expectedName, snap.fullName);
    }
    PanelSlotSnapshot first = snapshotPanelSlot(state, 0);
    EXPECT_EQ(4294967295u, first.memoryTotal);
    EXPECT_EQ(-5, first.temperature);
    EXPECT_STREQ("GPU 0(1)", first.tabLabel);
    EXPECT_EQ(0, relaxed(state.slots[2].graphicsClock));
}

TEST_F(Intake, TitleIsExtendedOncePerConnection) {
    send(1);
    EXPECT_EQ(L"Kovra Gaugeline Console ===> [Agent: 192.0.2.20] \x304B\x3089\x63A5\x7D9A", window.title);
    send(1, "192.0.2.21");
    EXPECT_EQ(1, window.titleWrites);
    char label[kAgentLabelChars + 1];
    copyAgentLabel(state, label);
    EXPECT_STREQ("192.0.2.21", label);

    resetGpuPanelState(state, fakeHooks());
    EXPECT_EQ(std::wstring(kConsoleTitle), window.title);
    send(1, "10.0.0.9");
    EXPECT_EQ(L"Kovra Gaugeline Console ===> [Agent: 10.0.0.9] \x304B\x3089\x63A5\x7D9A", window.title);
}

TEST_F(Intake, ResetClearsCurrentReadingsAndKeepsTheRest) {
    for (GpuSample& sample : samples) {
        for (int k = 0; k < kSampleFieldCount; ++k)
            setSampleFieldBits(&sample, k, 5);
        std::strcpy(sample.tabLabel, "Example GPU (DP \x90\xDA\x91\xB1)");
    }
    send(kGpuSlotCount);
    resetGpuPanelState(state, fakeHooks());

    EXPECT_EQ(1, relaxed(state.gpuCount));
    for (int slot = 0; slot < kGpuSlotCount; ++slot) {
        PanelSlotSnapshot s = snapshotPanelSlot(state, slot);
        for (int32_t v : {s.graphicsClock, s.memoryClock, s.processorClock, s.videoClock, s.gpuLoad,
                          s.temperature, s.powerDraw})
            EXPECT_EQ(0, v) << slot;
        for (uint32_t v : {s.fanRpm, s.fanLevel, s.busInterfaceLoad, s.videoEngineLoad,
                           s.memoryControllerLoad, s.coreVoltage, s.memoryUsage})
            EXPECT_EQ(0u, v) << slot;
        // Flags, rated clocks, totals and limits survive the reset.
        EXPECT_EQ(5, s.graphicsClockSupported) << slot;
        EXPECT_EQ(5, s.graphicsClockRated) << slot;
        EXPECT_EQ(5u, s.memoryTotal) << slot;
        EXPECT_EQ(5, s.powerLimit) << slot;
        EXPECT_EQ(5, s.pState) << slot;
        EXPECT_EQ(5u, s.coreVoltageRated) << slot;
        EXPECT_STREQ(L"- empty -", s.fullName) << slot;
        EXPECT_STREQ(slot == 0 ? "- empty - (UNKNOWN \x90\xDA\x91\xB1)" : "", s.tabLabel) << slot;
    }
    ASSERT_EQ(1u, window.tabResets.size());
    EXPECT_EQ("- empty - (UNKNOWN \x90\xDA\x91\xB1)", window.tabResets[0]);
}

std::string gpuPart(const std::string& name, const std::string& label, const std::string& value) {
    std::string part = name + "\n" + label + "\n";
    for (int k = 0; k < kSampleFieldCount; ++k)
        part += value + "\n";
    return part;
}

// Every stored field of a slot by name, widened so that signed and unsigned
// values compare as numbers.
std::map<std::string, int64_t> storedFields(const GpuPanelSlot& slot) {
    std::map<std::string, int64_t> fields;
#define GAUGELINE_READ_FIELD(name, kind, conv) fields[#name] = relaxed(slot.name);
    GAUGELINE_SAMPLE_FIELDS(GAUGELINE_READ_FIELD)
#undef GAUGELINE_READ_FIELD
    return fields;
}

TEST_F(Intake, UnsignedFieldsParseLikeStrtoulTheOthersLikeAtoi) {
    // Lines 20, 22, 32, 34, 36, 38, 40, 42 and 44 of a GPU part.
    const std::set<std::string> unsignedFields = {
        "memoryTotal", "memoryUsage", "memoryControllerLoad", "videoEngineLoad", "busInterfaceLoad",
        "fanLevel",    "fanRpm",      "coreVoltageRated",     "coreVoltage"};
    const struct {
        const char* line;
        int64_t asStrtoul, asAtoi;
    } cases[] = {
        {"-1", 4294967295, -1},
        {"3000000000", 3000000000, INT32_MAX},
        {"-3000000000", 1294967296, INT32_MIN},
    };
    for (const auto& c : cases) {
        sendText(std::string("1.2.3.4\n1\n") + gpuPart("N", "L", c.line));
        ASSERT_EQ(BlockOutcome::Applied, outcome);
        const std::map<std::string, int64_t> fields = storedFields(state.slots[0]);
        ASSERT_EQ(fields.size(), static_cast<size_t>(kSampleFieldCount));
        for (const auto& [name, value] : fields)
            EXPECT_EQ(unsignedFields.count(name) ? c.asStrtoul : c.asAtoi, value) << name << " " << c.line;
    }
}

TEST_F(Intake, GpuCountOutOfRange) {
    struct Case {
        const char* countLine;
        int parts;
        int32_t storedCount;
        BlockOutcome outcome;
    } cases[] = {
        {"0", 1, 0, BlockOutcome::NoGpus},           {"-3", 1, -3, BlockOutcome::NoGpus},
        {"x", 1, 0, BlockOutcome::NoGpus},           {"9", 8, 8, BlockOutcome::Applied},
        {"2147483647", 8, 8, BlockOutcome::Applied},
    };
    for (const Case& c : cases) {
        initGpuPanelState(state);
        std::string text = std::string("1.2.3.4\n") + c.countLine + "\n";
        for (int i = 0; i < c.parts; ++i)
            text += gpuPart("N", "L", "7");
        sendText(text);
        EXPECT_EQ(c.outcome, outcome) << c.countLine;
        EXPECT_EQ(c.storedCount, relaxed(state.gpuCount)) << c.countLine;
        if (c.outcome == BlockOutcome::NoGpus)
            EXPECT_EQ(0, relaxed(state.slots[0].graphicsClock)) << c.countLine;
        else
            EXPECT_EQ(7, relaxed(state.slots[7].graphicsClock)) << c.countLine;
    }
}

TEST_F(Intake, BadLinesHaveDefinedOutcomes) {
    // A block that stops in the middle of part 0: what came is stored.
    std::string text = "1.2.3.4\n1\nName\nLabel\n1\n1\n1733000\n5005";
    sendText(text);
    EXPECT_EQ(BlockOutcome::Truncated, outcome);
    EXPECT_EQ(1733000, relaxed(state.slots[0].graphicsClock));
    EXPECT_EQ(0, relaxed(state.slots[0].memoryClock));

    // A 150-byte label is cut to 49 bytes; a 200-byte numeric line reads its first 99.
    initGpuPanelState(state);
    std::string longLabel(150, 'L');
    std::string part = gpuPart("N", longLabel, "3");
    part.replace(part.find("3\n"), 1, std::string(99, '1') + std::string(101, '9'));
    sendText("1.2.3.4\n1\n" + part);
    EXPECT_EQ(BlockOutcome::Applied, outcome);
    char label[kTabLabelBytes];
    copyTabLabel(state, 0, label);
    EXPECT_EQ(std::string(49, 'L'), label);
    EXPECT_EQ(INT32_MAX, relaxed(state.slots[0].graphicsClockSupported));
    EXPECT_EQ(3, relaxed(state.slots[0].memoryClockSupported));

    // Embedded zero bytes end a number; the line still ends at its newline.
    initGpuPanelState(state);
    std::string withZero = gpuPart("N", "L", "4");
    withZero.replace(withZero.find("4\n"), 1,
                     std::string("12\0"
                                 "34",
                                 5));
    sendText("1.2.3.4\n1\n" + withZero);
    EXPECT_EQ(BlockOutcome::Applied, outcome);
    EXPECT_EQ(12, relaxed(state.slots[0].graphicsClockSupported));
    EXPECT_EQ(4, relaxed(state.slots[0].memoryClockSupported));

    // No newline at all: nothing but a truncated outcome.
    initGpuPanelState(state);
    std::memset(block, 'A', sizeof block);
    EXPECT_EQ(BlockOutcome::Truncated, applyReportBlock(state, block, fakeHooks()));
    EXPECT_EQ(0, relaxed(state.gpuCount));
}

TEST_F(Intake, LabelOf49CharactersIsStoredWhole) {
    std::memset(samples[0].tabLabel, 'Q', 49);
    samples[0].tabLabel[49] = '\0';
    send(1);
    char label[kTabLabelBytes];
    copyTabLabel(state, 0, label);
    EXPECT_EQ(std::string(49, 'Q'), label);
}

TEST_F(Intake, NamesConvertFromCodePage932AndAreCutTo39) {
    std::wcscpy(samples[0].fullName, L"\x63A5\x7D9A GPU");
    send(1);
    wchar_t name[kFullNameChars + 1];
    copyFullName(state, 0, name);
    EXPECT_STREQ(L"\x63A5\x7D9A GPU", name);

    sendText("1.2.3.4\n1\n" + gpuPart(std::string(60, 'n'), "L", "0"));
    copyFullName(state, 0, name);
    EXPECT_EQ(std::wstring(39, L'n'), name);
}

} // namespace
