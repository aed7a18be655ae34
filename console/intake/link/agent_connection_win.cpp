#include "console/intake/link/agent_connection_win.h"

#include "console/intake/link/intake.h"

#include <iphlpapi.h>

#include <vector>

namespace {

struct DialogContext {
    GpuPanelState* state;
    const IntakeWindowCallbacks* hooks;
    ListenerSlot* listener;
    HWND dialog;
};

bool machineAddress(void*, char out[16]) {
    return findLocalAddress(out);
}

void readBoxes(void* context, char boxes[4][kBoxChars + 2]) {
    HWND dialog = static_cast<DialogContext*>(context)->dialog;
    for (int i = 0; i < 4; ++i) {
        wchar_t text[kBoxChars + 2] = {};
        GetDlgItemTextW(dialog, kAddressBoxIds[i], text, kBoxChars + 2);
        // Kept as typed; a character outside ASCII becomes '?', which no
        // address reading accepts.
        int n = 0;
        for (int k = 0; text[k] != L'\0' && n < kBoxChars + 1; ++k)
            boxes[i][n++] = text[k] < 0x80 ? static_cast<char>(text[k]) : '?';
        boxes[i][n] = '\0';
    }
}

INT_PTR CALLBACK agentDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        for (int id : kAddressBoxIds) {
            SendDlgItemMessageW(dialog, id, EM_LIMITTEXT, kBoxChars, 0);
            SetDlgItemTextW(dialog, id, L"");
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == kConnectButtonId) {
            auto* context = reinterpret_cast<DialogContext*>(GetWindowLongPtrW(dialog, DWLP_USER));
            context->dialog = dialog;
            ConnectConfig config;
            config.listener = context->listener;
            const ConnectCallbacks callbacks{context, readBoxes, machineAddress, nullptr};
            ConnectOutcome outcome = connectToAgent(*context->state, *context->hooks, config, callbacks);
            if (outcome == ConnectOutcome::CannotListen) {
                // The operator may free the port and press "接続" again.
                MessageBoxW(dialog, L"ポート 58680 を受信に使えません", L"Kovra Gaugeline", MB_OK);
                return TRUE;
            }
            if (outcome == ConnectOutcome::Failed)
                MessageBoxW(dialog, L"接続出来ませんでした", kConsoleTitle, MB_OK);
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    case WM_CLOSE:
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void openAgentDialog(HINSTANCE instance, HWND owner, GpuPanelState& state, const IntakeWindowCallbacks& hooks,
                     ListenerSlot& listener) {
    DialogContext context = {&state, &hooks, &listener, nullptr};
    DialogBoxParamW(instance, MAKEINTRESOURCEW(kAgentDialogId), owner, agentDialogProc,
                    reinterpret_cast<LPARAM>(&context));
}

int readAddressTable(AddressRow* rows, int maxRows) {
    ULONG size = 0;
    if (GetIpAddrTable(nullptr, &size, FALSE) != ERROR_INSUFFICIENT_BUFFER || size == 0)
        return -1;
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (GetIpAddrTable(table, &size, FALSE) != NO_ERROR)
        return -1;
    int count = 0;
    for (DWORD i = 0; i < table->dwNumEntries && count < maxRows; ++i) {
        rows[count].address = table->table[i].dwAddr;
        rows[count].typeFlags = table->table[i].wType;
        ++count;
    }
    return count;
}

bool findLocalAddress(char out[16]) {
    AddressRow rows[64];
    int count = readAddressTable(rows, 64);
    return count > 0 && localAddressFromRows(rows, count, out);
}
