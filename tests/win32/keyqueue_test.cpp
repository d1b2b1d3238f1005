#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace {

// A key-down record whose repeat count numbers it, so that order shows.
INPUT_RECORD key(int n, WORD vk = 0x41) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = TRUE;
    r.Event.KeyEvent.wRepeatCount = static_cast<WORD>(n);
    r.Event.KeyEvent.wVirtualKeyCode = vk;
    r.Event.KeyEvent.uChar.AsciiChar = 'a';
    return r;
}

void drain() {
    INPUT_RECORD r;
    while (getKeyEvent(nullptr, r)) {
    }
}

bool signalled() { return WaitForSingleObject(keyEventSignal(), 0) == WAIT_OBJECT_0; }

class KeyQueueTest : public ::testing::Test {
protected:
    void SetUp() override { drain(); }
    void TearDown() override { drain(); }
};

} // namespace

TEST_F(KeyQueueTest, HoldsAtMost4095InOrderAndNeverOverwrites) {
    // Start off the front so that the ring wraps while it fills.
    INPUT_RECORD r;
    for (int i = 0; i < 100; i++) {
        ASSERT_TRUE(putKeyEvent(key(i)));
        ASSERT_TRUE(getKeyEvent(nullptr, r));
    }
    for (int i = 0; i < keyQueueSlots - 1; i++)
        ASSERT_TRUE(putKeyEvent(key(i))) << i;
    EXPECT_EQ(keyEventCount(), 4095);
    EXPECT_FALSE(putKeyEvent(key(9999, 0x42)));
    EXPECT_EQ(keyEventCount(), 4095);
    for (int i = 0; i < keyQueueSlots - 1; i++) {
        ASSERT_TRUE(getKeyEvent(nullptr, r));
        ASSERT_EQ(r.Event.KeyEvent.wRepeatCount, i);
        ASSERT_EQ(r.Event.KeyEvent.wVirtualKeyCode, 0x41);
    }
    EXPECT_EQ(keyEventCount(), 0);
    EXPECT_FALSE(getKeyEvent(nullptr, r));
}

TEST_F(KeyQueueTest, OnlyKeyEventsAreQueued) {
    INPUT_RECORD mouse{};
    mouse.EventType = MOUSE_EVENT;
    INPUT_RECORD focus{};
    focus.EventType = FOCUS_EVENT;
    INPUT_RECORD release = key(1);
    release.Event.KeyEvent.bKeyDown = FALSE;
    EXPECT_FALSE(putKeyEvent(mouse));
    EXPECT_FALSE(putKeyEvent(focus));
    // Key-ups are the input thread's to drop; the queue takes any key event.
    EXPECT_TRUE(putKeyEvent(release));
    EXPECT_EQ(keyEventCount(), 1);
}

TEST_F(KeyQueueTest, SignalIsSetWhileKeysWait) {
    INPUT_RECORD r;
    EXPECT_FALSE(signalled());
    putKeyEvent(key(1));
    putKeyEvent(key(2));
    EXPECT_TRUE(signalled());
    ASSERT_TRUE(getKeyEvent(nullptr, r));
    EXPECT_TRUE(signalled());
    ASSERT_TRUE(getKeyEvent(nullptr, r));
    EXPECT_FALSE(signalled());
}

TEST_F(KeyQueueTest, ProducersOnOtherThreadsKeepTheirOrder) {
    // More than the queue holds, so that the producers also meet a full queue.
    const int perThread = 3000;
    std::atomic<bool> stop{false};
    auto produce = [&](WORD vk) {
        for (int i = 0; i < perThread && !stop;) {
            if (putKeyEvent(key(i, vk)))
                i++;
            else
                Sleep(0);
        }
    };
    std::thread a(produce, WORD{1}), b(produce, WORD{2});
    int next[3] = {0, 0, 0};
    bool inOrder = true;
    int taken = 0;
    INPUT_RECORD r;
    while (taken < 2 * perThread && WaitForSingleObject(keyEventSignal(), 5000) == WAIT_OBJECT_0) {
        while (getKeyEvent(nullptr, r)) {
            WORD vk = r.Event.KeyEvent.wVirtualKeyCode;
            if ((vk != 1 && vk != 2) || r.Event.KeyEvent.wRepeatCount != next[vk]++)
                inOrder = false;
            taken++;
        }
    }
    stop = true;
    a.join();
    b.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(taken, 2 * perThread);
}

TEST_F(KeyQueueTest, TerminalWaitsForTheQueueNotByPolling) {
    WinConsoleTerminal t(nullptr);
    INPUT_RECORD got{};
    EXPECT_EQ(t.readKey(0, got), 0);
    EXPECT_FALSE(t.keyPending());
    std::thread later([] {
        Sleep(50);
        putKeyEvent(key(1));
    });
    // 1 only when the queue's signal ended the wait; a timeout gives 0.
    EXPECT_EQ(t.readKey(5000, got), 1);
    later.join();
    EXPECT_EQ(got.Event.KeyEvent.uChar.AsciiChar, 'a');
    EXPECT_FALSE(t.keyPending());
}

TEST_F(KeyQueueTest, CtrlCAndCtrlBreakBecomeKeyEvents) {
    EXPECT_TRUE(consoleCtrlHandler(CTRL_C_EVENT));
    EXPECT_TRUE(consoleCtrlHandler(CTRL_BREAK_EVENT));
    EXPECT_TRUE(consoleCtrlHandler(CTRL_CLOSE_EVENT));
    EXPECT_TRUE(consoleCtrlHandler(CTRL_LOGOFF_EVENT));
    ASSERT_EQ(keyEventCount(), 2);
    INPUT_RECORD r;
    for (int i = 0; i < 2; i++) {
        std::memset(&r, 0xCC, sizeof r);
        ASSERT_TRUE(getKeyEvent(nullptr, r));
        EXPECT_EQ(r.EventType, KEY_EVENT);
        const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
        EXPECT_EQ(k.bKeyDown, 1);
        EXPECT_EQ(k.wRepeatCount, 0);
        EXPECT_EQ(k.wVirtualKeyCode, 0);
        EXPECT_EQ(k.wVirtualScanCode, 0x2E);
        EXPECT_EQ(k.uChar.AsciiChar, 3);
        EXPECT_EQ(k.dwControlKeyState, 0u);
    }
}
