#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#define NCURSES_NOMACROS
#include <curses.h>

#include "console/cutil.h"
#include "console/global.h"
#include "console/term.h"

namespace {

// The program's terminal: rows go to stdscr, keys come from stdin.
class CursesTerminal : public Terminal {
public:
    void putRow(int row, const uint16_t* cells) override;
    void moveCursor(int x, int y) override { wmove(stdscr, y, x); }
    int refresh() override { return wrefresh(stdscr); }
    int readKey(int timeoutMs, int& keyCode) override;
    int inputFd() const override { return STDIN_FILENO; }
    bool keyPending() const override { return queued > 0 || moreBuffered; }
    void defineKey(const char* sequence, int keyCode) override { define_key(sequence, keyCode); }

private:
    static constexpr int queueSize = 64;
    int queue[queueSize] = {};
    int queueHead = 0;
    int queued = 0;
    bool moreBuffered = false;  // the last drain stopped on a full queue
    bool gone = false;

    void drain();
    int pop();
};

CursesTerminal cursesTerminal;
bool pairMade[65];  // colour pairs that init_pair accepted

// Pair and character that reach curses for a cell. Terminals with only 64
// pairs (0..63) cannot be relied on for pair 64, light grey on light grey;
// such a cell shows nothing but its background, so a blank in another pair
// of the same background looks the same.
struct Shown {
    chtype ch;
    int pair;
};

Shown cursesCell(uint16_t cell) {
    const CursesCell c = translateCell(cell);
    chtype ch = c.ch;
    int pair = c.pair;
    if (pair > 0 && (pair >= COLOR_PAIRS || !pairMade[pair])) {
        const int fg = (pair - 1) / 8, bg = (pair - 1) % 8;
        const int blankPair = (fg == 0 ? 1 : 0) * 8 + bg + 1;
        if (fg == bg && blankPair < COLOR_PAIRS && pairMade[blankPair])
            return {' ' | static_cast<chtype>(COLOR_PAIR(blankPair)), blankPair};
        pair = 0;
    }
    if (c.bold) ch |= A_BOLD;
    if (c.altCharset) ch |= A_ALTCHARSET;
    return {ch | static_cast<chtype>(COLOR_PAIR(pair)), pair};
}

void CursesTerminal::putRow(int row, const uint16_t* cells) {
    if (row < 0 || row >= screenRows || !cells) return;
    int lastPair = 0;
    for (int c = 0; c < screenCols; ++c) {
        const Shown s = cursesCell(cells[c]);
        lastPair = s.pair;
        if (wmove(stdscr, row, c) == OK) waddch(stdscr, s.ch);
    }
    // A wider terminal gets the rest of the row blank in column 79's colours.
    for (int c = screenCols; c < COLS; ++c)
        if (wmove(stdscr, row, c) == OK) waddch(stdscr, ' ' | static_cast<chtype>(COLOR_PAIR(lastPair)));
}

int CursesTerminal::pop() {
    const int k = queue[queueHead];
    queueHead = (queueHead + 1) % queueSize;
    --queued;
    return k;
}

// Takes what curses already holds (bytes read past an escape sequence that
// did not match) into our queue, so that no key waits for the next input.
void CursesTerminal::drain() {
    moreBuffered = false;
    while (queued < queueSize) {
        const int k = wgetch(stdscr);
        if (k == ERR) return;
        queue[(queueHead + queued) % queueSize] = k;
        ++queued;
    }
    moreBuffered = true;
}

int CursesTerminal::readKey(int timeoutMs, int& keyCode) {
    keyCode = 0;
    if (queued == 0 && moreBuffered) drain();
    if (queued > 0) {
        keyCode = pop();
        return 1;
    }
    if (gone) return -1;
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0) {
        if (errno == EINTR || errno == EAGAIN) return 0;  // a signal: let the caller look at EXIT
        gone = true;
        return -1;
    }
    if (ready == 0) return 0;
    if (p.revents & POLLNVAL) {
        gone = true;
        return -1;
    }
    const int k = wgetch(stdscr);  // nodelay: never blocks
    if (k == ERR) {
        // Readable but no key: end of input, a hang-up or a read error,
        // unless bytes are still waiting in the terminal driver.
        int waiting = 0;
        const bool hungUp = (p.revents & (POLLHUP | POLLERR)) != 0;
        if (!hungUp && ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting > 0) return 0;
        gone = true;
        return -1;
    }
    keyCode = k;
    drain();
    return 1;
}

}  // namespace

void terminalStartup(int argc, char** argv) {
    const char* term = std::getenv("TERM");
    alternateCharset = (term && std::strcmp(term, "linux") != 0 && std::strcmp(term, "LINUX") != 0) ? 1 : 0;
    // Display letters: -m, /m, --m... (the program path itself is not an option).
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg || (arg[0] != '-' && arg[0] != '/') || arg[1] == 0) continue;
        const char letter = arg[1] == '-' ? arg[2] : arg[1];
        if (letter == 'm') monochromeMode = 1;
        else if (letter == 'n') alternateCharset = 0;
        else if (letter == 'a') alternateCharset = 1;
    }
    if (initscr()) {
        start_color();
        cbreak();
        noecho();
        nonl();
        intrflush(stdscr, FALSE);
        meta(stdscr, TRUE);
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);  // waits happen in poll(), never inside curses
        // A lone Esc should not keep the operator waiting a second.
        if (!std::getenv("ESCDELAY")) set_escdelay(100);
        for (int f = 0; f < 8; ++f)
            for (int b = 0; b < 8; ++b)
                pairMade[f * 8 + b + 1] =
                    init_pair(static_cast<short>(f * 8 + b + 1), static_cast<short>(f), static_cast<short>(b)) == OK;
        setTerminal(&cursesTerminal);
    }
    wrefresh(stdscr);
}

void terminalShutdown() {
    if (!stdscr) return;
    wrefresh(stdscr);
    endwin();
    setTerminal(nullptr);
}
