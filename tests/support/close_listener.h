// Gives a test's listening port back. The Console keeps its port until it
// ends; a test that made one with ensureListening closes it here.
#pragma once
#include "console/intake/link/intake.h"
#include "net/tcp.h"

inline void closeListener(ListenerSlot& slot) {
    TcpSocket s = slot.socket.exchange(kNoSocket);
    if (s != kNoSocket) {
        tcpClose(s);
        netCleanup();
    }
}
