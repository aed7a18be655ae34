// How the intake reaches the main window. The window fills the table once it
// exists; a null entry does nothing, so the intake runs without a window in tests.
#pragma once

struct IntakeWindowHooks {
    // Reads the main window's title; false when there is none.
    bool (*readTitle)(wchar_t* out, int outChars) = nullptr;
    void (*writeTitle)(const wchar_t* title) = nullptr;
    // Selects tab 0 (the panels then show slot 0), deletes every other tab and
    // gives tab 0 the label (code page 932 bytes).
    void (*resetTabs)(const char* tab0Label) = nullptr;
};

// The product name that a title is compared with and reset to.
extern const wchar_t kConsoleTitle[];
