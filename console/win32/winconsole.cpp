#include "console/win32/winconsole.h"

#include <algorithm>
#include <cstdio>

#include "console/cp437.h"
#include "console/win32/keyqueue.h"

namespace {

const int kColumns = 80;
const int kRows = 25;

} // namespace

HANDLE openConsoleScreen() {
    // Fails harmlessly when the process already has a console.
    AllocConsole();
    HANDLE screen = CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              CONSOLE_TEXTMODE_BUFFER, nullptr);
    if (screen == INVALID_HANDLE_VALUE)
        return screen;
    // A buffer cannot be smaller than its window, which starts at the size
    // of the console (or terminal): shrink the window first when it is larger.
    if (!SetConsoleScreenBufferSize(screen, COORD{kColumns, kRows})) {
        SMALL_RECT window{0, 0, kColumns - 1, kRows - 1};
        SetConsoleWindowInfo(screen, TRUE, &window);
        SetConsoleScreenBufferSize(screen, COORD{kColumns, kRows});
    }
    SetConsoleActiveScreenBuffer(screen);
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    // The input's mode stays: Ctrl+C must keep reaching the control handler.
    SetConsoleMode(screen, 0);

    // Looked up at run time: older systems have no GetConsoleWindow.
    if (HMODULE kernel = LoadLibraryA("kernel32.dll")) {
        using GetWindowFn = HWND(WINAPI*)();
        auto getWindow = reinterpret_cast<GetWindowFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "GetConsoleWindow")));
        if (getWindow) {
            if (HWND window = getWindow())
                BringWindowToTop(window);
        }
        FreeLibrary(kernel);
    }
    return screen;
}

void closeConsoleScreen(HANDLE screen) {
    if (screen != INVALID_HANDLE_VALUE)
        CloseHandle(screen);
    // Line ends act again on the console's own buffer, for what is said there.
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (out && out != INVALID_HANDLE_VALUE && GetConsoleMode(out, &mode))
        SetConsoleMode(out, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
}

void keepWindowForReading() {
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) return;   // a shell's console stays anyway
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!in || in == INVALID_HANDLE_VALUE || !GetConsoleMode(in, &mode)) return;
    std::fputs("Press any key to close this window.\n", stderr);
    std::fflush(stderr);
    waitForAnyKey();
}

bool setConsoleTitle(const char* title) { return SetConsoleTitleA(title) != 0; }

void WinConsoleTerminal::putRow(int row, const uint16_t* cells) { putCells(0, row, cells, kColumns); }

// The attribute byte becomes the low byte of the console's attribute word;
// its high byte, the console's extra flags, stays 0. Characters go out as
// the code page 437 glyphs they stand for, whatever the console's own code
// page, and control codes show as their glyphs instead of acting.
int WinConsoleTerminal::putCells(int x, int y, const uint16_t* cells, int count) {
    if (!cells || x < 0 || x >= kColumns || y < 0 || y >= kRows)
        return 0;
    if (count > kColumns - x)
        count = kColumns - x;
    if (count <= 0)
        return 0;
    CHAR_INFO* row = shown_[y] + x;
    for (int i = 0; i < count; i++) {
        row[i].Char.UnicodeChar = static_cast<WCHAR>(cp437Unicode[cells[i] & 0xFF]);
        row[i].Attributes = static_cast<WORD>(cells[i] >> 8);
    }
    dirty_.Left = std::min<SHORT>(dirty_.Left, static_cast<SHORT>(x));
    dirty_.Right = std::max<SHORT>(dirty_.Right, static_cast<SHORT>(x + count - 1));
    dirty_.Top = std::min<SHORT>(dirty_.Top, static_cast<SHORT>(y));
    dirty_.Bottom = std::max<SHORT>(dirty_.Bottom, static_cast<SHORT>(y));
    return count;
}

void WinConsoleTerminal::moveCursor(int x, int y) { cursor_ = COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)}; }

// What was put since the last refresh, in one write of the rectangle around
// it; then the cursor, when it moved.
int WinConsoleTerminal::refresh() {
    int result = 0;
    if (dirty_.Left <= dirty_.Right) {
        SMALL_RECT area = dirty_;
        if (!WriteConsoleOutputW(screen_, &shown_[0][0], COORD{kColumns, kRows}, COORD{dirty_.Left, dirty_.Top}, &area))
            result = -1;
        dirty_ = SMALL_RECT{kColumns, kRows, -1, -1};
    }
    if (cursor_.X != cursorShown_.X || cursor_.Y != cursorShown_.Y) {
        if (SetConsoleCursorPosition(screen_, cursor_)) cursorShown_ = cursor_;
        else result = -1;
    }
    return result;
}

int WinConsoleTerminal::readKey(int timeoutMs, INPUT_RECORD& record) {
    if (getKeyEvent(screen_, record)) return 1;
    if (timeoutMs == 0) return 0;
    const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    if (WaitForSingleObject(keyEventSignal(), wait) != WAIT_OBJECT_0) return 0;
    return getKeyEvent(screen_, record) ? 1 : 0;
}

bool WinConsoleTerminal::keyPending() const { return keyEventCount() > 0; }

// Handles are small numbers: the event fits the descriptor's int.
int WinConsoleTerminal::inputFd() const {
    return static_cast<int>(reinterpret_cast<intptr_t>(keyEventSignal()));
}
