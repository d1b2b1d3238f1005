#pragma once
#include <windows.h>

#include <cstdint>

#include "console/term.h"

// The program's own 80 x 25 console screen buffer, made active, with the
// control handler installed and the console window brought to the top.
// Returns the buffer, or INVALID_HANDLE_VALUE when no buffer could be made.
HANDLE openConsoleScreen();
// Closes the buffer: the console shows its own buffer again, where the
// standard output and error write.
void closeConsoleScreen(HANDLE screen);
// When the console is the program's own (it was made for it, as for a
// program started from Explorer, and goes away with it), asks for a key
// before the window goes, so that what was written on it can be read.
void keepWindowForReading();
bool setConsoleTitle(const char* title);

// Shows the program's cell screen in a console screen buffer: rows of cells
// (low byte character, high byte attribute) and the cursor. Rows are kept
// until refresh, which writes all that changed with one call (each console
// call is a round trip to the console's host) and moves the cursor only
// when it moved. Keys come from the key queue (keyqueue.h).
class WinConsoleTerminal : public Terminal {
public:
    explicit WinConsoleTerminal(HANDLE screen) : screen_(screen) {}

    void putRow(int row, const uint16_t* cells) override;
    // Puts count cells from column x of row y, cut at column 79: the
    // console itself would go on past it. Returns the number put.
    int putCells(int x, int y, const uint16_t* cells, int count);
    void moveCursor(int x, int y) override;
    int refresh() override;
    // Waits up to timeoutMs for a key from the key queue.
    int readKey(int timeoutMs, INPUT_RECORD& record) override;
    bool keyPending() const override;
    // The key queue's event, which a wait may watch with a socket's.
    int inputFd() const override;
    void setTitle(const char* title) override { setConsoleTitle(title); }

private:
    static constexpr int columns_ = 80;
    static constexpr int rows_ = 25;
    HANDLE screen_;
    CHAR_INFO shown_[rows_][columns_] = {};   // what the console is to show
    SMALL_RECT dirty_{columns_, rows_, -1, -1};   // what was put since the last refresh
    COORD cursor_{0, 0};                      // where the cursor is to go
    COORD cursorShown_{-1, -1};               // where the console has it
};
