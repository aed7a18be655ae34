// The Console's main window: class, creation of the window and its controls,
// layout, messages, painting and tear-down.
#pragma once
#include "console/app/console_app_win.h"
#include "resources/console/console_resources.h"

#include <windows.h>

// Loads the title and class name strings and registers the class. On
// failure shows "ウィンドウを作成できません" and sets appRunning to 0.
bool registerConsoleClass(ConsoleApp& app, HINSTANCE instance);
// Creates the main window, the frames, the check box, the button, the font
// and the tab strip and centres the window (initConsoleState comes first).
// Shows the failure message and returns false when something cannot be made.
bool createMainWindow(ConsoleApp& app);
// Makes the drawing templates, shows the window and paints it.
void showMainWindow(ConsoleApp& app, int showCommand);

// Fills app.windowCallbacks with window calls on app's main window and tab strip.
void installWindowCallbacks(ConsoleApp& app);
// The window's duties of a tick.
// Brings the tab strip to gpuCount tabs (at most 8) and sets tab slot's text.
void syncGpuTab(ConsoleApp& app, int slot);
// Marks the six meters, six graphs and the readout panel for repainting.
void invalidatePlotAreas(ConsoleApp& app);

// Lays the controls out for the window's current size.
void layoutMainWindow(ConsoleApp& app, int clientWidth);
