#include "console/cinput.h"

#include <string>

#include "tests/ui/ui_support.h"

namespace {

class InputTest : public UiTest {
protected:
    char buf[128] = {};
    // Text of the field row (38 cells for a box at x 20 with w 40).
    static std::string field(const std::vector<uint16_t>& s, int x = 21, int w = 38) {
        return textAt(s, x, 12, w);
    }
};

TEST_F(InputTest, LongTypingScrollsTheField) {
    consoleInputBox box;
    box.init(nullptr, 20, 10, 40, "Name:", buf, 60, 0x1E);
    std::string typed;
    for (int i = 0; i < 50; ++i) typed.push_back(static_cast<char>('A' + i % 26));
    term.pushText(typed);
    term.pushKey(13);
    EXPECT_EQ(box.execute(), 2);
    EXPECT_EQ(std::string(buf), typed);
    EXPECT_EQ(box.caret, 50);
    EXPECT_EQ(box.scroll, 13);

    const auto& s = term.snap(50);   // after the 50th character
    EXPECT_EQ(field(s).substr(0, 37), typed.substr(13, 37));
    EXPECT_EQ(chAt(s, 58, 12), ' ');     // the caret in the field's last cell
    EXPECT_EQ(attrAt(s, 58, 12), 0x20);
    EXPECT_EQ(attrAt(s, 57, 12), 0x0F);
    EXPECT_EQ(chAt(s, 59, 12), 0xBA);
    EXPECT_EQ(chAt(s, 20, 10), 0xC9);
    EXPECT_EQ(textAt(s, 21, 11, 6), "Name: ");
    EXPECT_EQ(attrAt(s, 58, 11), 0x1E);
}

TEST_F(InputTest, HomeScrollsBackAndEndForward) {
    consoleInputBox box;
    box.init(nullptr, 20, 10, 40, "x", buf, 60, 0x1E);
    term.pushText(std::string(50, 'q'));
    term.keysOf({KEY_HOME, KEY_END, KEY_LEFT, 13});
    EXPECT_EQ(box.execute(), 2);
    EXPECT_EQ(attrAt(term.snap(51), 21, 12), 0x20);   // after Home
    EXPECT_EQ(chAt(term.snap(51), 21, 12), 'q');
    EXPECT_EQ(attrAt(term.snap(52), 58, 12), 0x20);   // after End
    EXPECT_EQ(box.caret, 49);
    EXPECT_EQ(box.scroll, 13);
}

TEST_F(InputTest, FullFieldDropsCharacters) {
    consoleInputBox box;
    std::memset(buf, '#', sizeof buf);
    buf[0] = 0;
    box.init(nullptr, 20, 10, 40, "PIN", buf, 7, 0x1E);
    term.pushText("12345678");
    term.pushKey(13);
    EXPECT_EQ(box.execute(), 2);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(box.caret, 7);
    EXPECT_EQ(buf[9], '#');   // nothing written past the terminator's place

    // Typing into the middle of a full text drops the character too.
    term.keysOf({KEY_HOME, 'x', 13});
    EXPECT_EQ(box.execute(), 2);
    EXPECT_STREQ(buf, "1234567");
}

TEST_F(InputTest, PasswordModeMasksText) {
    consoleInputBox box(1);
    box.init(nullptr, 20, 10, 40, "Password:", buf, 20, 0x4E);
    term.pushText("abc");
    term.keysOf({KEY_HOME, 13});
    EXPECT_EQ(box.execute(), 2);
    EXPECT_STREQ(buf, "abc");

    const auto& typed = term.snap(3);
    EXPECT_EQ(field(typed).substr(0, 4), "*** ");
    EXPECT_EQ(attrAt(typed, 21, 12), 0x0F);
    EXPECT_EQ(attrAt(typed, 24, 12), 0x20);
    EXPECT_EQ(chAt(typed, 24, 12), ' ');
    EXPECT_EQ(attrAt(typed, 20, 10), 0x4E);
    EXPECT_EQ(attrAt(typed, 22, 11), 0x4E);

    const auto& home = term.snap(4);
    EXPECT_EQ(chAt(home, 21, 12), '*');
    EXPECT_EQ(attrAt(home, 21, 12), 0x20);
    EXPECT_EQ(attrAt(home, 22, 12), 0x0F);
    EXPECT_EQ(field(home).find_first_of("abc"), std::string::npos);
}

TEST_F(InputTest, EditingKeys) {
    consoleInputBox box;
    std::strcpy(buf, "abc");
    box.init(nullptr, 10, 10, 60, "Edit", buf, 40, 0x1E);
    EXPECT_EQ(box.caret, 0);   // the caret starts at the beginning
    EXPECT_EQ(box.length, 3);
    term.keysOf({'X', KEY_END, KEY_BACKSPACE, 127, KEY_HOME, KEY_RIGHT, KEY_DC, KEY_HOME,
                 KEY_BACKSPACE, KEY_LEFT, 0xE9, KEY_F(11), '\t', 27});
    EXPECT_EQ(box.execute(), 1);   // Esc keeps the edit
    EXPECT_STREQ(buf, "\xE9X");
    EXPECT_EQ(box.length, 2);
    EXPECT_EQ(box.caret, 1);
    // Snap 1: "Xabc" with the caret on 'a'.
    EXPECT_EQ(textAt(term.snap(1), 11, 12, 4), "Xabc");
    EXPECT_EQ(attrAt(term.snap(1), 12, 12), 0x20);
    // After the two Backspaces: "Xa".
    EXPECT_EQ(textAt(term.snap(4), 11, 12, 3), "Xa ");
}

TEST_F(InputTest, InitCutsTheInitialTextAndReplacesThePrompt) {
    consoleInputBox box;
    std::strcpy(buf, "abcdefghij");
    box.init(nullptr, 20, 10, 40, "First", buf, 4, 0x1E);
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(box.length, 4);
    EXPECT_STREQ(box.prompt, "First");

    char other[8] = "xy";
    box.init(nullptr, 20, 10, 40, "Second", other, 7, 0x4E);
    EXPECT_STREQ(box.prompt, "Second");
    EXPECT_EQ(box.buffer, other);
    EXPECT_EQ(box.length, 2);
    EXPECT_EQ(box.color, 0x4E);
    EXPECT_EQ(box.h, 4);
    EXPECT_EQ(box.flags, 3u);
}

TEST_F(InputTest, BoxWithoutBufferEditsNothing) {
    consoleInputBox box;
    std::strcpy(buf, "keep");
    box.init(nullptr, 20, 10, 40, "p", buf, 10, 0x1E);
    box.init(nullptr, 20, 10, 40, "p", nullptr, 10, 0x1E);
    term.pushText("typed");
    term.keysOf({KEY_BACKSPACE, KEY_DC, KEY_END, 13});
    EXPECT_EQ(box.execute(), 2);
    EXPECT_STREQ(buf, "keep");   // the earlier buffer is let go, not written

    char small[4] = {'z', 'z', 'z', 'z'};
    box.init(nullptr, 20, 10, 40, "p", small, 0, 0x1E);
    term.pushText("ab");
    term.pushKey(27);
    EXPECT_EQ(box.execute(), 1);
    EXPECT_EQ(std::string(small, 4), "zzzz");
    EXPECT_EQ(box.buffer, nullptr);
}

TEST_F(InputTest, GeometryAndGoneInput) {
    consoleInputBox box;
    box.init(nullptr, 79, 30, 2, nullptr, buf, 10, 0x1E);
    EXPECT_EQ(box.w, 3);
    EXPECT_EQ(box.x, 77);
    EXPECT_EQ(box.y, 21);
    fillPattern();
    const auto before = screenCopy();
    term.pushText("abcd");
    EXPECT_EQ(box.execute(), 1);   // input ran out: cancelled
    EXPECT_STREQ(buf, "abcd");
    EXPECT_EQ(screenCopy(), before);
    // A one-cell field still shows the caret inside the frame.
    EXPECT_EQ(attrAt(term.snap(4), 78, 23), 0x20);
    EXPECT_EQ(chAt(term.snap(4), 79, 23), 0xBA);
}

class MessageBoxTest : public UiTest {};

TEST_F(MessageBoxTest, OneLineGeometryAndResults) {
    term.keysOf({13});
    EXPECT_EQ(messageBox(nullptr, 0x4E, "Hello", "Press Enter to continue..."), 2);
    // Width 4 + 26 = 30 at x 25, rows 10 to 14.
    const auto& s = term.snap(0);
    EXPECT_EQ(chAt(s, 25, 10), 0xC9);
    EXPECT_EQ(chAt(s, 54, 10), 0xBB);
    EXPECT_EQ(chAt(s, 54, 14), 0xBC);
    EXPECT_EQ(textAt(s, 26, 11, 7), " Hello ");
    EXPECT_EQ(attrAt(s, 26, 11), 0x4E);
    EXPECT_EQ(attrAt(s, 25, 10), 0x1E);
    EXPECT_EQ(chAt(s, 25, 12), 0xCC);
    EXPECT_EQ(textAt(s, 28, 13, 26), "Press Enter to continue...");
    EXPECT_EQ(attrAt(s, 28, 13), 0x71);
    EXPECT_EQ(chAt(s, 25, 15), 0);
    EXPECT_EQ(screenBuf[11][30], 0);   // restored

    term.keysOf({27});
    EXPECT_EQ(messageBox(nullptr, 0, "Hello", "OK"), 1);
    EXPECT_EQ(term.keys.size(), 0u);
    EXPECT_EQ(messageBox(nullptr, 0, "Hello", "OK"), 1);   // input gone
}

TEST_F(MessageBoxTest, TwoLinesReturnTwoOnlyForTheFirst) {
    term.keysOf({KEY_DOWN, 13});
    EXPECT_EQ(messageBox(nullptr, 0x1E, "Restart the server?", "Yes", "No"), 1);
    const auto& s = term.snap(0);
    // Height 6: rows 10 to 15, title colour 0x1E kept.
    EXPECT_EQ(chAt(s, 40 - 23 / 2, 15), 0xC8);
    EXPECT_EQ(textAt(s, 40 - 23 / 2 + 3, 14, 2), "No");

    term.keysOf({KEY_DOWN, KEY_UP, 13});
    EXPECT_EQ(messageBox(nullptr, 0x1E, "Restart the server?", "Yes", "No"), 2);
}

// Each line of the text after the first gets a row of its own under the
// title; the longest line sets the width.
TEST_F(MessageBoxTest, TextLinesGoUnderTheTitle) {
    term.keysOf({13});
    EXPECT_EQ(messageBox(nullptr, 0x4E, "Failed!\nConnection refused here\nx", "OK"), 2);
    const auto& s = term.snap(0);   // width 27 at x 27, rows 10 to 16
    EXPECT_EQ(textAt(s, 28, 11, 9), " Failed! ");
    EXPECT_EQ(textAt(s, 28, 12, 24), " Connection refused here");
    EXPECT_EQ(attrAt(s, 29, 12), 0x4E);
    EXPECT_EQ(textAt(s, 28, 13, 3), " x ");
    EXPECT_EQ(chAt(s, 27, 14), 0xCC);
    EXPECT_EQ(textAt(s, 30, 15, 2), "OK");
    EXPECT_EQ(chAt(s, 27, 16), 0xC8);
}

TEST_F(MessageBoxTest, WideMessagesUseTheWholeRow) {
    std::string text76(76, 'm');
    term.keysOf({13});
    EXPECT_EQ(messageBox(nullptr, 0x4E, text76.c_str(), "OK"), 2);
    EXPECT_EQ(chAt(term.snap(0), 0, 10), 0xC9);
    EXPECT_EQ(chAt(term.snap(0), 79, 10), 0xBB);
    EXPECT_EQ(chAt(term.snap(0), 77, 11), 'm');
    EXPECT_EQ(chAt(term.snap(0), 78, 11), ' ');

    std::string text100;
    for (int i = 0; i < 100; ++i) text100.push_back(static_cast<char>('a' + i % 26));
    term.snaps.clear();
    term.keysOf({27});
    EXPECT_EQ(messageBox(nullptr, 0x4E, text100.c_str(), "OK"), 1);
    const auto& s = term.snap(0);
    EXPECT_EQ(textAt(s, 2, 11, 77), text100.substr(0, 77));
    EXPECT_EQ(chAt(s, 79, 11), 0xBA);
}

TEST_F(MessageBoxTest, NullTextShowsNothing) {
    fillPattern();
    const auto before = screenCopy();
    term.keysOf({13});
    EXPECT_EQ(messageBox(nullptr, 0x4E, nullptr, "OK"), 1);
    EXPECT_EQ(messageBox(nullptr, 0x4E, "Text", nullptr), 1);
    EXPECT_TRUE(term.snaps.empty());
    EXPECT_EQ(screenCopy(), before);
}

}  // namespace
