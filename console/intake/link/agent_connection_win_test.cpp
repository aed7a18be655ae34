#include "console/intake/link/agent_connection_win.h"

#include "net/tcp.h"

#include <gtest/gtest.h>

TEST(AgentConnectionWin, ReadsTheAddressTableWithLoopback) {
    AddressRow rows[64];
    int count = readAddressTable(rows, 64);
    ASSERT_GT(count, 0);
    uint32_t loopback = 0;
    ASSERT_TRUE(parseInetAddr("127.0.0.1", &loopback));
    bool sawLoopback = false;
    for (int i = 0; i < count; ++i)
        sawLoopback = sawLoopback || rows[i].address == loopback;
    EXPECT_TRUE(sawLoopback);
}
