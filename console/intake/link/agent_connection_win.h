// The IP input dialog (resource 139) and the address table of this machine.
#pragma once
#include "console/intake/link/agent_connection.h"
#include "resources/console/console_resources.h"

#include <windows.h>

constexpr int kAgentDialogId = IDD_AGENT_ADDRESS;
constexpr int kAddressBoxIds[4] = {IDC_ADDRESS_1, IDC_ADDRESS_2, IDC_ADDRESS_3, IDC_ADDRESS_4};
constexpr int kConnectButtonId = IDC_CONNECT;

// Shows dialog 139 modally over owner; "接続" runs connectToAgent, listening
// on listener first.
void openAgentDialog(HINSTANCE instance, HWND owner, GpuPanelState& state, const IntakeWindowCallbacks& hooks,
                     ListenerSlot& listener);

// Rows of the IPv4 address table, read into a buffer of the size the address
// table itself asks for. Returns the row count (at most maxRows), -1 when the
// table cannot be read.
int readAddressTable(AddressRow* rows, int maxRows);
// The first primary DHCP address of this machine; false when there is none.
bool findLocalAddress(char out[16]);
