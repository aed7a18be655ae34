// How the intake reaches the main window: calls that the window fills in once
// it exists, each given the table's context. A null entry does nothing, so the
// intake runs without a window in tests.
#pragma once

struct IntakeWindowHooks {
    void* context = nullptr;
    // Reads the main window's title; false when there is none.
    bool (*readTitle)(void* context, wchar_t* out, int outChars) = nullptr;
    void (*writeTitle)(void* context, const wchar_t* title) = nullptr;
    // Selects tab 0 (the panels then show slot 0), deletes every other tab and
    // gives tab 0 the label (code page 932 bytes).
    void (*resetTabs)(void* context, const char* tab0Label) = nullptr;
};

// The product name that a title is compared with and reset to.
extern const wchar_t kConsoleTitle[];
