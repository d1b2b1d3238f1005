// The controls driven by the console's own key records: virtual-key codes,
// with the characters the console puts beside them.

#include "client/srvlist.h"
#include "console/cinput.h"
#include "console/cmenu.h"
#include "tests/win32/win_util.h"

using namespace win;

namespace {

class Controls : public ::testing::Test {
protected:
    DialogTerminal term;
    void SetUp() override {
        std::memset(screenBuf, 0, sizeof screenBuf);
        setTerminal(&term);
    }
    void TearDown() override {
        setTerminal(nullptr);
    }
    void script(const std::vector<int>& keys) {
        term.keys.clear();
        for (int k : keys) term.pushKey(k);
    }
};

const int escWine = vk(VK_ESCAPE);   // wine delivers Esc with character 0

}  // namespace

// The letters whose virtual-key codes are the PC scan codes of the cursor
// keys (H Up, P Down, I Page Up, Q Page Down, G Home, O End) must not move.
TEST_F(Controls, ListMenuMovesByVirtualKeys) {
    struct Case {
        std::vector<int> keys;
        int result, active, top;
    };
    const Case cases[] = {
        {{vk(VK_NEXT), 13}, 2, 4, 1},
        {{vk(VK_END), 13}, 2, 9, 6},
        {{vk(VK_END), vk(VK_HOME), 13}, 2, 0, 0},
        {{vk(VK_DOWN), vk(VK_DOWN), vk(VK_UP), 13}, 2, 1, 0},
        {{vk(VK_UP), 13}, 2, 0, 0},
        {{vk(VK_END), vk(VK_DOWN), vk(VK_PRIOR), 27}, 1, 5, 5},
        {{'h', 'p', 'i', 'q', 'g', 'o', 'H', 'P', 13}, 2, 0, 0},
        {{vk(VK_DOWN), escWine}, 1, 1, 0},
    };
    for (const Case& k : cases) {
        consoleMenu menu;
        menu.init(nullptr, 10, 5, 30, 6, 3);
        for (int i = 0; i < 10; ++i) menu.add(("Item " + std::to_string(i)).c_str(), i, nullptr);
        script(k.keys);
        EXPECT_EQ(menu.execute(), k.result) << k.keys.size() << " keys";
        EXPECT_EQ(menu.active, k.active) << k.keys.size() << " keys";
        EXPECT_EQ(menu.top, k.top) << k.keys.size() << " keys";
    }
}

// The Windows rules compare whole texts, letters folded: "Betamax" sorts
// after "Beta", and a typed prefix that runs past a text is not equal to it.
TEST_F(Controls, SortedMenuTypeAheadFollowsTheWindowsRules) {
    const char* names[] = {"Gamma", "Beta", "Betamax", "Alpha", "delta"};
    struct Case {
        std::vector<int> keys;
        const char* active;
    };
    const Case cases[] = {
        {{'b'}, "Beta"},
        {{'B', 'E', 't', 'a', 'm'}, "Betamax"},
        {{'b', 'e', 't', 'a', 'z'}, "delta"},
        {{'b', 'x', 8}, "Beta"},
        {{'z'}, "Alpha"},
        {{'g', vk(VK_HOME)}, "Alpha"},
    };
    for (const Case& k : cases) {
        consoleMenu menu;
        menu.init(nullptr, 10, 5, 30, 8, 11);
        for (const char* n : names) menu.add(n, 0, nullptr);
        std::string order;
        for (menuItem* it = menu.items.first; it; it = it->next) order += std::string(it->text) + " ";
        EXPECT_EQ(order, "Alpha Beta Betamax delta Gamma ");
        std::vector<int> keys = k.keys;
        keys.push_back(13);
        script(keys);
        EXPECT_EQ(menu.execute(), 2);
        ASSERT_NE(menu.getActiveItem(), nullptr);
        EXPECT_STREQ(menu.getActiveItem()->text, k.active) << k.keys.size() << " keys";
    }
}

// Enter comes with character 13, Esc with 27 or, from wine, 0; Backspace is
// VK_BACK with character 8. Characters whose virtual-key codes are the scan
// codes of editing keys (K Left, M Right, G Home, O End, S Delete) are typed.
TEST_F(Controls, InputBoxEditsByVirtualKeys) {
    struct Case {
        const char* initial;
        std::vector<int> keys;
        int result;
        const char* text;
        int caret;
    };
    const Case cases[] = {
        {"", {'a', 'b', 'c', 13}, 2, "abc", 3},
        {"abcd", {vk(VK_END), 8, 13}, 2, "abc", 3},
        {"abcd", {8, vk(VK_RIGHT), vk(VK_RIGHT), vk(VK_DELETE), vk(VK_HOME), 'x', 13}, 2, "xabd", 1},
        {"abcd", {vk(VK_END), vk(VK_LEFT), vk(VK_LEFT), 8, 13}, 2, "acd", 1},
        {"", {'K', 'm', 'G', 'o', 'S', 13}, 2, "KmGoS", 5},
        {"", {'a', '\t', 'b', 13}, 2, "ab", 2},
        {"", {'x', 'y', 27}, 1, "xy", 2},
        {"", {'x', 'y', escWine}, 1, "xy", 2},
    };
    for (const Case& k : cases) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%s", k.initial);
        consoleInputBox box(0);
        box.init(nullptr, 20, 10, 40, "Name:", buf, 10, 0x1E);
        script(k.keys);
        EXPECT_EQ(box.execute(), k.result) << k.initial << " " << k.keys.size();
        EXPECT_STREQ(buf, k.text) << k.initial << " " << k.keys.size();
        EXPECT_EQ(box.caret, k.caret) << k.initial << " " << k.keys.size();
    }
}

TEST_F(Controls, MaskedInputBoxShowsStarsAndTheCaretOverTheFirst) {
    char buf[16] = "";
    consoleInputBox box(1);
    box.init(nullptr, 20, 10, 40, "Password:", buf, 10, 0x4E);
    script({'a', 'b', 'c', vk(VK_HOME), 13});
    EXPECT_EQ(box.execute(), 2);
    EXPECT_STREQ(buf, "abc");
    const Cells& atEnter = term.pictures.at(4);
    EXPECT_EQ(DialogTerminal::text(atEnter, 12, 21, 5), "***  ");
    EXPECT_EQ(DialogTerminal::attr(atEnter, 21, 12), 0x20);
    EXPECT_EQ(DialogTerminal::attr(atEnter, 22, 12), 0x0F);
    EXPECT_EQ(DialogTerminal::text(atEnter, 11, 21, 9), "Password:");
    EXPECT_EQ(DialogTerminal::attr(atEnter, 21, 11), 0x4E);
}

TEST_F(Controls, MessageBoxEndsOnEnterOrEsc) {
    struct Case {
        const char* second;
        std::vector<int> keys;
        int result;
    };
    const Case cases[] = {
        {nullptr, {13}, 2}, {nullptr, {27}, 1}, {nullptr, {escWine}, 1}, {"Cancel", {13}, 2},
        {"Cancel", {vk(VK_DOWN), 13}, 1},
    };
    for (const Case& k : cases) {
        script(k.keys);
        EXPECT_EQ(messageBox(nullptr, 0x4E, "Disk full", "Press Enter to continue...", k.second), k.result);
    }
    // Width 4 + 26 at x 40 - 15, row 10; the text in the title colour.
    const Cells& shown = term.pictures.front();
    EXPECT_EQ(shown[10 * 80 + 25] & 0xFF, 0xC9);
    EXPECT_EQ(shown[10 * 80 + 54] & 0xFF, 0xBB);
    EXPECT_EQ(DialogTerminal::text(shown, 11, 27, 9), "Disk full");
    EXPECT_EQ(DialogTerminal::attr(shown, 27, 11), 0x4E);
}

// Insert, Delete, F3, F4 and F5 by their virtual-key codes; r and s, whose
// codes are the scan codes of Insert and Delete, only select by prefix.
TEST_F(Controls, ServerListCommandsByVirtualKeys) {
    serverList list;
    list.init(nullptr);
    char alpha[] = "a.example,Alpha";
    char beta[] = "b.example:5000,Beta";
    list.parse(alpha);
    list.parse(beta);
    std::vector<int> keys = {'r', 's', vk(VK_INSERT)};
    for (const char* text : {"Gamma\r", "g.example:6000\r"})
        for (const char* c = text; *c; ++c) keys.push_back(*c);
    keys.insert(keys.end(), {vk(VK_HOME), vk(VK_F3), vk(VK_END), '2', 13, 13});   // Alpha becomes Alpha2
    keys.insert(keys.end(), {vk(VK_F5), 'm', 13, 'm', 13, 13});                    // master password, message
    keys.insert(keys.end(), {vk(VK_F4), 'p', 'w', 13});                            // Alpha2's password
    keys.insert(keys.end(), {vk(VK_DOWN), vk(VK_DELETE), 27});                     // Beta removed
    script(keys);
    EXPECT_EQ(list.execute(), 1);
    EXPECT_TRUE(term.keys.empty());
    ASSERT_EQ(list.getItemCount(), 2);
    auto* first = static_cast<serverInfo*>(list.getItem(0)->data);
    auto* second = static_cast<serverInfo*>(list.getItem(1)->data);
    EXPECT_STREQ(first->description, "Alpha2");
    EXPECT_TRUE(first->hasPassword());
    EXPECT_STREQ(second->description, "Gamma");
    EXPECT_STREQ(second->hostName, "g.example");
    EXPECT_EQ(second->port, 6000);
    ASSERT_NE(list.masterPassword(), nullptr);
    EXPECT_STREQ(list.masterPassword(), "m");
    EXPECT_TRUE(term.everShown("Master password has been succesfully set."));
}
