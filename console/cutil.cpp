#include "console/cutil.h"

#include <algorithm>
#include <cstring>

#include "console/cp437.h"
#include "console/global.h"
#include "console/term.h"

uint16_t screenBuf[screenRows][screenCols];
int16_t cursorX = 0;
int16_t cursorY = 0;

// Curses colour number for each PC colour number.
const int colorTable[8] = {0, 4, 2, 6, 1, 5, 3, 7};

// Plain ASCII stand-ins for code page 437 in translated mode: line drawing
// becomes | - +, the full block #, small bullets *, the rest blanks.
const int compat_table[256] = {
#define S ' '
    S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,    // 0x00
    '>', '<', S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   '<', '>',  // 0x10
    0x20, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F,
    0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F,
    0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F,
    0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F,
    0x70, 0x71, 0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F,
    S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,    // 0x80
    S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,    // 0x90
    S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,    // 0xA0
    S,   S,   S,   '|', '+', '+', '+', '+', '+', '+', '|', '+', '+', '+', '+', '+',  // 0xB0
    '+', '+', '+', '+', '-', '+', '+', '+', '+', '+', '+', '+', '+', '-', '+', '+',  // 0xC0
    '+', '+', '+', '+', '+', '+', '+', '+', '+', '+', '+', '#', S,   S,   S,   S,    // 0xD0
    S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,   S,    // 0xE0
    S,   S,   S,   S,   S,   S,   S,   S,   S,   '*', '*', S,   S,   S,   S,   S,    // 0xF0
#undef S
};

const char brd[7] = {'\xCD', '\xBA', '\xC9', '\xBB', '\xBC', '\xC8', 0};

namespace {

// The part of the run of cells from column x that lies on the screen:
// columns [first, end), and skip = first - x cells of the source to pass over.
struct Span {
    int first = 0;
    int end = 0;
    long long skip = 0;
};

Span clip(long long x, long long y, long long cells) {
    Span s;
    if (y < 0 || y >= screenRows || cells <= 0) return s;
    const long long from = x < 0 ? 0 : x;
    const long long to = std::min<long long>(x + cells, screenCols);
    if (from >= to) return s;
    s.first = static_cast<int>(from);
    s.end = static_cast<int>(to);
    s.skip = from - x;
    return s;
}

uint16_t makeCell(unsigned char ch, unsigned char attr) {
    return static_cast<uint16_t>(ch | (attr << 8));
}

void putChar(uint16_t& cell, unsigned char ch) { cell = static_cast<uint16_t>((cell & 0xFF00) | ch); }

void putAttr(uint16_t& cell, unsigned char attr) {
    cell = static_cast<uint16_t>((cell & 0x00FF) | (attr << 8));
}

// The rows of [first, first + count) that lie on the screen: [first, end).
struct Rows {
    int first = 0;
    int end = 0;
};

Rows rowsOnScreen(long long first, long long count) {
    Rows r;
    const long long from = first < 0 ? 0 : first;
    const long long to = std::min<long long>(first + count, screenRows);
    if (count <= 0 || from >= to) return r;
    r.first = static_cast<int>(from);
    r.end = static_cast<int>(to);
    return r;
}

// A run of one cell value at a position that may lie anywhere.
void putRun(long long x, long long y, unsigned char ch, unsigned char attr, long long n) {
    const Span s = clip(x, y, n);
    for (int c = s.first; c < s.end; ++c) screenBuf[y][c] = makeCell(ch, attr);
}

void putCell(long long x, long long y, unsigned char ch, unsigned char attr) { putRun(x, y, ch, attr, 1); }

int refreshRows(int first, int rows) { return updateScreen(nullptr, first, rows); }

}  // namespace

void setChars(int x, int y, unsigned char ch, unsigned char attr, int n) { putRun(x, y, ch, attr, n); }

void copyText(int x, int y, const char* text, unsigned char attr, int n) {
    const Span s = clip(x, y, n);
    if (!text) return;
    for (int c = s.first; c < s.end; ++c)
        screenBuf[y][c] = makeCell(static_cast<unsigned char>(text[s.skip + c - s.first]), attr);
}

void copyChars(int x, int y, const char* chars, int n) {
    const Span s = clip(x, y, n);
    if (!chars) return;
    for (int c = s.first; c < s.end; ++c)
        putChar(screenBuf[y][c], static_cast<unsigned char>(chars[s.skip + c - s.first]));
}

void fillChars(int x, int y, unsigned char ch, int n) {
    const Span s = clip(x, y, n);
    for (int c = s.first; c < s.end; ++c) putChar(screenBuf[y][c], ch);
}

void copyAttrs(int x, int y, const unsigned char* attrs, int n) {
    const Span s = clip(x, y, n);
    if (!attrs) return;
    for (int c = s.first; c < s.end; ++c) putAttr(screenBuf[y][c], attrs[s.skip + c - s.first]);
}

void setAttrs(int x, int y, unsigned char attr, int n) {
    const Span s = clip(x, y, n);
    for (int c = s.first; c < s.end; ++c) putAttr(screenBuf[y][c], attr);
}

// Cells of the rectangle that lie off the screen are saved as zeros.
void saveScreenRect(int x, int y, int w, int h, unsigned char* buffer) {
    if (!buffer || w <= 0 || h <= 0) return;
    const size_t rowBytes = static_cast<size_t>(w) * 2;
    std::memset(buffer, 0, rowBytes * static_cast<size_t>(h));
    const Rows rows = rowsOnScreen(y, h);
    for (int r = rows.first; r < rows.end; ++r) {
        unsigned char* row = buffer + rowBytes * static_cast<size_t>(static_cast<long long>(r) - y);
        const Span s = clip(x, r, w);
        for (int c = s.first; c < s.end; ++c) {
            unsigned char* out = row + static_cast<size_t>(s.skip + c - s.first) * 2;
            out[0] = static_cast<unsigned char>(screenBuf[r][c] & 0xFF);
            out[1] = static_cast<unsigned char>(screenBuf[r][c] >> 8);
        }
    }
}

int restoreScreenRect(int x, int y, int w, int h, const unsigned char* buffer) {
    if (buffer && w > 0 && h > 0) {
        const size_t rowBytes = static_cast<size_t>(w) * 2;
        const Rows rows = rowsOnScreen(y, h);
        for (int r = rows.first; r < rows.end; ++r) {
            const unsigned char* row = buffer + rowBytes * static_cast<size_t>(static_cast<long long>(r) - y);
            const Span s = clip(x, r, w);
            for (int c = s.first; c < s.end; ++c) {
                const unsigned char* in = row + static_cast<size_t>(s.skip + c - s.first) * 2;
                screenBuf[r][c] = makeCell(in[0], in[1]);
            }
        }
    }
    return refreshRows(y, h);
}

int consoleDrawBox(_win_st*, int x, int y, int w, int h, unsigned char attr, const char* frame) {
    if (frame) {
        const auto f = [frame](int i) { return static_cast<unsigned char>(frame[i]); };
        const long long right = static_cast<long long>(x) + w - 1;
        const long long bottom = static_cast<long long>(y) + h - 1;
        putCell(x, y, f(2), attr);
        putCell(right, y, f(3), attr);
        putCell(right, bottom, f(4), attr);
        putCell(x, bottom, f(5), attr);
        putRun(x + 1LL, y, f(0), attr, w - 2LL);
        putRun(x + 1LL, bottom, f(0), attr, w - 2LL);
        const Rows sides = rowsOnScreen(static_cast<long long>(y) + 1, static_cast<long long>(h) - 2);
        for (int r = sides.first; r < sides.end; ++r) {
            putCell(x, r, f(1), attr);
            putCell(right, r, f(1), attr);
        }
    }
    return refreshRows(y, h);
}

int consoleFillBox(_win_st*, int x, int y, int w, int h, unsigned char attr, unsigned char ch) {
    const Rows rows = rowsOnScreen(y, h);
    for (int r = rows.first; r < rows.end; ++r) setChars(x, r, ch, attr, w);
    return refreshRows(y, h);
}

// Field width of the one-row operations: length, cut at the row end.
static int fieldWidth(int x, int length) {
    const long long end = static_cast<long long>(x) + length;
    return end <= screenCols ? length : screenCols - x;
}

int consoleTextLine(_win_st*, int x, int y, const char* text, int length, unsigned char attr) {
    const int n = fieldWidth(x, length);
    const Span s = clip(x, y, n);
    int textLen = 0;
    if (text)
        while (textLen < n && text[textLen]) ++textLen;
    for (int c = s.first; c < s.end; ++c) {
        const int i = s.skip + c - s.first;
        screenBuf[y][c] = makeCell(i < textLen ? static_cast<unsigned char>(text[i]) : ' ', attr);
    }
    return refreshRows(y, 1);
}

int consoleTextSet(_win_st*, int x, int y, const char* chars, int length) {
    copyChars(x, y, chars, fieldWidth(x, length));
    return refreshRows(y, 1);
}

int consoleAttrSet(_win_st*, int x, int y, const unsigned char* attrs, int length) {
    copyAttrs(x, y, attrs, fieldWidth(x, length));
    return refreshRows(y, 1);
}

int consoleAttrFill(_win_st*, int x, int y, int length, unsigned char attr) {
    setAttrs(x, y, attr, length);
    return refreshRows(y, 1);
}

int consoleCharFill(_win_st*, int x, int y, int length, unsigned char ch) {
    fillChars(x, y, ch, length);
    return refreshRows(y, 1);
}

int SetConsoleCursorPosition(_win_st*, COORD position) {
    cursorX = position.X;
    cursorY = position.Y;
    terminal()->moveCursor(cursorX, cursorY);
    return terminal()->refresh();
}

int updateScreen(_win_st*, int first, int rows) {
    Terminal* t = terminal();
    const long long end = static_cast<long long>(first) + (rows > 0 ? rows : 0);
    for (long long r = first < 0 ? 0 : first; r < end && r < screenRows; ++r)
        t->putRow(static_cast<int>(r), screenBuf[r]);
    t->moveCursor(cursorX, cursorY);
    return t->refresh();
}

namespace {

// Perceived brightness of the 16 PC colours (VGA palette, Rec. 601 weights).
constexpr int luminance[16] = {0, 194, 998, 1192, 508, 702, 1007, 1700,
                               850, 1044, 1848, 2042, 1358, 1552, 2356, 2550};

}  // namespace

CursesCell translateCell(uint16_t cell) {
    const unsigned char ch = static_cast<unsigned char>(cell & 0xFF);
    const unsigned char attr = static_cast<unsigned char>(cell >> 8);
    CursesCell out{};
    if (alternateCharset) {
        out.ch = static_cast<unsigned char>(compat_table[ch]);
        // curses would spell DEL out as two cells ("^?") and shift the row.
        if (out.ch == 0x7F) out.ch = ' ';
    } else if (unicodeMode) {
        out.glyph = cp437Unicode[ch];
    } else if (ch >= 0x20 && ch < 0x7F) {
        out.ch = ch;  // the alternate set would turn letters into line pieces
    } else if ((out.acs = cp437AcsName(ch)) != 0) {
        out.ch = ' ';
    } else if (ch >= 0x80) {
        out.ch = ch;
        out.altCharset = true;
    } else {
        out.ch = ' ';  // other controls and DEL would act on the terminal
    }
    const int fg = colorTable[attr & 7];
    const int bg = colorTable[(attr >> 4) & 7];
    out.pair = monochromeMode ? 0 : fg * 8 + bg + 1;
    out.bold = (attr & 0x08) != 0;
    // Without colours a dark text on a light ground (a caret, a selection)
    // would look like any other text.
    out.reverse = monochromeMode && luminance[(attr >> 4) & 7] > luminance[attr & 0x0F];
    return out;
}

char displayLetter(const char* arg) {
    if (!arg || (arg[0] != '-' && arg[0] != '/') || arg[1] == 0) return 0;
    const char letter = arg[1] == '-' ? arg[2] : arg[1];
    return letter && std::strchr("mnau", letter) ? letter : 0;
}

std::string fitToRow(const std::string& text, size_t width) {
    if (text.size() <= width) return text;
    if (width < 8) return text.substr(0, width);
    // The head: the words before the first path (a "/" or "X:\\" that
    // begins a word), when they leave room for the path's end.
    size_t path = 0;
    while (path < text.size() &&
           !((path == 0 || text[path - 1] == ' ') &&
             (text[path] == '/' || (path + 2 < text.size() && text[path + 1] == ':' && text[path + 2] == '\\'))))
        ++path;
    const std::string head = path < text.size() && path + 3 + 20 <= width ? text.substr(0, path) : "";
    const size_t tail = width - head.size() - 3;
    return head + "..." + text.substr(text.size() - tail);
}
