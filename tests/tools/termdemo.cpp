// A small program on the real terminal layer for the tmux tests: the
// program's start-up, a title row, a frame, and one line per key event.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>

#include "programs/main_startup.h"
#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"

namespace {

void describe(const KEY_EVENT_RECORD& k, char* out, size_t size) {
    std::snprintf(out, size, "key code=0x%02X char=%d state=%u", static_cast<unsigned>(k.wVirtualKeyCode),
                  static_cast<unsigned char>(k.uChar.AsciiChar), static_cast<unsigned>(k.dwControlKeyState));
}

void drawScreen() {
    consoleFillBox(stdscr, 0, 1, 80, 24, 0x18, 0xB1);
    consoleTextLine(stdscr, 0, 0, "ZEV Telvane/IP v.1.7", 80, 0x31);
    consoleDrawBox(stdscr, 10, 4, 60, 12, 0x1F, brd);
    consoleFillBox(stdscr, 11, 5, 58, 10, 0x1F, ' ');
    char line[64];
    std::snprintf(line, sizeof line, "pid=%ld", static_cast<long>(getpid()));
    consoleTextLine(stdscr, 12, 6, line, 40, 0x1F);
    consoleTextLine(stdscr, 12, 7, "Press keys; Esc or F10 ends.", 56, 0x1F);
    // Colour samples: light grey, black and bright white on light grey.
    consoleTextLine(stdscr, 12, 13, "0x77:[XXX] 0x70:[XXX] 0x7F:[XXX]", 40, 0x1F);
    consoleAttrFill(stdscr, 18, 13, 3, 0x77);
    consoleAttrFill(stdscr, 29, 13, 3, 0x70);
    consoleAttrFill(stdscr, 40, 13, 3, 0x7F);
    // Code page 437: shades, block, an accented letter, single lines, arrows.
    consoleTextLine(stdscr, 12, 12, "glyphs:[\xB0\xB1\xB2\xDB\x82\xC4\xB3\x10\x11]", 40, 0x1F);
    COORD home{12, 10};
    SetConsoleCursorPosition(stdscr, home);
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_CTYPE, "");
    installSignalHandlers();
    terminalStartup(argc, argv);
    keyboardInputInit(stdscr);
    drawScreen();

    char last[64] = "no key";
    const char* reason = "ended by";
    for (int keys = 0;;) {
        INPUT_RECORD record{};
        const int got = waitKey(stdscr, &record, -1);
        if (got < 0) {
            reason = EXIT ? "terminated after" : "input gone after";
            break;
        }
        if (got == 0) continue;
        describe(record.Event.KeyEvent, last, sizeof last);
        char counter[32];
        std::snprintf(counter, sizeof counter, "keys=%d", ++keys);
        consoleTextLine(stdscr, 12, 9, counter, 20, 0x1F);
        consoleTextLine(stdscr, 12, 10, last, 56, 0x1E);
        if (record.Event.KeyEvent.wVirtualKeyCode == kcEsc) break;
    }
    terminalShutdown();
    std::printf("termdemo: %s %s\n", reason, last);
    return 0;
}
