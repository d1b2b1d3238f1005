#include "console/ccontrol.h"

#include <cstddef>
#include <new>

#include "console/cutil.h"

namespace {
constexpr unsigned char defaultColor = 0x1E;
}

consoleControl::consoleControl() {
    for (unsigned char& c : colors) c = defaultColor;
}

consoleControl::~consoleControl() { delete[] savedScreen; }

int consoleControl::init(_win_st* win, int nx, int ny, int nw, int nh, uint32_t nflags) {
    window = win;
    x = nx;
    y = ny;
    w = nw;
    h = nh;
    flags = nflags;
    recalcSize();
    return 0;
}

int consoleControl::handleEvent(INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return 0;
    return onKey(record.Event.KeyEvent);
}

// The modal loop: open, feed key events until a handler ends it, close.
int consoleControl::execute() {
    open();
    int code = onInit();
    while (code == 0) {
        INPUT_RECORD record{};
        int got = waitKey(window, &record, idleMs());
        if (got < 0) {
            // Input is gone: leave as on Esc, and cancel when the control
            // would not end on Esc, so nested loops all unwind.
            INPUT_RECORD esc = escEvent();
            code = handleEvent(esc);
            if (code == 0) code = 1;
            break;
        }
        code = got > 0 ? handleEvent(record) : onIdle();
    }
    close();
    return code;
}

int consoleControl::open() {
    recalcSize();
    if (flags & ctlSaveScreen) {
        delete[] savedScreen;
        savedScreen = nullptr;
        savedW = savedH = 0;
        savedScreen = new (std::nothrow) unsigned char[static_cast<size_t>(w) * h * 2];
        if (savedScreen) {
            savedW = w;
            savedH = h;
            saveScreenRect(x, y, w, h, savedScreen);
        }
    }
    draw();
    return 0;
}

int consoleControl::close() {
    if ((flags & ctlSaveScreen) && savedScreen) restoreScreenRect(x, y, savedW, savedH, savedScreen);
    return 0;
}

int consoleControl::onInit() { return 0; }

int consoleControl::idleMs() { return -1; }

int consoleControl::onIdle() { return 0; }

int consoleControl::onCancel() { return 1; }

int consoleControl::onSelect() { return (flags & ctlAccept) ? 2 : 0; }

int consoleControl::onKey(KEY_EVENT_RECORD& key) {
    if (key.wVirtualKeyCode == kcEsc) return onCancel();
    if (key.wVirtualKeyCode == kcEnter) return onSelect();
    return 0;
}

// Fits the rectangle into the 80 x 25 screen.
void consoleControl::recalcSize() {
    if (w < 0) w = 0;
    if (w > screenCols) w = screenCols;
    if (h < 0) h = 0;
    if (h > screenRows) h = screenRows;
    if (x < 0) x = 0;
    else if (x > screenCols - w) x = screenCols - w;   // right edge past column 79
    if (y < 0) y = 0;
    else if (y > screenRows - h) y = screenRows - h;   // bottom edge past row 24
}

void consoleControl::draw() { consoleFillBox(window, x, y, w, h, colors[0], ' '); }

void consoleControl::setColor(int slot, unsigned char attr) {
    if (slot >= 0 && slot < 16) {
        colors[slot] = attr;
    } else if (slot == 17) {
        for (unsigned char& c : colors) c = defaultColor;
    }
}

unsigned char consoleControl::getColor(int slot) {
    return (slot >= 0 && slot < 16) ? colors[slot] : colors[0];
}
