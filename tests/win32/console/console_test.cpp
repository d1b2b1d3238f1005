#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A screen buffer wider and taller than the program's screen, filled with
// '.' in attribute 0x07, so that a write past column 79 or onto the next row
// shows when it is read back.
struct WideBuffer {
    static const int width = 100;
    HANDLE h = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr, CONSOLE_TEXTMODE_BUFFER,
                                         nullptr);
    WideBuffer() {
        // A buffer never gets smaller than its window, which starts as the terminal's size.
        SMALL_RECT window{0, 0, 79, 24};
        SetConsoleWindowInfo(h, TRUE, &window);
        SetConsoleScreenBufferSize(h, COORD{width, 30});
        DWORD done;
        FillConsoleOutputCharacterA(h, '.', width * 30, COORD{0, 0}, &done);
        FillConsoleOutputAttribute(h, 0x07, width * 30, COORD{0, 0}, &done);
    }
    ~WideBuffer() { CloseHandle(h); }
    bool ok() const { return h != INVALID_HANDLE_VALUE; }

    CHAR_INFO cell(int x, int y) const {
        CHAR_INFO c{};
        SMALL_RECT area{static_cast<SHORT>(x), static_cast<SHORT>(y), static_cast<SHORT>(x),
                        static_cast<SHORT>(y)};
        ReadConsoleOutputA(h, &c, COORD{1, 1}, COORD{0, 0}, &area);
        return c;
    }
};

uint16_t cellOf(int ch, int attr) { return static_cast<uint16_t>((attr << 8) | (ch & 0xFF)); }

// Waits, bounded, until at least n keys are queued.
bool waitForKeys(int n) {
    ULONGLONG end = GetTickCount64() + 5000;
    while (keyEventCount() < n && GetTickCount64() < end)
        WaitForSingleObject(keyEventSignal(), 100);
    return keyEventCount() >= n;
}

INPUT_RECORD keyRecord(char c, BOOL down) {
    INPUT_RECORD r{};
    r.EventType = KEY_EVENT;
    r.Event.KeyEvent.bKeyDown = down;
    r.Event.KeyEvent.wRepeatCount = 1;
    r.Event.KeyEvent.wVirtualKeyCode = static_cast<WORD>(c - 'a' + 'A');
    r.Event.KeyEvent.uChar.AsciiChar = c;
    return r;
}

} // namespace

TEST(Console, CellsKeepTheirAttributeWordAndStopAtColumn79) {
    WideBuffer b;
    ASSERT_TRUE(b.ok());
    WinConsoleTerminal t(b.h);
    uint16_t cells[80];
    for (int i = 0; i < 80; i++)
        cells[i] = cellOf('A' + i % 26, 0x1E);
    cells[0] = cellOf(0xC9, 0x9F);   // bit 7 set, and a line-drawing character
    cells[79] = cellOf('z', 0x70);
    t.putRow(2, cells);
    EXPECT_EQ(static_cast<unsigned char>(b.cell(0, 2).Char.AsciiChar), 0xC9);
    EXPECT_EQ(b.cell(0, 2).Attributes, 0x009F);
    EXPECT_EQ(b.cell(1, 2).Char.AsciiChar, 'B');
    EXPECT_EQ(b.cell(1, 2).Attributes, 0x001E);
    EXPECT_EQ(b.cell(79, 2).Char.AsciiChar, 'z');
    EXPECT_EQ(b.cell(79, 2).Attributes, 0x0070);
    EXPECT_EQ(b.cell(80, 2).Char.AsciiChar, '.');

    // A run from column 75 stops at 79, neither going on nor wrapping.
    EXPECT_EQ(t.putCells(75, 5, cells + 1, 10), 5);
    EXPECT_EQ(b.cell(75, 5).Char.AsciiChar, 'B');
    EXPECT_EQ(b.cell(79, 5).Char.AsciiChar, 'F');
    EXPECT_EQ(b.cell(80, 5).Char.AsciiChar, '.');
    EXPECT_EQ(b.cell(80, 5).Attributes, 0x0007);
    EXPECT_EQ(b.cell(0, 6).Char.AsciiChar, '.');
    EXPECT_EQ(b.cell(74, 5).Char.AsciiChar, '.');
    EXPECT_EQ(t.putCells(80, 5, cells, 3), 0);
    EXPECT_EQ(t.putCells(0, 25, cells, 3), 0);
}

TEST(Console, CursorGoesWhereItIsPut) {
    WideBuffer b;
    ASSERT_TRUE(b.ok());
    WinConsoleTerminal t(b.h);
    t.moveCursor(12, 7);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(b.h, &info));
    EXPECT_EQ(info.dwCursorPosition.X, 12);
    EXPECT_EQ(info.dwCursorPosition.Y, 7);
}

TEST(Console, SetUpGivesAnActiveRawBufferThatTurnsCtrlCIntoAKey) {
    HANDLE screen = openConsoleScreen();
    ASSERT_NE(screen, INVALID_HANDLE_VALUE);
    DWORD mode = 99;
    ASSERT_TRUE(GetConsoleMode(screen, &mode));
    EXPECT_EQ(mode, 0u);
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(screen, &info));
    EXPECT_EQ(info.dwSize.X, 80);
    EXPECT_EQ(info.dwSize.Y, 25);
    // Drawing on the standard output now lands in the program's buffer.
    WinConsoleTerminal t(screen);
    uint16_t cells[80];
    for (uint16_t& c : cells)
        c = cellOf('q', 0x4E);
    t.putRow(0, cells);
    HANDLE active = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(active, INVALID_HANDLE_VALUE);
    CHAR_INFO seen{};
    SMALL_RECT area{3, 0, 3, 0};
    ASSERT_TRUE(ReadConsoleOutputA(active, &seen, COORD{1, 1}, COORD{0, 0}, &area));
    CloseHandle(active);
    EXPECT_EQ(seen.Char.AsciiChar, 'q');
    EXPECT_EQ(seen.Attributes, 0x004E);

    ASSERT_TRUE(setConsoleTitle("Quorvex Client v.1.73 - disconnected"));
    char title[64] = {};
    GetConsoleTitleA(title, sizeof title);
    EXPECT_STREQ(title, "Quorvex Client v.1.73 - disconnected");

    // The program survives Ctrl+C and finds it in the key queue.
    ASSERT_TRUE(GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0));
    ASSERT_TRUE(waitForKeys(1));
    INPUT_RECORD r{};
    ASSERT_TRUE(getKeyEvent(screen, r));
    EXPECT_EQ(r.Event.KeyEvent.wVirtualScanCode, 0x2E);
    EXPECT_EQ(r.Event.KeyEvent.uChar.AsciiChar, 3);
    closeConsoleScreen(screen);
}

TEST(Console, InputThreadQueuesKeyDownsOnlyInOrder) {
    startKeyboardThread();
    INPUT_RECORD in[6] = {keyRecord('x', TRUE), keyRecord('x', FALSE), {}, {}, keyRecord('y', TRUE),
                          keyRecord('y', FALSE)};
    in[2].EventType = MOUSE_EVENT;
    in[3].EventType = FOCUS_EVENT;
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(GetStdHandle(STD_INPUT_HANDLE), in, 6, &written));
    ASSERT_EQ(written, 6u);
    ASSERT_TRUE(waitForKeys(2));
    std::string typed;
    INPUT_RECORD r;
    while (getKeyEvent(nullptr, r)) {
        EXPECT_TRUE(r.Event.KeyEvent.bKeyDown);
        typed += r.Event.KeyEvent.uChar.AsciiChar;
    }
    // One batch: a release queued after "x" would stand before "y".
    EXPECT_EQ(typed, "xy");
}
