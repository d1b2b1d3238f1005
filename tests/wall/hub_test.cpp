#include <gtest/gtest.h>

#include "tests/wall/wall_util.h"
#include "wall/wallhub.h"

using namespace std::chrono_literals;

namespace {

struct hubTest : ::testing::Test {
    wallHub::clock::time_point now = wallHub::clock::time_point{} + 100h;
    wallHub hub{{"rack b", "rack a \"north\""}, [this] { return now; }};
    remoteScreen screen;

    std::string next(int slot, std::chrono::milliseconds wait = 0ms) {
        std::string message;
        EXPECT_TRUE(hub.next(slot, message, wait));
        return message;
    }
};

}  // namespace

TEST_F(hubTest, aViewerGetsTheWholeWallThenTheLatestOfWhatChanged) {
    const int a = hub.join(), b = hub.join();
    for (const int slot : {a, b}) {
        const std::string first = next(slot);
        EXPECT_EQ(first.rfind("{\"f\":1,", 0), 0u);
        EXPECT_NE(first.find("\"d\":\"rack a \\\"north\\\"\""), std::string::npos);
        EXPECT_EQ(countOf(first, "\"d\":"), 2u);
        EXPECT_EQ(countOf(first, "[24,"), 2u);   // every row of both
        EXPECT_EQ(next(slot), "");
    }
    putRow(screen.cells, 3, "first");
    hub.setRows(1, screen);
    putRow(screen.cells, 3, "second");
    hub.setRows(1, screen);
    hub.setRows(1, screen);   // no change
    const std::string change = next(a, 1000ms);
    EXPECT_EQ(change.find("first"), std::string::npos);
    EXPECT_EQ(countOf(change, "[3,\"second\",[7,80]]"), 1u);
    EXPECT_EQ(countOf(change, "\"i\":"), 1u);
    EXPECT_EQ(next(a), "");
    EXPECT_EQ(next(b), change);   // the other viewer still has it
}

TEST_F(hubTest, SixteenViewersAtMost) {
    for (int i = 0; i < wallHub::maxViewers; ++i) EXPECT_GE(hub.join(), 0);
    EXPECT_EQ(hub.join(), -1);
    EXPECT_EQ(hub.viewers(), wallHub::maxViewers);
    hub.leave(5);
    EXPECT_EQ(hub.join(), 5);
}

TEST_F(hubTest, timesGoAsDurationsFromTheMessage) {
    const int slot = hub.join();
    next(slot);
    putRow(screen.cells, 0, "changed");
    hub.setRows(0, screen);
    hub.setState(0, wallState::linkLost, now + 7s);
    now += 3s;
    const std::string m = next(slot, 1000ms);
    EXPECT_NE(m.find("\"s\":\"lost\",\"w\":4000"), std::string::npos) << m;
    EXPECT_NE(m.find("\"a\":3000"), std::string::npos) << m;
}

TEST_F(hubTest, finishEndsEveryStream) {
    const int slot = hub.join();
    next(slot);
    hub.finish();
    std::string m;
    EXPECT_FALSE(hub.next(slot, m, 1000ms));
    EXPECT_EQ(hub.join(), -1);
}
