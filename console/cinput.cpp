#include "console/cinput.h"

#include <cstring>
#include <new>
#include <string>

#include "console/cmenu.h"
#include "console/cutil.h"

namespace {
constexpr unsigned char fieldAttr = 0x0F;   // field text and masking characters
constexpr unsigned char caretAttr = 0x20;   // the caret cell
constexpr int maxMessageLines = 12;         // text lines under a message's first one
}  // namespace

consoleInputBox::consoleInputBox(int32_t nmode) : mode(nmode) {}

consoleInputBox::~consoleInputBox() { delete[] prompt; }

// Prepares the box for one prompt over the caller's buffer (maxLen + 1 bytes).
// Without a usable buffer the box keeps none and edits nothing.
int consoleInputBox::init(_win_st* win, int nx, int ny, int nw, const char* nprompt, char* nbuffer,
                          int nmaxLen, unsigned char ncolor) {
    caret = scroll = length = maxLen = 0;
    color = ncolor;
    buffer = nullptr;
    consoleControl::init(win, nx, ny, nw, 4, ctlSaveScreen | ctlAccept);

    delete[] prompt;
    prompt = nullptr;
    if (nprompt) {
        size_t n = strlen(nprompt);
        prompt = new (std::nothrow) char[n + 1];
        if (prompt) memcpy(prompt, nprompt, n + 1);
    }

    if (nbuffer && nmaxLen >= 1) {
        buffer = nbuffer;
        maxLen = nmaxLen;
        buffer[maxLen] = 0;   // cut an over-long initial text
        length = static_cast<int32_t>(strlen(buffer));
    }
    return 0;
}

// Moves the caret by delta within the text and scrolls the field so that the
// caret stays visible (it may sit in the field's last cell).
void consoleInputBox::moveCaret(int delta) {
    long long n = static_cast<long long>(caret) + delta;
    if (n > length) n = length;
    if (n < 0) n = 0;
    if (n < scroll) scroll = static_cast<int32_t>(n);
    if (n >= static_cast<long long>(scroll) + w - 2) scroll = static_cast<int32_t>(n - w + 3);
    caret = static_cast<int32_t>(n);
}

void consoleInputBox::insertChar(char c) {
    if (!buffer || length >= maxLen) return;
    if (caret > length) caret = length;
    // The rest of the text moves right together with its terminator.
    memmove(buffer + caret + 1, buffer + caret, static_cast<size_t>(length - caret) + 1);
    buffer[caret] = c;
    ++length;
}

void consoleInputBox::deleteChar() {
    if (!buffer || caret < 0 || caret >= length) return;
    memmove(buffer + caret, buffer + caret + 1, static_cast<size_t>(length - caret));
    --length;
}

int consoleInputBox::onKey(KEY_EVENT_RECORD& key) {
    unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (c != 0 && c != 8) {
        // Control characters (Enter and Esc on the Windows console) decide in
        // the base handler; everything else is typed.
        if (c < 32) return consoleControl::onKey(key);
        insertChar(static_cast<char>(c));
        moveCaret(1);
        draw();
        return 0;
    }
    switch (key.wVirtualKeyCode) {
    case kcBackspace:
        if (caret == 0) return 0;
        moveCaret(-1);
        deleteChar();
        break;
    case kcHome: moveCaret(-length); break;
    case kcLeft: moveCaret(-1); break;
    case kcRight: moveCaret(1); break;
    case kcEnd: moveCaret(length); break;
    case kcDelete: deleteChar(); break;
    default: return consoleControl::onKey(key);
    }
    draw();
    return 0;
}

void consoleInputBox::recalcSize() {
    if (x > 77) x = 77;
    if (w < 3) w = 3;
    consoleControl::recalcSize();
}

void consoleInputBox::draw() {
    consoleDrawBox(window, x, y, w, h, color, brd);
    consoleTextLine(window, x + 1, y + 1, prompt ? prompt : "", w - 2, color);

    int field = w - 2;
    const char* text = buffer ? buffer : "";
    int shown = (buffer && scroll < length) ? length - scroll : 0;
    if (mode == 1) {
        char stars[screenCols + 1];
        int n = shown < field ? shown : field;
        if (n > screenCols) n = screenCols;
        if (n < 0) n = 0;
        memset(stars, '*', static_cast<size_t>(n));
        stars[n] = 0;
        consoleTextLine(window, x + 1, y + 2, stars, field, fieldAttr);
    } else {
        consoleTextLine(window, x + 1, y + 2, shown > 0 ? text + scroll : "", field, fieldAttr);
    }

    int col = caret - scroll;
    if (col < 0 || col >= field) return;
    char under[2] = {' ', 0};
    if (buffer && caret < length) under[0] = mode == 1 ? '*' : buffer[caret];
    consoleTextLine(window, x + 1 + col, y + 2, under, 1, caretAttr);
}

// A framed message with one or two selectable lines; 2 only for Enter on the
// first line.
int messageBox(_win_st* window, unsigned char titleColor, const char* text, const char* line1,
               const char* line2) {
    if (!text || !line1) return 1;
    consoleMenu menu;
    // The text's first line is the title; the lines after it go under it.
    const char* end = strchr(text, '\n');
    size_t longest = end ? static_cast<size_t>(end - text) : strlen(text);
    menu.setTitle(std::string(text, longest).c_str());
    while (end && static_cast<int>(menu.titleLines.size()) < maxMessageLines) {
        const char* start = end + 1;
        end = strchr(start, '\n');
        const size_t n = end ? static_cast<size_t>(end - start) : strlen(start);
        menu.addTitleLine(std::string(start, n).c_str());
        if (n > longest) longest = n;
    }
    if (titleColor) menu.setColor(3, titleColor);

    if (strlen(line1) > longest) longest = strlen(line1);
    if (line2 && strlen(line2) > longest) longest = strlen(line2);
    int width = longest + 4 > static_cast<size_t>(screenCols) ? screenCols : static_cast<int>(longest) + 4;

    const int lines = static_cast<int>(menu.titleLines.size());
    menu.init(window, 40 - width / 2, 10, width, (line2 ? 6 : 5) + lines, ctlSaveScreen | ctlAccept);
    menu.add(line1, 1, nullptr);
    if (line2) menu.add(line2, 2, nullptr);

    int code = menu.execute();
    menuItem* chosen = menu.getActiveItem();
    return (code == 2 && chosen && chosen->id == 1) ? 2 : 1;
}
