#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>

#define NCURSES_NOMACROS
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <term.h>

#include "console/cutil.h"
#include "console/global.h"
#include "console/keyboard_curses.h"
#include "console/rescue.h"
#include "console/term.h"
#include "console/title_curses.h"

namespace {

volatile sig_atomic_t resizePending = 0;

void onResize(int) { resizePending = 1; }

// The program's terminal: rows go to stdscr, keys come from stdin. A
// terminal with fewer than 25 rows shows the cell-screen rows [top, top +
// LINES), moved so that the cursor's row stays in view.
class CursesTerminal : public Terminal {
public:
    void putRow(int row, const uint16_t* cells) override;
    void moveCursor(int x, int y) override;
    int refresh() override { return wrefresh(stdscr); }
    int readKey(int timeoutMs, INPUT_RECORD& record) override;
    int inputFd() const override { return STDIN_FILENO; }
    bool keyPending() const override { return queued > 0 || moreBuffered || resizePending; }
    void defineKey(const char* sequence, int keyCode) override { define_key(sequence, keyCode); }
    bool backspaceIsCtrlH() const override { return ctrlHErases; }
    void rawKeys(bool on) override;
    bool utf8Keys() const override { return utf8Typed; }
    void setTitle(const char* title) override { setTerminalTitle(title); }
    bool copyText(const std::string& text) override { return copyToTerminalClipboard(text); }

    // Paints the whole terminal again from the cell screen.
    void redrawAll();
    bool ctrlHErases = false;
    bool utf8Typed = false;     // the locale's character set, as the program started

private:
    static constexpr int queueSize = 64;
    int queue[queueSize] = {};
    int queueHead = 0;
    int queued = 0;
    bool moreBuffered = false;  // the last drain stopped on a full queue
    bool gone = false;
    int top = 0;                // first cell-screen row shown
    int cursorCol = 0, cursorRow = 0;
    bool rawOn = false;
    termios cooked{};           // the modes to go back to after a session

    int readCode(int timeoutMs, int& keyCode);
    int viewTop(int row) const;
    void resized();
    void drain();
    int pop();
};

CursesTerminal cursesTerminal;
bool pairMade[65];       // colour pairs that init_pair accepted
bool greyPairZero;       // pair 0 is light grey on light grey (64-pair terminals)

// Pair and attributes that reach curses for a cell. Terminals with only 64
// pairs (0..63) have no pair 64, light grey on light grey: pair 0 stands in
// for it when it could be made grey on grey, or else a blank in another pair
// of the same background, which looks the same.
struct Shown {
    chtype ch;        // character (plain or alternate set) with attributes
    attr_t attrs;     // attributes alone, for Unicode glyphs
    int pair;
    char32_t glyph;   // 0 unless the cell goes out as a Unicode glyph
};

Shown cursesCell(uint16_t cell) {
    const CursesCell c = translateCell(cell);
    int pair = c.pair;
    if (pair > 0 && !pairMade[pair]) {
        const int fg = (pair - 1) / 8, bg = (pair - 1) % 8;
        const int blankPair = (fg == 0 ? 1 : 0) * 8 + bg + 1;
        if (fg == bg && fg == COLOR_WHITE && greyPairZero) {
            pair = 0;
        } else if (fg == bg && pairMade[blankPair]) {
            return {' ' | static_cast<chtype>(COLOR_PAIR(blankPair)), static_cast<attr_t>(COLOR_PAIR(blankPair)),
                    blankPair, 0};
        } else {
            pair = 0;
        }
    }
    attr_t attrs = static_cast<attr_t>(COLOR_PAIR(pair));
    if (c.bold) attrs |= A_BOLD;
    if (c.reverse) attrs |= A_REVERSE;
    chtype ch = c.ch;
    if (c.acs) ch = NCURSES_ACS(c.acs);  // carries A_ALTCHARSET when the terminal has the glyph
    else if (c.altCharset) ch |= A_ALTCHARSET;
    return {ch | attrs, attrs, pair, c.glyph};
}

// Black blanks where the terminal reaches past the picture.
chtype outsideBlank() { return ' ' | static_cast<chtype>(COLOR_PAIR(!monochromeMode && pairMade[1] ? 1 : 0)); }

// A cell as curses takes it, worked out once per (character, attribute)
// pair. Most cells can be copied into the window a whole row at a time:
// plain characters and line pieces of the terminal's own set as chtype (the
// cheapest copy), and glyphs as complex characters; the bytes above 127 that
// the terminal's own character set shows go through waddch, which converts
// them.
struct CellOut {
    cchar_t wide;
    chtype narrow;
    short pair;
    unsigned char kind;   // 0: not worked out yet, or one of these:
};
enum : unsigned char { outNarrow = 1, outWide = 2, outOwn = 3 };

// Indexed by the cell itself. Untouched parts cost no memory: only the
// pairs a screen uses are ever written.
CellOut cellOuts[1 << 16];
bool cellOutsMade = false;

void forgetCellOuts() {
    if (cellOutsMade) std::memset(cellOuts, 0, sizeof cellOuts);
    cellOutsMade = false;
}

const CellOut& cellOut(uint16_t cell) {
    CellOut& o = cellOuts[cell];
    if (o.kind) return o;
    cellOutsMade = true;
    const Shown s = cursesCell(cell);
    o.pair = static_cast<short>(s.pair);
    const chtype text = s.ch & A_CHARTEXT;
    const char32_t glyph = s.glyph >= 32 && s.glyph < 127 ? 0 : s.glyph;   // ASCII goes as chtype
    o.narrow = s.glyph && !glyph ? (s.glyph | s.attrs) : s.ch;
    const wchar_t chars[2] = {static_cast<wchar_t>(glyph ? glyph : (o.narrow & A_CHARTEXT)), 0};
    const attr_t attrs = glyph ? s.attrs : (o.narrow & A_ATTRIBUTES);
    o.kind = outOwn;
    if (setcchar(&o.wide, chars, attrs & ~A_COLOR, o.pair, nullptr) != OK) return o;
    // Control characters and high bytes stay with waddch, which knows what
    // to do with them.
    if (glyph) o.kind = outWide;
    else if ((s.glyph || text >= 32) && (o.narrow & A_CHARTEXT) < 127) o.kind = outNarrow;
    return o;
}

void CursesTerminal::putRow(int row, const uint16_t* cells) {
    if (row < 0 || row >= screenRows || !cells) return;
    const int y = row - top;
    if (y < 0 || y >= LINES) return;
    const CellOut* outs[screenCols];
    bool anyWide = false;
    for (int c = 0; c < screenCols; ++c) {
        outs[c] = &cellOut(cells[c]);
        anyWide = anyWide || outs[c]->kind == outWide;
    }
    // Runs of cells go to curses in one copy each (as chtype while the row
    // has no glyph); only the rare cell that needs waddch goes on its own.
    chtype narrow[screenCols];
    cchar_t wide[screenCols];
    int runStart = 0;
    auto flush = [&](int end) {
        if (end <= runStart) return;
        if (anyWide) mvwadd_wchnstr(stdscr, y, runStart, wide + runStart, end - runStart);
        else mvwaddchnstr(stdscr, y, runStart, narrow + runStart, end - runStart);
    };
    for (int c = 0; c < screenCols; ++c) {
        const CellOut& o = *outs[c];
        if (o.kind != outOwn) {
            if (anyWide) wide[c] = o.wide;
            else narrow[c] = o.narrow;
            continue;
        }
        flush(c);
        runStart = c + 1;
        if (wmove(stdscr, y, c) == OK) waddch(stdscr, o.narrow);
    }
    flush(screenCols);
    // A wider terminal gets the rest of the row blank in column 79's colours.
    const int lastPair = outs[screenCols - 1]->pair;
    for (int c = screenCols; c < COLS; ++c)
        if (wmove(stdscr, y, c) == OK) waddch(stdscr, ' ' | static_cast<chtype>(COLOR_PAIR(lastPair)));
    wmove(stdscr, cursorRow - top, cursorCol);
}

int CursesTerminal::viewTop(int row) const {
    if (LINES >= screenRows) return 0;
    return std::max(0, std::min(screenRows - LINES, row));
}

void CursesTerminal::moveCursor(int x, int y) {
    cursorCol = x;
    cursorRow = y;
    const int t = viewTop(y);
    if (t != top) {
        top = t;
        redrawAll();
    }
    wmove(stdscr, y - top, x);
}

void CursesTerminal::redrawAll() {
    top = viewTop(cursorRow);
    for (int r = 0; r < screenRows; ++r) putRow(r, screenBuf[r]);
    for (int y = screenRows - top; y < LINES; ++y)
        for (int c = 0; c < COLS; ++c)
            if (wmove(stdscr, y, c) == OK) waddch(stdscr, outsideBlank());
    wmove(stdscr, cursorRow - top, cursorCol);
}

// The window changed its size: curses learns the new size and the whole
// picture is sent again, since the terminal may have lost or moved parts.
void CursesTerminal::resized() {
    resizePending = 0;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0)
        resizeterm(size.ws_row, size.ws_col);
    clearok(curscr, TRUE);
    redrawAll();
    wrefresh(stdscr);
}

// Only the signal, flow-control and extended characters change: the driver
// reads as before otherwise (no line editing, no echo), and curses keeps these
// modes as its own, so that anything it restores is the mode in force.
void CursesTerminal::rawKeys(bool on) {
    if (on == rawOn) return;
    if (on) {
        if (tcgetattr(STDIN_FILENO, &cooked) != 0) return;
        termios modes = cooked;
        modes.c_lflag &= ~static_cast<tcflag_t>(ISIG | IEXTEN);
        modes.c_iflag &= ~static_cast<tcflag_t>(IXON);
        if (tcsetattr(STDIN_FILENO, TCSANOW, &modes) != 0) return;
    } else {
        tcsetattr(STDIN_FILENO, TCSANOW, &cooked);
    }
    rawOn = on;
    def_prog_mode();
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
        if (k == KEY_RESIZE) continue;  // resizeterm's own note of a resize we handle already
        queue[(queueHead + queued) % queueSize] = k;
        ++queued;
    }
    moreBuffered = true;
}

int CursesTerminal::readKey(int timeoutMs, INPUT_RECORD& record) {
    int code = 0;
    const int got = readCode(timeoutMs, code);
    if (got != 1) return got;
    if (code <= 0) return 0;   // a key code of 0 (Ctrl+Space) is not reported
    makeKeyEvent(code, &record);
    return 1;
}

// The next curses key code, from what was read ahead or from the terminal.
int CursesTerminal::readCode(int timeoutMs, int& keyCode) {
    keyCode = 0;
    if (resizePending) resized();
    if (queued == 0 && moreBuffered) drain();
    if (queued > 0) {
        keyCode = pop();
        return 1;
    }
    if (gone) return -1;
    // A resize or a termination request that comes between the looks at
    // resizePending and EXIT and the start of the wait would go unnoticed
    // until the next key: their signals stay blocked until ppoll begins.
    sigset_t watched, old;
    sigemptyset(&watched);
    for (int s : {SIGWINCH, SIGTERM, SIGQUIT, SIGHUP}) sigaddset(&watched, s);
    sigprocmask(SIG_BLOCK, &watched, &old);
    if (EXIT || resizePending) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        return 0;  // the caller looks at EXIT, or comes back for the resize
    }
    timespec wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000000L};
    pollfd p{STDIN_FILENO, POLLIN, 0};
    const int ready = ppoll(&p, 1, timeoutMs < 0 ? nullptr : &wait, &old);
    const int pollErrno = errno;
    sigprocmask(SIG_SETMASK, &old, nullptr);
    if (ready < 0) {
        if (pollErrno == EINTR || pollErrno == EAGAIN) return 0;  // a signal: let the caller look at EXIT
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
    if (k != KEY_RESIZE) {
        keyCode = k;
        drain();
        return 1;
    }
    drain();
    if (queued == 0) return 0;
    keyCode = pop();
    return 1;
}

// What endwin() would send, for a crash that leaves no time for it: the
// cursor to the last row, plain colours, the cursor shown, the keypad and
// the screen the terminal had before. A CAN first ends an escape sequence
// that the crash cut short.
std::string resetBytes() {
    std::string out = "\x18";
    const auto capability = [](const char* name) {
        const char* s = tigetstr(name);
        return s && s != reinterpret_cast<const char*>(-1) ? s : nullptr;
    };
    if (const char* move = capability("cup")) out += tiparm(move, LINES - 1, 0);
    for (const char* name : {"sgr0", "cnorm", "rmkx", "rmcup"})
        if (const char* s = capability(name)) out += s;
    return out;
}

bool localeIsUtf8() {
    const char* codeset = nl_langinfo(CODESET);
    return codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

}  // namespace

bool chooseDisplayMode(const char* term, int argc, char** argv, bool utf8Locale) {
    alternateCharset = (term && std::strcmp(term, "linux") != 0 && std::strcmp(term, "LINUX") != 0) ? 1 : 0;
    unicodeMode = 0;
    // Display letters: -m, /m, --m... (the program path itself is not an
    // option); of a, n and u the last one counts.
    char display = 0;
    for (int i = 1; i < argc; ++i) {
        const char letter = displayLetter(argv[i]);
        if (letter == 'm') monochromeMode = 1;
        else if (letter == 'n' || letter == 'a' || letter == 'u') display = letter;
    }
    switch (display) {
    case 'a':
        alternateCharset = 1;
        return false;
    case 'u':
        alternateCharset = 0;
        unicodeMode = 1;
        return !utf8Locale;
    case 'n':
        alternateCharset = 0;
        unicodeMode = utf8Locale ? 1 : 0;
        return false;
    default:
        // A UTF-8 terminal shows the real glyphs, the Linux console included.
        if (utf8Locale) {
            alternateCharset = 0;
            unicodeMode = 1;
        }
        return false;
    }
}

void terminalStartup(int argc, char** argv) {
    cursesTerminal.utf8Typed = localeIsUtf8();
    if (chooseDisplayMode(std::getenv("TERM"), argc, argv, localeIsUtf8())) {
        // Unicode asked for in another locale: curses must write UTF-8.
        if (!std::setlocale(LC_CTYPE, "C.UTF-8") || !localeIsUtf8()) unicodeMode = 0;
    }
    termios modes{};
    const bool haveModes = tcgetattr(STDIN_FILENO, &modes) == 0;
    const bool ctrlHErase = haveModes && modes.c_cc[VERASE] == 8;
    if (initscr()) {
        if (haveModes) armTerminalRescue(modes, resetBytes());
        // Until its first return from endwin(), curses flushes its output at
        // every cursor move: some 27 writes for a full screen instead of one.
        // Done before any mode is set, since endwin() undoes some of them.
        endwin();
        wrefresh(stdscr);
        start_color();
        cbreak();
        noecho();
        nonl();
        intrflush(stdscr, FALSE);
        meta(stdscr, TRUE);
        keypad(stdscr, TRUE);
        nodelay(stdscr, TRUE);  // waits happen in poll(), never inside curses
        // No look at the keyboard in the middle of an update: every look
        // flushes what curses holds, one write to the terminal each.
        typeahead(-1);
        // A lone Esc should not keep the operator waiting a second.
        if (!std::getenv("ESCDELAY")) set_escdelay(100);
        // Native mode in an 8-bit locale sends the other high bytes as they are.
        if (!alternateCharset && !unicodeMode) use_legacy_coding(2);
        bool allButLast = true;
        for (int f = 0; f < 8; ++f)
            for (int b = 0; b < 8; ++b) {
                const int pair = f * 8 + b + 1;
                // Some curses accept pair 64 on a 64-pair terminal all the same.
                pairMade[pair] = init_pair(static_cast<short>(pair), static_cast<short>(f), static_cast<short>(b)) == OK &&
                                 pair < COLOR_PAIRS;
                if (pair < 64) allButLast = allButLast && pairMade[pair];
            }
        greyPairZero = !monochromeMode && !pairMade[64] && allButLast &&
                       assume_default_colors(COLOR_WHITE, COLOR_WHITE) == OK;
        const char* kbs = tigetstr("kbs");
        cursesTerminal.ctrlHErases = ctrlHErase || (kbs && kbs != reinterpret_cast<char*>(-1) && std::strcmp(kbs, "\b") == 0);
        // Our own handler, so that a resize also ends a wait in poll().
        struct sigaction action {};
        action.sa_handler = onResize;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &action, nullptr);
        setTerminal(&cursesTerminal);
        forgetCellOuts();   // made for the colours and characters of this start
        cursesTerminal.redrawAll();
    }
    wrefresh(stdscr);
}

void terminalShutdown() {
    if (!stdscr) return;
    wrefresh(stdscr);
    endwin();
    restoreTerminalTitle();
    disarmTerminalRescue();
    setTerminal(nullptr);
}
