#include "console/cmenu.h"

#include <random>
#include <string>

#include "tests/ui/ui_support.h"

namespace {

class MenuTest : public UiTest {
protected:
    // A plain menu at (10, 5), 30 wide, with four item rows and n items.
    void fillMenu(consoleMenu& m, int n, uint32_t flags = 3) {
        m.init(nullptr, 10, 5, 30, 6, flags);
        for (int i = 0; i < n; ++i) m.add(("Item " + std::to_string(i)).c_str(), i, nullptr);
    }
    // The two gutter cells and the text of item row j (no title).
    static std::string gutter(const std::vector<uint16_t>& s, int j) { return textAt(s, 11, 6 + j, 2); }
    static std::string rowItem(const std::vector<uint16_t>& s, int j) { return textAt(s, 13, 6 + j, 6); }
};

TEST_F(MenuTest, ItemTextIsBoundedAndNullShowsAsNull) {
    menuItem a(nullptr);
    EXPECT_STREQ(a.text, "(null)");
    std::string longText(100, 'x');
    menuItem b(longText.c_str(), 3);
    EXPECT_EQ(std::string(b.text), std::string(79, 'x'));
    EXPECT_EQ(b.id, 3);
}

TEST_F(MenuTest, DefaultsAndSizes) {
    consoleMenu m;
    EXPECT_EQ(m.getColor(4), 0x1F);
    EXPECT_EQ(m.getColor(5), 0x71);
    EXPECT_EQ(m.getColor(1), 0x1E);
    EXPECT_EQ(m.getActiveItem(), nullptr);
    EXPECT_EQ(m.getItem(0), nullptr);

    m.init(nullptr, 0, 0, 3, 1, 3);
    EXPECT_EQ(m.w, 8);
    EXPECT_EQ(m.h, 3);
    EXPECT_EQ(m.visibleRows, 1);

    consoleMenu t;
    t.setTitle("Title");
    t.init(nullptr, 0, 0, 200, 3, 3);
    EXPECT_EQ(t.w, 80);
    EXPECT_EQ(t.h, 5);
    EXPECT_EQ(t.visibleRows, 1);   // a message-box-sized menu shows one row
    t.init(nullptr, 0, 0, 20, 40, 3);
    EXPECT_EQ(t.h, 25);
    EXPECT_EQ(t.visibleRows, 21);
}

TEST_F(MenuTest, PagingScrollsAndMarksTheGutter) {
    consoleMenu m;
    fillMenu(m, 10);
    ASSERT_EQ(m.visibleRows, 4);
    term.keysOf({KEY_NPAGE, KEY_END, KEY_PPAGE, KEY_HOME, 27});
    EXPECT_EQ(m.execute(), 1);
    ASSERT_EQ(term.snaps.size(), 5u);

    // Before any key: items 0-3, more below on the last row.
    EXPECT_EQ(gutter(term.snap(0), 0), " \xB3");
    EXPECT_EQ(gutter(term.snap(0), 3), ">\xB3");
    EXPECT_EQ(attrAt(term.snap(0), 13, 6), 0x71);
    EXPECT_EQ(attrAt(term.snap(0), 13, 7), 0x1F);
    EXPECT_EQ(attrAt(term.snap(0), 11, 6), 0x1F);

    // Page Down: item 4 active, top 1.
    EXPECT_EQ(rowItem(term.snap(1), 0), "Item 1");
    EXPECT_EQ(rowItem(term.snap(1), 3), "Item 4");
    EXPECT_EQ(attrAt(term.snap(1), 13, 9), 0x71);
    EXPECT_EQ(gutter(term.snap(1), 0), "<\xB3");
    EXPECT_EQ(gutter(term.snap(1), 3), ">\xB3");

    // End: item 9 active, top 6, nothing below.
    EXPECT_EQ(rowItem(term.snap(2), 0), "Item 6");
    EXPECT_EQ(rowItem(term.snap(2), 3), "Item 9");
    EXPECT_EQ(attrAt(term.snap(2), 13, 9), 0x71);
    EXPECT_EQ(gutter(term.snap(2), 0), "<\xB3");
    EXPECT_EQ(gutter(term.snap(2), 3), " \xB3");

    // Page Up: item 5 active, scrolled up to the first row.
    EXPECT_EQ(rowItem(term.snap(3), 0), "Item 5");
    EXPECT_EQ(attrAt(term.snap(3), 13, 6), 0x71);
    // Home: back to the start.
    EXPECT_EQ(rowItem(term.snap(4), 0), "Item 0");
    EXPECT_EQ(gutter(term.snap(4), 0), " \xB3");
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.top, 0);
}

TEST_F(MenuTest, MovementStopsAtBothEnds) {
    consoleMenu m;
    fillMenu(m, 10);
    term.keysOf({KEY_UP, 13});
    EXPECT_EQ(m.execute(), 2);
    EXPECT_EQ(m.getActiveItem()->id, 0);

    term.keysOf({KEY_END, KEY_DOWN, KEY_DOWN, 13});
    EXPECT_EQ(m.execute(), 2);
    EXPECT_EQ(m.active, 9);
    EXPECT_EQ(m.top, 6);
    EXPECT_EQ(m.getActiveItem()->id, 9);

    m.goToItem(-1000000);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.top, 0);
}

TEST_F(MenuTest, ActiveAndScrollPersistAcrossRuns) {
    consoleMenu m;
    fillMenu(m, 10);
    term.keysOf({KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, KEY_DOWN, 27});
    m.execute();
    term.snaps.clear();
    term.keysOf({27});
    m.execute();
    EXPECT_EQ(m.active, 5);
    EXPECT_EQ(rowItem(term.snap(0), 0), "Item 2");
    EXPECT_EQ(attrAt(term.snap(0), 13, 9), 0x71);
}

TEST_F(MenuTest, EmptyAndShortMenusShowEmptyRows) {
    consoleMenu m;
    fillMenu(m, 2);
    term.keysOf({KEY_DOWN, KEY_DOWN, 27});
    EXPECT_EQ(m.execute(), 1);
    EXPECT_EQ(m.active, 1);
    const auto& s = term.snap(0);
    EXPECT_EQ(textAt(s, 11, 8, 28), " \xB3" + std::string(26, ' '));
    EXPECT_EQ(attrAt(s, 38, 9), 0x1F);
    EXPECT_EQ(chAt(s, 39, 9), 0xBA);    // the frame is not overwritten

    consoleMenu empty;
    empty.init(nullptr, 0, 0, 20, 5, 3);
    term.keysOf({KEY_DOWN, KEY_END, 13});
    EXPECT_EQ(empty.execute(), 2);
    EXPECT_EQ(empty.getActiveItem(), nullptr);
    EXPECT_EQ(empty.active, 0);
}

TEST_F(MenuTest, FrameTitleSeparatorAndBorderTitle) {
    consoleMenu m;
    m.setColor(1, 0x17);
    m.setColor(3, 0x4E);
    m.setTitle("Pick one");
    m.setBorderTitle("Servers");
    m.init(nullptr, 20, 10, 30, 5, 3);
    m.add(std::string(60, 'L').c_str(), 1, nullptr);
    m.open();
    EXPECT_EQ(chAt(20, 10), 0xC9);
    EXPECT_EQ(chAt(49, 10), 0xBB);
    EXPECT_EQ(chAt(49, 14), 0xBC);
    EXPECT_EQ(chAt(20, 14), 0xC8);
    EXPECT_EQ(attrAt(20, 10), 0x17);
    EXPECT_EQ(textAt(21, 10, 9), "[Servers]");
    EXPECT_EQ(chAt(30, 10), 0xCD);
    EXPECT_EQ(textAt(21, 11, 10), " Pick one ");
    EXPECT_EQ(attrAt(21, 11), 0x4E);
    EXPECT_EQ(attrAt(48, 11), 0x4E);
    EXPECT_EQ(chAt(49, 11), 0xBA);
    EXPECT_EQ(chAt(20, 12), 0xCC);
    EXPECT_EQ(chAt(21, 12), 0xCD);
    EXPECT_EQ(chAt(49, 12), 0xB9);
    EXPECT_EQ(attrAt(35, 12), 0x17);
    // One item row; the long text is cut at the field's end.
    EXPECT_EQ(textAt(23, 13, 26), std::string(26, 'L'));
    EXPECT_EQ(attrAt(48, 13), 0x71);
    EXPECT_EQ(chAt(49, 13), 0xBA);
    m.close();
    EXPECT_EQ(screenBuf[12][30], 0);
}

TEST_F(MenuTest, LongBorderTitleStaysInsideTheFrame) {
    consoleMenu m;
    m.setBorderTitle("A very long border title");
    m.init(nullptr, 0, 0, 10, 3, 3);
    m.open();
    EXPECT_EQ(textAt(1, 0, 8), "[A very ");
    EXPECT_EQ(chAt(9, 0), 0xBB);
    EXPECT_EQ(screenBuf[0][10], 0);
}

TEST_F(MenuTest, SortedInsertionIgnoresCaseAndPutsEqualsFirst) {
    consoleMenu m;
    m.init(nullptr, 0, 0, 20, 6, 11);
    m.add("Gamma", 1, nullptr);
    m.add("Alpha", 2, nullptr);
    m.add("beta", 3, nullptr);
    m.add("Beta", 4, nullptr);
    m.add(nullptr);
    ASSERT_EQ(m.getItemCount(), 4);
    EXPECT_STREQ(m.getItem(0)->text, "Alpha");
    EXPECT_EQ(m.getItem(1)->id, 4);   // the newer "Beta" goes in front of "beta"
    EXPECT_EQ(m.getItem(2)->id, 3);
    EXPECT_STREQ(m.getItem(3)->text, "Gamma");
    EXPECT_EQ(m.getItem(4), nullptr);
    EXPECT_EQ(m.getItem(-1), nullptr);
    EXPECT_EQ(m.getMaxItemWidth(), 5);

    consoleMenu plain;
    plain.init(nullptr, 0, 0, 20, 6, 3);
    plain.add("b", 1, nullptr);
    plain.add("a", 2, nullptr);
    EXPECT_EQ(plain.getItem(0)->id, 1);
    EXPECT_EQ(plain.getItem(1)->id, 2);
}

// Deferred sorting must give exactly the order of one-by-one adds: texts
// from a tiny alphabet make equal, prefix-equal, empty and high-byte texts
// common, and some items are in the list before sorting is deferred.
TEST_F(MenuTest, DeferredSortingGivesTheOrderOfOneByOneAdds) {
    std::mt19937 rng(99);
    const char alphabet[] = "aAb\xE9";
    for (int trial = 0; trial < 3000; ++trial) {
        consoleMenu oneByOne, deferred;
        oneByOne.init(nullptr, 0, 0, 20, 6, 11);
        deferred.init(nullptr, 0, 0, 20, 6, 11);
        const int n = static_cast<int>(rng() % 40);
        const int before = n ? static_cast<int>(rng() % (n + 1)) : 0;
        for (int i = 0; i < n; ++i) {
            std::string text;
            for (unsigned len = rng() % 5; len > 0; --len) text += alphabet[rng() % 4];
            if (i == before) deferred.deferSorting();
            oneByOne.add(text.c_str(), i, nullptr);
            deferred.add(text.c_str(), i, nullptr);
            ASSERT_EQ(deferred.getItemCount(), i + 1);
        }
        deferred.applySorting();
        std::string a, b;
        for (menuItem* it = oneByOne.items.first; it; it = it->next) a += std::to_string(it->id) + " ";
        for (menuItem* it = deferred.items.first; it; it = it->next) b += std::to_string(it->id) + " ";
        ASSERT_EQ(a, b) << "trial " << trial;
        std::string back;
        for (menuItem* it = deferred.items.last; it; it = it->previous) back = std::to_string(it->id) + " " + back;
        ASSERT_EQ(back, b);
    }
}

class SortedMenuTest : public MenuTest {
protected:
    consoleMenu m;
    void SetUp() override {
        MenuTest::SetUp();
        m.init(nullptr, 0, 0, 20, 6, 11);
        m.add("Gamma", 3, nullptr);
        m.add("beta", 2, nullptr);
        m.add("Alpha", 1, nullptr);
    }
};

TEST_F(SortedMenuTest, TypeAheadSelectsByPrefix) {
    KEY_EVENT_RECORD b = keyOf('b'), z = keyOf('z'), bs = keyOf(KEY_BACKSPACE);
    EXPECT_EQ(m.onKey(b), 0);
    EXPECT_EQ(m.getActiveItem()->id, 2);
    m.resetTypedown();
    EXPECT_EQ(m.onKey(z), 0);   // "z" is past every item: active stays
    EXPECT_EQ(m.getActiveItem()->id, 2);
    EXPECT_STREQ(m.typed, "z");
    m.onKey(bs);
    EXPECT_EQ(m.typedLen, 0);
    EXPECT_EQ(m.getActiveItem()->id, 1);   // the empty prefix selects the first item
    m.onKey(bs);                           // nothing left to remove
    EXPECT_EQ(m.typedLen, 0);

    m.onKey(b);
    m.onKey(z);                            // "bz": the first item not less is Gamma
    EXPECT_EQ(m.getActiveItem()->id, 3);
    m.onKey(bs);
    EXPECT_EQ(m.getActiveItem()->id, 2);
    EXPECT_STREQ(m.typed, "b");

    KEY_EVENT_RECORD g = keyOf('G');       // capitals carry no key code on curses
    m.onKey(g);
    EXPECT_EQ(m.getActiveItem()->id, 3);
    KEY_EVENT_RECORD up = keyOf(KEY_UP);
    m.onKey(up);                           // a movement key forgets the prefix
    EXPECT_EQ(m.typedLen, 0);
    EXPECT_EQ(m.getActiveItem()->id, 2);
}

TEST_F(SortedMenuTest, TypeAheadRunsInTheLoopAndRedraws) {
    term.keysOf({'g', 'z', 13});
    EXPECT_EQ(m.execute(), 2);
    EXPECT_EQ(m.getActiveItem()->id, 3);
    ASSERT_EQ(term.snaps.size(), 3u);
    EXPECT_EQ(attrAt(term.snap(1), 3, 3), 0x71);   // Gamma highlighted
    EXPECT_EQ(attrAt(term.snap(1), 3, 1), 0x1F);
}

int64_t menuNow = 0;
int64_t menuClock() { return menuNow; }

// The typed prefix shows on the status row; a second without typing ends it
// and gives the row back, and a key after such a pause begins a new prefix.
TEST_F(SortedMenuTest, TypedPrefixShowsOnTheStatusRowUntilAPause) {
    m.clockMs = menuClock;
    consoleTextLine(nullptr, 0, 24, " F5=Legend", 80, 0x70);
    KEY_EVENT_RECORD b = keyOf('b'), e = keyOf('e'), g = keyOf('g'), a = keyOf('a');
    menuNow = 5000;
    m.onKey(b);
    menuNow = 5900;
    m.onKey(e);
    EXPECT_EQ(textAt(0, 24, 9), "Find: be ");
    EXPECT_EQ(attrAt(0, 24), 0x71);
    EXPECT_EQ(m.idleMs(), 1000);
    menuNow = 6899;
    m.onIdle();
    EXPECT_STREQ(m.typed, "be");
    menuNow = 6900;
    m.onIdle();
    EXPECT_EQ(m.typedLen, 0);
    EXPECT_EQ(textAt(0, 24, 10), " F5=Legend");
    EXPECT_EQ(attrAt(0, 24), 0x70);
    EXPECT_EQ(m.idleMs(), -1);

    m.onKey(g);
    menuNow = 9000;
    m.onKey(a);   // not "ga"
    EXPECT_STREQ(m.typed, "a");
    EXPECT_EQ(m.getActiveItem()->id, 1);
    m.close();
    EXPECT_EQ(textAt(0, 24, 10), " F5=Legend");
}

TEST_F(SortedMenuTest, TypedPrefixNeverOverflows) {
    KEY_EVENT_RECORD a = keyOf('a');
    for (int i = 0; i < 200; ++i) EXPECT_EQ(m.onKey(a), 0);
    EXPECT_EQ(m.typedLen, 80);
    EXPECT_EQ(std::string(m.typed), std::string(80, 'a'));
}

TEST_F(SortedMenuTest, SelectUsesThePrefixOnly) {
    menuItem* found = m.select("GAM");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->id, 3);
    EXPECT_EQ(m.getActiveItem(), found);
    EXPECT_STREQ(m.typed, "GAM");

    // "bx" would sort before Gamma: the walk stops there.
    EXPECT_EQ(m.select("bx"), nullptr);
    EXPECT_EQ(m.getActiveItem(), found);
    EXPECT_EQ(m.typedLen, 0);
    EXPECT_EQ(m.select("zzz"), nullptr);
    EXPECT_EQ(m.typed[0], 0);
    EXPECT_EQ(m.select("")->id, 1);   // an empty prefix matches the first item
    EXPECT_EQ(m.select(nullptr)->id, 1);
    std::string longPrefix(120, 'b');
    EXPECT_EQ(m.select(longPrefix.c_str()), nullptr);

    // Bytes from 128 up sort before letters; the walk goes on past them.
    consoleMenu high;
    high.init(nullptr, 0, 0, 20, 6, 11);
    high.add("\xC9t\xE9", 1, nullptr);
    high.add("Alpha", 2, nullptr);
    high.add("beta", 3, nullptr);
    ASSERT_EQ(high.getItem(0)->id, 1);
    ASSERT_NE(high.select("al"), nullptr);
    EXPECT_EQ(high.getActiveItem()->id, 2);
    EXPECT_EQ(high.select("BE")->id, 3);
    EXPECT_EQ(high.select("\xC9t")->id, 1);
    EXPECT_EQ(high.select("\xC9x"), nullptr);

    // The walk trusts the order: in an unsorted menu a later match is missed.
    consoleMenu plain;
    plain.init(nullptr, 0, 0, 20, 6, 3);
    plain.add("beta", 1, nullptr);
    plain.add("alpha", 2, nullptr);
    EXPECT_EQ(plain.select("al"), nullptr);
    EXPECT_EQ(plain.select("be")->id, 1);
}

TEST_F(MenuTest, PlainMenuIgnoresTyping) {
    consoleMenu m;
    fillMenu(m, 10);
    KEY_EVENT_RECORD k = keyOf('I');
    EXPECT_EQ(m.onKey(k), 0);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.typedLen, 0);
}

TEST_F(MenuTest, SelectBeforeInitKeepsTheItemInView) {
    consoleMenu m;
    m.flags = 11;
    for (int i = 0; i < 10; ++i) m.add(("Item " + std::to_string(i)).c_str(), i, nullptr);
    ASSERT_NE(m.select("item 7"), nullptr);
    m.init(nullptr, 10, 5, 30, 6, 11);
    term.keysOf({27});
    m.execute();
    EXPECT_EQ(rowItem(term.snap(0), 0), "Item 7");
    EXPECT_EQ(attrAt(term.snap(0), 13, 6), 0x71);
}

// Editing hooks of derived lists.
class EditingMenu : public consoleMenu {
public:
    int onInsert() override { return 5; }
    int onDelete() override {
        items.release(getActiveItem());
        goToItem(0);
        draw();
        return 0;
    }
};

TEST_F(MenuTest, InsertAndDeleteReachTheHooks) {
    EditingMenu m;
    fillMenu(m, 3);
    term.keysOf({KEY_END, KEY_DC, KEY_DC, KEY_IC});
    EXPECT_EQ(m.execute(), 5);
    EXPECT_EQ(m.getItemCount(), 1);
    EXPECT_EQ(m.active, 0);
    EXPECT_EQ(m.getActiveItem()->id, 0);

    consoleMenu base;
    fillMenu(base, 3);
    KEY_EVENT_RECORD ins = keyOf(KEY_IC), del = keyOf(KEY_DC);
    EXPECT_EQ(base.onInsert(), 0);
    EXPECT_EQ(base.onKey(ins), 0);
    EXPECT_EQ(base.onKey(del), 0);
    EXPECT_EQ(base.getItemCount(), 3);
}

}  // namespace
