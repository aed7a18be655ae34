#include "net/connection_places.h"

#include <gtest/gtest.h>

namespace {

// Places written as "A3": held by peer A, taken as 3 (smaller is older);
// "-": free.
TEST(ConnectionPlaces, OneHostGivesWayBeforeOthers) {
    struct Case {
        const char* places[4];
        int perPeerMax;
        char newcomer;
        int expected;
    } cases[] = {
        {{"A1", "-", "B2", "-"}, 2, 'A', -1},  // room, and A under its limit
        {{"A5", "A2", "-", "B1"}, 2, 'A', 1},  // A at its limit: its own oldest, not B's older one
        {{"B1", "A4", "A2", "C3"}, 3, 'D', 2}, // all held: the oldest of A, which holds most
        {{"A3", "B2", "A4", "B5"}, 2, 'C', 1}, // A and B hold as many: the older of their oldest
        {{"A1", "A2", "B3", "B4"}, 2, 'B', 2}, // all held and B at its limit: B's oldest
    };
    for (const Case& c : cases) {
        ConnectionPlace places[4];
        for (int i = 0; i < 4; ++i)
            if (c.places[i][0] != '-')
                places[i] = {true, static_cast<uint32_t>(c.places[i][0]),
                             static_cast<uint64_t>(c.places[i][1] - '0')};
        EXPECT_EQ(c.expected, placeToFree(places, 4, c.perPeerMax, static_cast<uint32_t>(c.newcomer)))
            << c.places[0] << " " << c.places[1] << " " << c.places[2] << " " << c.places[3] << " <- "
            << c.newcomer;
    }
}

} // namespace
