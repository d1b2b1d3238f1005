#include "console/cinput.h"
#include "console/cmenu.h"
#include "console/cutil.h"
#include "console/win32/keyqueue.h"
#include "console/win32/winconsole.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

// The cells of the buffer's top-left 80 x 25, characters as the console
// holds them.
std::vector<CHAR_INFO> screenOf(HANDLE h) {
    std::vector<CHAR_INFO> cells(80 * 25);
    SMALL_RECT area{0, 0, 79, 24};
    ReadConsoleOutputW(h, cells.data(), COORD{80, 25}, COORD{0, 0}, &area);
    return cells;
}

// Cells that differ in character or attribute word.
int differences(const std::vector<CHAR_INFO>& a, const std::vector<CHAR_INFO>& b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); i++)
        n += a[i].Char.UnicodeChar != b[i].Char.UnicodeChar || a[i].Attributes != b[i].Attributes;
    return n;
}

// The console terminal that also reads the console back while a control
// waits for its key.
class LookingTerminal : public WinConsoleTerminal {
public:
    explicit LookingTerminal(HANDLE h) : WinConsoleTerminal(h), h_(h) {}
    std::vector<CHAR_INFO> whileOpen;
    int readKey(int timeoutMs, INPUT_RECORD& record) override {
        whileOpen = screenOf(h_);
        return WinConsoleTerminal::readKey(timeoutMs < 0 ? 5000 : timeoutMs, record);
    }

private:
    HANDLE h_;
};

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
    t.refresh();
    EXPECT_EQ(static_cast<unsigned char>(b.cell(0, 2).Char.AsciiChar), 0xC9);
    EXPECT_EQ(b.cell(0, 2).Attributes, 0x009F);
    EXPECT_EQ(b.cell(1, 2).Char.AsciiChar, 'B');
    EXPECT_EQ(b.cell(1, 2).Attributes, 0x001E);
    EXPECT_EQ(b.cell(79, 2).Char.AsciiChar, 'z');
    EXPECT_EQ(b.cell(79, 2).Attributes, 0x0070);
    EXPECT_EQ(b.cell(80, 2).Char.AsciiChar, '.');

    // A run from column 75 stops at 79, neither going on nor wrapping.
    EXPECT_EQ(t.putCells(75, 5, cells + 1, 10), 5);
    t.refresh();
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
    t.refresh();
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
    t.refresh();
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

// A control opened over drawn content gives back exactly the cells it
// covered, characters and attribute words, when it closes.
TEST(Console, AControlGivesBackTheCellsItCovered) {
    WideBuffer b;
    ASSERT_TRUE(b.ok());
    LookingTerminal t(b.h);
    setTerminal(&t);
    // Every character and attribute byte turns up, bit 7 included.
    for (int r = 0; r < 25; r++)
        for (int c = 0; c < 80; c++)
            screenBuf[r][c] = cellOf((r * 80 + c) % 256, (r * 80 + c * 7) % 256);
    updateScreen(nullptr, 0, 25);
    const std::vector<CHAR_INFO> drawn = screenOf(b.h);
    EXPECT_EQ(drawn[20].Attributes, 0x008C);

    INPUT_RECORD esc{};
    esc.EventType = KEY_EVENT;
    esc.Event.KeyEvent.bKeyDown = TRUE;
    esc.Event.KeyEvent.wVirtualKeyCode = VK_ESCAPE;
    const std::function<int()> controls[] = {
        [] {
            consoleMenu menu;
            menu.init(nullptr, 70, 20, 30, 8, 3);   // moved in to end at column 79, row 24
            menu.setTitle("Session");
            menu.add("One", 1, nullptr);
            return menu.execute();
        },
        [] {
            char text[16] = "abc";
            consoleInputBox box(1);
            box.init(nullptr, 5, 2, 40, "Password:", text, 10, 0x4E);
            return box.execute();
        },
    };
    for (const auto& run : controls) {
        putKeyEvent(esc);   // character 0, as wine delivers Esc
        EXPECT_EQ(run(), 1);
        EXPECT_GT(differences(t.whileOpen, drawn), 100) << "the control was shown";
        EXPECT_EQ(differences(screenOf(b.h), drawn), 0);
    }
    setTerminal(nullptr);
}
