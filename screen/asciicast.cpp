#include "screen/asciicast.h"

#include "console/cp437.h"
#include "screen/formats.h"
#include "screen/json.h"

namespace {

// PC colour numbers are ANSI ones with bits 0 and 2 swapped.
int ansiColour(int pc) { return (pc & 2) | ((pc & 1) << 2) | ((pc & 4) >> 2); }

void appendMove(std::string& out, int x, int y) { out += "\x1b[" + std::to_string(y + 1) + ";" + std::to_string(x + 1) + "H"; }

// Both colours each time, after a reset: a bright colour's bold must not
// stay behind on the next cell.
void appendColours(std::string& out, int attr) {
    const int fg = attr & 15;
    const int bg = (attr >> 4) & 7;   // blink is not shown
    out += "\x1b[0;" + std::to_string((fg & 8 ? 90 : 30) + ansiColour(fg & 7)) + ";" +
           std::to_string(40 + ansiColour(bg)) + "m";
}

}  // namespace

std::string castHeader(std::string_view description, long long timestamp) {
    std::string palette;
    for (int i = 0; i < 16; ++i) {
        if (i) palette += ':';
        palette += pcPalette[(i & 8) | ansiColour(i & 7)];
    }
    std::string out = "{\"version\": 2, \"width\": 80, \"height\": 25, \"timestamp\": " + std::to_string(timestamp) +
                      ", \"title\": ";
    out += jsonGlyphs(description);
    out += ", \"env\": {\"TERM\": \"xterm-256color\"}, \"theme\": {\"fg\": \"";
    out += pcPalette[7];
    out += "\", \"bg\": \"";
    out += pcPalette[0];
    out += "\", \"palette\": \"" + palette + "\"}}";
    return out;
}

std::string castDrawChanges(castTerminal& shown, const remoteScreen& to, const bool* rows) {
    std::string out;
    for (int r = 0; r < screenRows; ++r) {
        if (rows && !rows[r]) continue;
        int c = 0;
        while (c < screenCols) {
            if (shown.cells[r][c] == to.cells[r][c] && rows) {
                ++c;
                continue;
            }
            if (shown.x != c || shown.y != r) appendMove(out, c, r);
            // Cells are written up to a run of a few unchanged ones, which is
            // cheaper to jump over than to write again.
            while (c < screenCols) {
                int same = 0;
                while (rows && c + same < screenCols && shown.cells[r][c + same] == to.cells[r][c + same]) ++same;
                if (same >= 4 || c + same == screenCols) break;
                const int end = c + (same > 0 ? same : 1);
                for (; c < end; ++c) {
                    const uint16_t cell = to.cells[r][c];
                    const int attr = (cell >> 8) & 0x7F;
                    if (attr != shown.attr) appendColours(out, attr);
                    shown.attr = attr;
                    const auto ch = static_cast<unsigned char>(cell & 0xFF);
                    appendCp437(out, ch);
                    shown.cells[r][c] = cell;
                }
            }
            // After the last column the terminal waits to wrap: the next
            // write must move first.
            shown.x = c < screenCols ? c : -1;
            shown.y = r;
        }
    }
    const int x = to.cursorX >= 0 && to.cursorX < screenCols ? to.cursorX : 0;
    const int y = to.cursorY >= 0 && to.cursorY < screenRows ? to.cursorY : 0;
    if (shown.x != x || shown.y != y) {
        appendMove(out, x, y);
        shown.x = x;
        shown.y = y;
    }
    return out;
}
