// The Agent's main window: three pictures, the middle one showing whether a
// report connection is open.
#pragma once
#include "agent/core/agent_state.h"
#include "resources/agent/agent_resources.h"

#include <windows.h>

constexpr int kAgentWindowWidth = 320;
constexpr int kAgentWindowHeight = 200;

// What the window asks of its program; any may be null.
struct AgentWindowCallbacks {
    void* context = nullptr;
    // Called at destruction, after the font and mutex are released.
    void (*destroyed)(void* context) = nullptr;
};

// What the window procedure works on; the window holds its address.
struct AgentWindow {
    AgentState* state = nullptr;
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    HFONT font = nullptr;
    HANDLE mutex = nullptr;
    wchar_t title[100] = {};
    wchar_t className[100] = {};
    // A line under the pictures (where the metrics endpoint serves); none when empty.
    wchar_t status[80] = {};
    AgentWindowCallbacks callbacks;
};

ATOM registerAgentClass(const AgentWindow& w);
// Creates the main window (visible, caption, system menu, minimise box),
// centred on a screen of the given size. Null on failure.
HWND createAgentWindow(AgentWindow& w, int screenWidth, int screenHeight);
LRESULT CALLBACK agentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Position of the window for a screen: centred, integer division.
POINT agentWindowOrigin(int screenWidth, int screenHeight);

// The reporting thread's invalidate callback: context is the AgentWindow.
void invalidateAgentWindow(void* context);
