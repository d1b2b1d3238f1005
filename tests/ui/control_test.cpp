#include "console/ccontrol.h"

#include "tests/ui/ui_support.h"

namespace {

using ControlTest = UiTest;

TEST_F(ControlTest, GeometryIsFittedIntoTheScreen) {
    struct Case {
        int x, y, w, h;
        int ex, ey, ew, eh;
    };
    const Case cases[] = {
        {5, 3, 120, 30, 0, 0, 80, 25},     // too large: cut, placed at the origin
        {-4, -2, 10, 5, 0, 0, 10, 5},      // negative position
        {75, 22, 10, 5, 70, 20, 10, 5},    // right and bottom edges pulled in
        {70, 20, 10, 5, 70, 20, 10, 5},    // exactly fits
        {71, 21, 10, 5, 70, 20, 10, 5},    // one past
        {10, 10, -3, -1, 10, 10, 0, 0},    // negative sizes clamp to 0
        {2147483000, 2147483000, 4, 4, 76, 21, 4, 4},
    };
    for (const Case& k : cases) {
        consoleControl c;
        EXPECT_EQ(c.init(nullptr, k.x, k.y, k.w, k.h, 3), 0);
        EXPECT_EQ(c.x, k.ex) << k.x << "," << k.y;
        EXPECT_EQ(c.y, k.ey) << k.x << "," << k.y;
        EXPECT_EQ(c.w, k.ew);
        EXPECT_EQ(c.h, k.eh);
    }
}

TEST_F(ControlTest, ColorSlots) {
    consoleControl c;
    for (int s = 0; s < 16; ++s) EXPECT_EQ(c.getColor(s), 0x1E) << s;
    c.setColor(0, 0x4E);
    c.setColor(15, 0x70);
    c.setColor(16, 0x11);    // ignored
    c.setColor(-1, 0x11);    // ignored
    EXPECT_EQ(c.getColor(0), 0x4E);
    EXPECT_EQ(c.getColor(15), 0x70);
    EXPECT_EQ(c.getColor(14), 0x1E);
    EXPECT_EQ(c.getColor(16), 0x4E);    // out of range reads slot 0
    EXPECT_EQ(c.getColor(-1), 0x4E);
    c.setColor(17, 0x70);    // reset, whatever attribute is passed
    for (int s = 0; s < 16; ++s) EXPECT_EQ(c.getColor(s), 0x1E) << s;
}

TEST_F(ControlTest, ExecuteShowsAndRestoresTwice) {
    fillPattern();
    const auto before = screenCopy();
    consoleControl c;
    c.setColor(0, 0x4E);
    c.init(nullptr, 10, 5, 20, 4, 3);

    term.keysOf({27});
    EXPECT_EQ(c.execute(), 1);
    ASSERT_GE(term.snaps.size(), 1u);
    // While open: the rectangle is blank in slot 0, its surroundings untouched.
    EXPECT_EQ(chAt(term.snap(0), 10, 5), ' ');
    EXPECT_EQ(attrAt(term.snap(0), 29, 8), 0x4E);
    EXPECT_EQ(term.snap(0)[5 * 80 + 9], before[5 * 80 + 9]);
    EXPECT_EQ(term.snap(0)[9 * 80 + 10], before[9 * 80 + 10]);
    EXPECT_EQ(screenCopy(), before);

    term.snaps.clear();
    term.keysOf({13});
    EXPECT_EQ(c.execute(), 2);
    ASSERT_GE(term.snaps.size(), 1u);
    EXPECT_EQ(attrAt(term.snap(0), 10, 5), 0x4E);
    EXPECT_EQ(screenCopy(), before);
    // The restored rows reached the terminal as well.
    EXPECT_EQ(term.shown[6][15], before[6 * 80 + 15]);
}

TEST_F(ControlTest, WithoutAcceptBitEnterIsIgnored) {
    consoleControl c;
    c.init(nullptr, 0, 0, 10, 3, 1);
    term.keysOf({13, KEY_ENTER, 13, 27, 13});
    EXPECT_EQ(c.execute(), 1);
    EXPECT_EQ(term.keys.size(), 1u);    // ended on the Esc, the last Enter unread
}

TEST_F(ControlTest, F10CancelsAndKeysWithoutCodeAreIgnored) {
    consoleControl c;
    c.init(nullptr, 0, 0, 10, 3, 3);
    // F11, a resize and plain letters mean nothing to the base control.
    term.keysOf({KEY_F(11), KEY_RESIZE, 'a', KEY_F(10), 13});
    EXPECT_EQ(c.execute(), 1);
    EXPECT_EQ(term.keys.size(), 1u);
}

// Counts what reaches onKey.
class CountingControl : public consoleControl {
public:
    int keys = 0;
    int onKey(KEY_EVENT_RECORD& key) override {
        ++keys;
        return consoleControl::onKey(key);
    }
};

TEST_F(ControlTest, OnlyKeyDownKeyEventsReachOnKey) {
    CountingControl c;
    c.init(nullptr, 0, 0, 10, 3, 3);
    INPUT_RECORD r = escEvent();
    r.Event.KeyEvent.bKeyDown = 0;
    EXPECT_EQ(c.handleEvent(r), 0);
    r = escEvent();
    r.EventType = 2;
    EXPECT_EQ(c.handleEvent(r), 0);
    EXPECT_EQ(c.keys, 0);
    r = escEvent();
    EXPECT_EQ(c.handleEvent(r), 1);
    EXPECT_EQ(c.keys, 1);
}

// Never ends on a key of its own; only the loop's fallback ends it.
class StubbornControl : public consoleControl {
public:
    int onCancel() override { return 0; }
};

TEST_F(ControlTest, GoneInputEndsEveryControlWithCancel) {
    fillPattern();
    const auto before = screenCopy();
    consoleControl plain;
    plain.init(nullptr, 5, 5, 10, 3, 3);
    EXPECT_EQ(plain.execute(), 1);
    EXPECT_EQ(screenCopy(), before);

    StubbornControl stubborn;
    stubborn.init(nullptr, 5, 5, 10, 3, 3);
    term.keysOf({27, 27});
    EXPECT_EQ(stubborn.execute(), 1);
    EXPECT_TRUE(term.keys.empty());
    EXPECT_EQ(screenCopy(), before);
}

// Runs a nested control from its key handler, as lists open input boxes.
class OuterControl : public consoleControl {
public:
    int innerResult = -100;
    int onKey(KEY_EVENT_RECORD& key) override {
        if (key.uChar.AsciiChar == 'i') {
            consoleControl inner;
            inner.setColor(0, 0x70);
            inner.init(window, 12, 7, 6, 2, 3);
            innerResult = inner.execute();
            return 0;
        }
        return consoleControl::onKey(key);
    }
};

TEST_F(ControlTest, NestedControlsRestoreInOrderAndUnwindWhenInputGoes) {
    fillPattern();
    const auto before = screenCopy();
    OuterControl outer;
    outer.setColor(0, 0x4E);
    outer.init(nullptr, 10, 5, 20, 6, 3);
    term.keysOf({'i', 13, 'i'});
    EXPECT_EQ(outer.execute(), 1);
    EXPECT_EQ(outer.innerResult, 1);   // the second inner run saw the input go
    ASSERT_GE(term.snaps.size(), 3u);
    // Snap 1: inner open over outer; snap 2: inner gone, outer picture back.
    EXPECT_EQ(attrAt(term.snap(1), 12, 7), 0x70);
    EXPECT_EQ(attrAt(term.snap(2), 12, 7), 0x4E);
    EXPECT_EQ(chAt(term.snap(2), 12, 7), ' ');
    EXPECT_EQ(screenCopy(), before);
}

class InitEnds : public consoleControl {
public:
    int onInit() override { return 7; }
};

TEST_F(ControlTest, NonZeroOnInitEndsAtOnce) {
    fillPattern();
    const auto before = screenCopy();
    InitEnds c;
    c.init(nullptr, 0, 0, 80, 25, 3);
    term.keysOf({27});
    EXPECT_EQ(c.execute(), 7);
    EXPECT_EQ(term.keys.size(), 1u);
    EXPECT_EQ(screenCopy(), before);
}

TEST_F(ControlTest, WithoutSaveBitNothingIsRestored) {
    fillPattern();
    consoleControl c;
    c.init(nullptr, 0, 0, 4, 2, 2);
    term.keysOf({13});
    EXPECT_EQ(c.execute(), 2);
    EXPECT_EQ(c.savedScreen, nullptr);
    EXPECT_EQ(chAt(0, 0), ' ');
    EXPECT_EQ(attrAt(3, 1), 0x1E);
}

}  // namespace
