// The Console's main window: class, creation of the window and its controls,
// layout, messages, painting and tear-down.
#pragma once
#include "console/display/console_app_win.h"
#include "console/intake/logging/update_tick_win.h"
#include "resources/console/console_resources.h"

#include <windows.h>

// Loads the title and class name strings and registers the class. On
// failure shows "ウィンドウを作成できません" and sets appRunning to 0.
bool registerConsoleClass(ConsoleApp& app, HINSTANCE instance);
// Creates the main window, the frames, the check box, the button, the font
// and the tab strip, centres the window and initialises the shared state.
// Shows the failure message and returns false when something cannot be made.
bool createMainWindow(ConsoleApp& app);
// Makes the drawing templates, shows the window and paints it.
void showMainWindow(ConsoleApp& app, int showCommand);

// Fills app.hooks with window calls on app's main window and tab strip.
void installWindowHooks(ConsoleApp& app);
// What the update tick works on: app's state and controls, and the display's
// once-a-second duties on app.
UpdateTickLinks updateTickLinks(ConsoleApp& app);

// The display's duties of a tick.
void advanceHistories(ConsoleApp& app, int slot);
// Brings the tab strip to gpuCount tabs (at most 8) and sets tab slot's text.
void syncGpuTab(ConsoleApp& app, int slot);
void advanceGridPhase(ConsoleApp& app);
// Marks the six meters, six graphs and the readout panel for repainting.
void invalidatePlotAreas(ConsoleApp& app);

// Lays the controls out for the window's current size.
void layoutMainWindow(ConsoleApp& app, int clientWidth);
