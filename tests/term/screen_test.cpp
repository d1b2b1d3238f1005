#include <iconv.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "console/cp437.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/term.h"

namespace {

class ScreenTest : public ::testing::Test {
protected:
    MemoryTerminal term;

    void SetUp() override {
        std::memset(screenBuf, 0, sizeof screenBuf);
        cursorX = cursorY = 0;
        alternateCharset = 0;
        monochromeMode = 0;
        unicodeMode = 0;
        setTerminal(&term);
    }
    void TearDown() override {
        setTerminal(nullptr);
        alternateCharset = 0;
        monochromeMode = 0;
        unicodeMode = 0;
    }

    static unsigned char ch(int x, int y) { return static_cast<unsigned char>(screenBuf[y][x] & 0xFF); }
    static unsigned char at(int x, int y) { return static_cast<unsigned char>(screenBuf[y][x] >> 8); }
    static std::string rowChars(int y, int from, int to) {
        std::string s;
        for (int x = from; x < to; ++x) s.push_back(static_cast<char>(ch(x, y)));
        return s;
    }
    // Number of cells that differ from zero outside the given rows.
    static int dirtyCellsOutside(int firstRow, int lastRow) {
        int n = 0;
        for (int y = 0; y < screenRows; ++y)
            for (int x = 0; x < screenCols; ++x)
                if ((y < firstRow || y > lastRow) && screenBuf[y][x]) ++n;
        return n;
    }
    static void fillPattern() {
        for (int y = 0; y < screenRows; ++y)
            for (int x = 0; x < screenCols; ++x)
                screenBuf[y][x] = static_cast<uint16_t>(((y * 7 + x) & 0xFF) | (((x + y) & 0x7F) << 8));
    }
};

TEST_F(ScreenTest, TextLinePadsShortTextAndCutsLongText) {
    consoleTextLine(nullptr, 2, 3, "abc", 6, 0x1E);
    EXPECT_EQ(rowChars(3, 2, 8), "abc   ");
    for (int x = 2; x < 8; ++x) EXPECT_EQ(at(x, 3), 0x1E) << x;
    EXPECT_EQ(screenBuf[3][8], 0);
    EXPECT_EQ(screenBuf[3][1], 0);

    consoleTextLine(nullptr, 10, 4, "abcdefgh", 4, 0x4E);
    EXPECT_EQ(rowChars(4, 10, 14), "abcd");
    EXPECT_EQ(screenBuf[4][14], 0);

    // The field stops at column 79; nothing wraps to the next row.
    consoleTextLine(nullptr, 77, 5, "hello", 10, 0x70);
    EXPECT_EQ(rowChars(5, 77, 80), "hel");
    EXPECT_EQ(dirtyCellsOutside(3, 5), 0);

    // A null text is an empty one: the field is all blanks.
    consoleTextLine(nullptr, 0, 6, nullptr, 3, 0x07);
    EXPECT_EQ(rowChars(6, 0, 3), "   ");

    EXPECT_EQ(term.rowPushes[3], 1);
    EXPECT_EQ(term.rowPushes[5], 1);
    EXPECT_EQ(term.rowText(5).substr(77), "hel");
}

TEST_F(ScreenTest, CellWritesClipAtColumn79) {
    setChars(78, 0, 'x', 0x07, 5);
    EXPECT_EQ(rowChars(0, 78, 80), "xx");
    copyText(79, 1, "pqr", 0x1F, 3);
    EXPECT_EQ(ch(79, 1), 'p');
    EXPECT_EQ(at(79, 1), 0x1F);
    fillChars(76, 2, '#', 100);
    EXPECT_EQ(rowChars(2, 76, 80), "####");
    const unsigned char attrs[] = {1, 2, 3, 4, 5};
    copyAttrs(77, 3, attrs, 5);
    EXPECT_EQ(at(77, 3), 1);
    EXPECT_EQ(at(79, 3), 3);
    setAttrs(79, 4, 0x70, INT_MAX);
    EXPECT_EQ(at(79, 4), 0x70);
    copyChars(78, 5, "uvw", 3);
    EXPECT_EQ(rowChars(5, 78, 80), "uv");
    EXPECT_EQ(dirtyCellsOutside(0, 5), 0);
    for (int y = 0; y <= 5; ++y) EXPECT_EQ(screenBuf[y][0], 0) << "wrapped into row " << y;
}

TEST_F(ScreenTest, CountsOfZeroOrLessDrawNothingButStillRefresh) {
    consoleCharFill(nullptr, 5, 7, 0, 'x');
    consoleAttrFill(nullptr, 5, 7, -3, 0x1E);
    consoleTextSet(nullptr, 5, 7, "abc", 0);
    consoleAttrSet(nullptr, 5, 7, reinterpret_cast<const unsigned char*>("abc"), -1);
    consoleTextLine(nullptr, 5, 7, "abc", 0, 0x1E);
    setChars(5, 8, 'x', 1, -100);
    copyText(5, 8, "abc", 1, 0);
    EXPECT_EQ(dirtyCellsOutside(25, 25), 0);
    EXPECT_EQ(term.rowPushes[7], 5);
    EXPECT_EQ(term.refreshes, 5);
}

TEST_F(ScreenTest, PositionsOffTheScreenTouchNothingOutsideIt) {
    const int rows[] = {-1, 25, 1000, INT_MIN, INT_MAX};
    for (int y : rows) {
        setChars(0, y, 'x', 7, 80);
        copyText(0, y, "abc", 7, 3);
        consoleTextLine(nullptr, 0, y, "abc", 80, 7);
        consoleFillBox(nullptr, 0, y, 80, 1, 7, 'x');
        consoleCharFill(nullptr, 0, y, 10, 'x');
    }
    const int cols[] = {80, 1000, INT_MAX, INT_MIN};
    for (int x : cols) {
        setChars(x, 0, 'x', 7, INT_MAX);
        consoleTextLine(nullptr, x, 0, "abc", INT_MAX, 7);
        consoleAttrFill(nullptr, x, 0, INT_MAX, 7);
    }
    EXPECT_EQ(dirtyCellsOutside(25, 25), 0);

    // A run that starts left of the screen shows its visible part.
    setChars(-2, 1, 'x', 7, 4);
    EXPECT_EQ(rowChars(1, 0, 3), std::string("xx") + '\0');
    consoleTextLine(nullptr, -3, 2, "abcdef", 6, 7);
    EXPECT_EQ(rowChars(2, 0, 4), std::string("def") + '\0');
    copyChars(-1, 3, "pq", 2);
    EXPECT_EQ(ch(0, 3), 'q');
    // Boxes hanging over any edge are clipped to the screen.
    consoleDrawBox(nullptr, -5, -5, 200, 200, 0x1E, brd);
    consoleFillBox(nullptr, 70, 20, INT_MAX, INT_MAX, 0x1E, ' ');
    EXPECT_EQ(at(79, 24), 0x1E);

    // Extreme rectangles neither overflow nor take long: only the visible
    // rows are visited.
    std::memset(screenBuf, 0, sizeof screenBuf);
    consoleDrawBox(nullptr, INT_MAX, INT_MAX, INT_MAX, INT_MAX, 0x1E, brd);
    consoleDrawBox(nullptr, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x1E, brd);
    consoleFillBox(nullptr, INT_MIN, INT_MIN, INT_MAX, INT_MAX, 0x1E, 'x');
    restoreScreenRect(INT_MIN, INT_MIN, 1, INT_MAX, nullptr);
    EXPECT_EQ(dirtyCellsOutside(25, 25), 0);
    consoleDrawBox(nullptr, 0, -1000, 10, INT_MAX, 0x1E, "HVabcd");
    EXPECT_EQ(ch(0, 0), 'V');   // rows 0..24 are all side rows of this box
    EXPECT_EQ(ch(9, 24), 'V');
    EXPECT_EQ(ch(1, 5), 0);
    std::vector<unsigned char> one(2 * 3, 0xEE);
    saveScreenRect(INT_MIN, 0, 3, 1, one.data());
    EXPECT_EQ(one, std::vector<unsigned char>(6, 0));
}

TEST_F(ScreenTest, TextSetCopiesZeroBytesAndKeepsAttributes) {
    setAttrs(0, 9, 0x4E, 80);
    const char bytes[] = {'a', 0, 'b'};
    consoleTextSet(nullptr, 4, 9, bytes, 3);
    EXPECT_EQ(ch(4, 9), 'a');
    EXPECT_EQ(ch(5, 9), 0);
    EXPECT_EQ(ch(6, 9), 'b');
    EXPECT_EQ(at(5, 9), 0x4E);
    EXPECT_EQ(translateCell(screenBuf[9][5]).ch, ' ');
    alternateCharset = 1;
    EXPECT_EQ(translateCell(screenBuf[9][5]).ch, ' ');
}

TEST_F(ScreenTest, AttributeOperationsKeepCharacters) {
    consoleTextLine(nullptr, 0, 10, "abcdef", 6, 0x07);
    const unsigned char attrs[] = {0x10, 0x20, 0x30};
    consoleAttrSet(nullptr, 1, 10, attrs, 3);
    consoleAttrFill(nullptr, 4, 10, 2, 0x5F);
    consoleCharFill(nullptr, 0, 10, 1, 'Z');
    EXPECT_EQ(rowChars(10, 0, 6), "Zbcdef");
    const unsigned char expected[] = {0x07, 0x10, 0x20, 0x30, 0x5F, 0x5F};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(at(x, 10), expected[x]) << x;
}

TEST_F(ScreenTest, DrawBoxWritesCornersThenEdgesInOrder) {
    const char frame[] = "HVabcd";  // horizontal, vertical, TL, TR, BR, BL
    setChars(0, 5, '.', 0x07, 80);
    setChars(0, 6, '.', 0x07, 80);
    consoleDrawBox(nullptr, 10, 3, 5, 4, 0x1E, frame);
    EXPECT_EQ(rowChars(3, 10, 15), "aHHHb");
    EXPECT_EQ(rowChars(4, 10, 15), std::string("V") + std::string(3, '\0') + "V");
    EXPECT_EQ(rowChars(5, 10, 15), "V...V");  // the interior is left alone
    EXPECT_EQ(rowChars(6, 10, 15), "dHHHc");
    EXPECT_EQ(at(12, 5), 0x07);
    EXPECT_EQ(at(10, 5), 0x1E);
    for (int y = 3; y <= 6; ++y) EXPECT_EQ(term.rowPushes[y], 1);
    EXPECT_EQ(term.rowPushes[2], 0);
    EXPECT_EQ(term.rowPushes[7], 0);

    // Degenerate boxes show which write came last.
    consoleDrawBox(nullptr, 30, 0, 1, 1, 0x1E, frame);
    EXPECT_EQ(ch(30, 0), 'd');
    consoleDrawBox(nullptr, 40, 0, 2, 1, 0x1E, frame);
    EXPECT_EQ(rowChars(0, 40, 42), "dc");
    consoleDrawBox(nullptr, 50, 0, 1, 3, 0x1E, frame);
    EXPECT_EQ(ch(50, 0), 'b');
    EXPECT_EQ(ch(50, 1), 'V');
    EXPECT_EQ(ch(50, 2), 'd');
}

TEST_F(ScreenTest, FillBoxFillsRowsClippedAtTheEdges) {
    consoleFillBox(nullptr, 78, 23, 5, 5, 0x2A, '*');
    EXPECT_EQ(rowChars(23, 78, 80), "**");
    EXPECT_EQ(rowChars(24, 78, 80), "**");
    EXPECT_EQ(at(79, 24), 0x2A);
    EXPECT_EQ(ch(77, 23), 0);
    EXPECT_EQ(dirtyCellsOutside(23, 24), 0);
    EXPECT_EQ(term.rowPushes[23], 1);
    EXPECT_EQ(term.rowPushes[24], 1);
}

TEST_F(ScreenTest, SaveAndRestoreRectangleRoundTrip) {
    fillPattern();
    std::vector<unsigned char> saved(3 * 2 * 2);
    saveScreenRect(10, 5, 3, 2, saved.data());
    // Row after row, char then attribute.
    EXPECT_EQ(saved[0], screenBuf[5][10] & 0xFF);
    EXPECT_EQ(saved[1], screenBuf[5][10] >> 8);
    EXPECT_EQ(saved[6], screenBuf[6][10] & 0xFF);
    EXPECT_EQ(saved[11], screenBuf[6][12] >> 8);

    uint16_t before[screenRows][screenCols];
    std::memcpy(before, screenBuf, sizeof before);
    consoleFillBox(nullptr, 9, 4, 6, 4, 0x70, ' ');
    restoreScreenRect(10, 5, 3, 2, saved.data());
    for (int y = 5; y <= 6; ++y)
        for (int x = 10; x <= 12; ++x) EXPECT_EQ(screenBuf[y][x], before[y][x]) << x << "," << y;
    EXPECT_EQ(screenBuf[4][9], 0x7020);
    EXPECT_EQ(term.rowPushes[5], 2);
    EXPECT_EQ(term.rowPushes[7], 1);
}

TEST_F(ScreenTest, SaveAndRestoreClipOffScreenCells) {
    fillPattern();
    std::vector<unsigned char> saved(4 * 3 * 2, 0xEE);
    saveScreenRect(78, 23, 4, 3, saved.data());
    EXPECT_EQ(saved[0], screenBuf[23][78] & 0xFF);
    EXPECT_EQ(saved[2 * 1 + 1], screenBuf[23][79] >> 8);
    EXPECT_EQ(saved[2 * 2], 0);          // column 80 does not exist
    EXPECT_EQ(saved[(2 * 4 + 0) * 2], 0);  // row 25 does not exist
    EXPECT_EQ(saved[(1 * 4 + 1) * 2], screenBuf[24][79] & 0xFF);

    std::vector<unsigned char> paint(4 * 3 * 2, 0x41);
    restoreScreenRect(78, 23, 4, 3, paint.data());
    EXPECT_EQ(screenBuf[23][78], 0x4141);
    EXPECT_EQ(screenBuf[24][79], 0x4141);
    EXPECT_NE(screenBuf[24][0], 0x4141);
    // From the left: source column 2 lands on screen column 0.
    std::vector<unsigned char> left = {'a', 1, 'b', 2, 'c', 3};
    restoreScreenRect(-2, 0, 3, 1, left.data());
    EXPECT_EQ(screenBuf[0][0], 0x0363);
}

TEST_F(ScreenTest, UpdateScreenPushesWholeRowsThenCursor) {
    fillPattern();
    COORD pos{5, 7};
    SetConsoleCursorPosition(nullptr, pos);
    EXPECT_EQ(cursorX, 5);
    EXPECT_EQ(cursorY, 7);
    EXPECT_EQ(term.cursorX, 5);
    EXPECT_EQ(term.cursorY, 7);
    EXPECT_EQ(term.rowPushes[0], 0);  // moving the cursor redraws nothing

    updateScreen(nullptr, 0, 25);
    EXPECT_EQ(std::memcmp(term.shown, screenBuf, sizeof screenBuf), 0);
    for (int y = 0; y < 25; ++y) EXPECT_EQ(term.rowPushes[y], 1);

    updateScreen(nullptr, -3, 5);
    EXPECT_EQ(term.rowPushes[0], 2);
    EXPECT_EQ(term.rowPushes[1], 2);
    EXPECT_EQ(term.rowPushes[2], 1);
    updateScreen(nullptr, 24, INT_MAX);
    EXPECT_EQ(term.rowPushes[24], 2);
    const int before = term.refreshes;
    updateScreen(nullptr, 3, 0);
    EXPECT_EQ(term.refreshes, before + 1);
    EXPECT_EQ(term.rowPushes[3], 1);
}

// Expected translated character, written from the range table.
unsigned char expectedCompat(int c) {
    if (c == 0x10 || c == 0x1F) return '>';
    if (c == 0x11 || c == 0x1E) return '<';
    if (c < 0x20) return ' ';
    if (c == 0x7F) return ' ';  // DEL would be spelt "^?" by curses
    if (c < 0x80) return static_cast<unsigned char>(c);
    if (c == 0xB3 || c == 0xBA) return '|';
    if (c == 0xC4 || c == 0xCD) return '-';
    if (c == 0xDB) return '#';
    if (c == 0xF9 || c == 0xFA) return '*';
    if ((c >= 0xB4 && c <= 0xDA)) return '+';
    return ' ';
}

// Code page 437 as the C library knows it: the oracle for 0x20..0xFF.
char32_t libraryGlyph(unsigned char code) {
    iconv_t cd = iconv_open("UTF-32LE", "IBM437");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
    char in[1] = {static_cast<char>(code)};
    unsigned char out[4] = {};
    char* inp = in;
    char* outp = reinterpret_cast<char*>(out);
    size_t inLeft = 1, outLeft = 4;
    const size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1)) return 0;
    return out[0] | out[1] << 8 | out[2] << 16 | static_cast<char32_t>(out[3]) << 24;
}

TEST_F(ScreenTest, UnicodeModeShowsEveryCodeAsItsGlyph) {
    const std::u32string controls = U" ☺☻♥♦♣♠•◘○◙♂♀♪♫☼►◄↕‼¶§▬↨↑↓→←∟↔▲▼";
    const char* saved = std::setlocale(LC_CTYPE, nullptr);
    const std::string before = saved ? saved : "C";
    ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    unicodeMode = 1;
    for (int c = 0; c < 256; ++c) {
        const CursesCell cell = translateCell(static_cast<uint16_t>(c | 0x0700));
        const char32_t want = c < 0x20 ? controls[c] : c == 0x7F ? U'⌂' : libraryGlyph(static_cast<unsigned char>(c));
        EXPECT_EQ(cell.glyph, want) << std::hex << c;
        EXPECT_EQ(cell.glyph, cp437Unicode[c]) << std::hex << c;
        EXPECT_FALSE(cell.altCharset);
        EXPECT_EQ(cell.acs, 0);
        // One column each, or the rest of the row would shift.
        EXPECT_EQ(wcwidth(static_cast<wchar_t>(cell.glyph)), 1) << std::hex << c;
    }
    std::setlocale(LC_CTYPE, before.c_str());

    consoleDrawBox(nullptr, 0, 0, 4, 3, 0x1F, brd);
    std::u32string shown;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) shown.push_back(translateCell(term.shown[y][x]).glyph);
        shown.push_back(U'\n');
    }
    EXPECT_EQ(shown, U"╔══╗\n║  ║\n╚══╝\n");
    alternateCharset = 1;  // -a wins over Unicode
    EXPECT_EQ(translateCell(0x07CD).glyph, 0u);
    EXPECT_EQ(translateCell(0x07CD).ch, '-');
}

TEST_F(ScreenTest, NativeModeKeepsAsciiAndDrawsWithTheTerminalsLineSet) {
    const std::string acsNames = "`afghjklmnopqrstuvwxyz{|}~,+-.0";
    for (int c = 0; c < 256; ++c) {
        const CursesCell cell = translateCell(static_cast<uint16_t>(c | 0x0700));
        EXPECT_EQ(cell.glyph, 0u);
        if (c >= 0x20 && c < 0x7F) {
            EXPECT_EQ(cell.ch, c) << std::hex << c;
            EXPECT_FALSE(cell.altCharset) << std::hex << c;
            EXPECT_EQ(cell.acs, 0) << std::hex << c;
        } else if (cell.acs) {
            EXPECT_NE(acsNames.find(cell.acs), std::string::npos) << std::hex << c;
            EXPECT_FALSE(cell.altCharset);
        } else if (c >= 0x80) {
            EXPECT_EQ(cell.ch, c) << std::hex << c;  // the other high bytes as they are
            EXPECT_TRUE(cell.altCharset) << std::hex << c;
        } else {
            EXPECT_EQ(cell.ch, ' ') << std::hex << c;  // controls and DEL never reach the terminal
            EXPECT_FALSE(cell.altCharset) << std::hex << c;
        }
    }
    // Every line-drawing code, single, double or mixed, has a line piece.
    for (int c = 0xB3; c <= 0xDA; ++c) EXPECT_NE(translateCell(static_cast<uint16_t>(c)).acs, 0) << std::hex << c;
    std::string frame, shades;
    for (char c : std::string(brd)) frame.push_back(translateCell(static_cast<unsigned char>(c)).acs);
    EXPECT_EQ(frame, "qxlkjm");
    for (int c : {0xB0, 0xB1, 0xB2, 0xDB, 0x1E, 0x1F}) shades.push_back(translateCell(static_cast<uint16_t>(c)).acs);
    EXPECT_EQ(shades, "haa0-.");
}

TEST_F(ScreenTest, TranslatedModeUsesTheAsciiTable) {
    alternateCharset = 1;
    unicodeMode = 1;  // -a wins
    for (int c = 0; c < 256; ++c) {
        const CursesCell plain = translateCell(static_cast<uint16_t>(c | 0x0700));
        EXPECT_EQ(plain.ch, expectedCompat(c)) << std::hex << c;
        EXPECT_FALSE(plain.altCharset);
        EXPECT_EQ(plain.acs, 0);
        EXPECT_EQ(plain.glyph, 0u);
    }
    consoleDrawBox(nullptr, 0, 0, 4, 3, 0x1F, brd);
    std::string shown;
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) shown.push_back(static_cast<char>(translateCell(term.shown[y][x]).ch));
        shown.push_back('\n');
    }
    EXPECT_EQ(shown, "+--+\n|  |\n+--+\n");
}

TEST_F(ScreenTest, TranslateCellColours) {
    const CursesCell whiteOnBlue = translateCell(0x1F00 | 'x');
    EXPECT_EQ(whiteOnBlue.pair, 61);
    EXPECT_TRUE(whiteOnBlue.bold);
    EXPECT_EQ(translateCell(0x0000).pair, 1);
    EXPECT_FALSE(translateCell(0x0000).bold);
    EXPECT_EQ(translateCell(0x7000).pair, 8);    // black on light grey
    EXPECT_EQ(translateCell(0x4E00).pair, 26);   // yellow on red
    EXPECT_EQ(translateCell(0x7700).pair, 64);   // light grey on light grey
    for (int a = 0; a < 128; ++a) {
        const CursesCell low = translateCell(static_cast<uint16_t>(a << 8 | 'q'));
        const CursesCell high = translateCell(static_cast<uint16_t>((a | 0x80) << 8 | 'q'));
        EXPECT_EQ(low.pair, high.pair) << a;
        EXPECT_EQ(low.bold, high.bold) << a;
        EXPECT_EQ(low.bold, (a & 8) != 0);
    }
    // Every colour combination has a pair of its own in 1..64.
    std::vector<bool> used(65, false);
    for (int a = 0; a < 128; ++a) {
        if (a & 8) continue;
        const int pair = translateCell(static_cast<uint16_t>(a << 8)).pair;
        ASSERT_GE(pair, 1);
        ASSERT_LE(pair, 64);
        EXPECT_FALSE(used[pair]) << a;
        used[pair] = true;
    }
}

TEST_F(ScreenTest, MonochromeUsesPairZeroKeepsBoldAndReversesLightGrounds) {
    EXPECT_FALSE(translateCell(0x2000).reverse);  // colours show the caret
    monochromeMode = 1;
    for (int a = 0; a < 256; ++a) {
        const CursesCell cell = translateCell(static_cast<uint16_t>(a << 8 | 'm'));
        EXPECT_EQ(cell.pair, 0) << a;
        EXPECT_EQ(cell.bold, (a & 8) != 0) << a;
    }
    // Caret (black on green), active list item (blue on grey), status bar.
    for (int a : {0x20, 0x71, 0x70, 0x30, 0x74, 0xF0})
        EXPECT_TRUE(translateCell(static_cast<uint16_t>(a << 8)).reverse) << std::hex << a;
    for (int a : {0x1F, 0x1E, 0x07, 0x4E, 0x00, 0x77, 0x7F, 0x7E, 0x3F, 0x2F})
        EXPECT_FALSE(translateCell(static_cast<uint16_t>(a << 8)).reverse) << std::hex << a;
}

TEST_F(ScreenTest, DisplayModeFromTermLettersAndLocale) {
    struct Case {
        const char* term;
        std::vector<std::string> args;
        bool utf8;
        int translated, unicode, mono;
        bool switchLocale;
    };
    const Case cases[] = {
        {"xterm", {}, false, 1, 0, 0, false},          {"xterm", {}, true, 0, 1, 0, false},
        {"linux", {}, false, 0, 0, 0, false},          {"LINUX", {}, true, 0, 1, 0, false},
        {nullptr, {}, false, 0, 0, 0, false},          {"xterm", {"-a"}, true, 1, 0, 0, false},
        {"linux", {"/a"}, false, 1, 0, 0, false},      {"xterm", {"-n"}, false, 0, 0, 0, false},
        {"xterm", {"--n"}, true, 0, 1, 0, false},      {"xterm", {"-u"}, false, 0, 1, 0, true},
        {"xterm", {"-u"}, true, 0, 1, 0, false},       {"linux", {"-u", "-a"}, true, 1, 0, 0, false},
        {"xterm", {"-a", "--unicode"}, false, 0, 1, 0, true},
        {"xterm", {"-m", "-x", "--server=u", "-"}, false, 1, 0, 1, false},
    };
    for (const Case& c : cases) {
        monochromeMode = 0;
        std::vector<char*> argv{const_cast<char*>("-u")};  // the program path is no option
        for (const std::string& a : c.args) argv.push_back(const_cast<char*>(a.c_str()));
        const bool switchLocale = chooseDisplayMode(c.term, static_cast<int>(argv.size()), argv.data(), c.utf8);
        const std::string what = std::string(c.term ? c.term : "(none)") + " " + std::to_string(c.args.size()) +
                                 " args, utf8 " + std::to_string(c.utf8);
        EXPECT_EQ(alternateCharset, c.translated) << what;
        EXPECT_EQ(unicodeMode, c.unicode) << what;
        EXPECT_EQ(monochromeMode, c.mono) << what;
        EXPECT_EQ(switchLocale, c.switchLocale) << what;
    }
}

}  // namespace
