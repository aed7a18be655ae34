// The IP input dialog (resource 139) and the address table of this machine.
#pragma once
#include "console/intake/agent_connection.h"

#include <windows.h>

constexpr int kAgentDialogId = 139;
constexpr int kAddressBoxIds[4] = {1031, 1032, 1033, 1034};
constexpr int kConnectButtonId = 1011;

// Shows dialog 139 modally over owner; "接続" runs connectToAgent, listening
// on listener first.
void openAgentDialog(HINSTANCE instance, HWND owner, GpuPanelState& state, const IntakeWindowHooks& hooks,
                     ListenerSlot& listener);

// Rows of the IPv4 address table, read into a buffer of the size the address
// table itself asks for. Returns the row count (at most maxRows), -1 when the
// table cannot be read.
int readAddressTable(AddressRow* rows, int maxRows);
// The first primary DHCP address of this machine; false when there is none.
bool findLocalAddress(char out[16]);
