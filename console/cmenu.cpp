#include "console/cmenu.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "console/cutil.h"
#include "net/sutil.h"

namespace {
// Colour slots of a menu.
constexpr int slotFrame = 1;
constexpr int slotTitle = 3;
constexpr int slotItem = 4;
constexpr int slotActive = 5;

constexpr int maxTyped = 80;   // characters the typed prefix can hold

// Copies at most max characters of text (null: empty) and terminates.
void copyLimited(char* dest, const char* text, size_t max) {
    size_t n = text ? strnlen(text, max) : 0;
    if (n) memcpy(dest, text, n);
    dest[n] = 0;
}
}  // namespace

menuItem::menuItem(const char* t, int32_t nid, void* ndata) : id(nid), data(ndata) { setText(t); }

void menuItem::setText(const char* t) { copyLimited(text, t ? t : "(null)", sizeof(text) - 1); }

consoleMenu::consoleMenu() {
    title[0] = 0;
    borderTitle[0] = 0;
    typed[0] = 0;
    colors[slotItem] = 0x1F;
    colors[slotActive] = 0x71;
}

int consoleMenu::init(_win_st* win, int nx, int ny, int nw, int nh, uint32_t nflags) {
    resetTypedown();
    return consoleControl::init(win, nx, ny, nw, nh, nflags);
}

int consoleMenu::onInsert() { return 0; }

int consoleMenu::onDelete() { return 0; }

menuItem* consoleMenu::add(const char* text, int32_t id, void* data) {
    menuItem* item = new (std::nothrow) menuItem(text, id, data);
    return add(item);
}

// Sorted menus insert in front of the first item that is not less than the
// new one, so equal texts go before the existing one.
menuItem* consoleMenu::add(menuItem* item) {
    if (!item) return nullptr;
    menuItem* before = nullptr;
    if (flags & ctlSorted) {
        for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it)) {
            if (stricmp(item->text, it->text) <= 0) {
                before = it;
                break;
            }
        }
    }
    items.add(item, before);
    return item;
}

void consoleMenu::setTitle(const char* text) { copyLimited(title, text, sizeof(title) - 1); }

void consoleMenu::setBorderTitle(const char* text) {
    copyLimited(borderTitle, text, sizeof(borderTitle) - 1);
}

menuItem* consoleMenu::getItem(int index) {
    if (index < 0) return nullptr;
    menuItem* it = items.getNext(nullptr);
    for (; it && index > 0; --index) it = items.getNext(it);
    return it;
}

menuItem* consoleMenu::getActiveItem() { return getItem(active); }

int consoleMenu::getItemCount() const { return items.count; }

int consoleMenu::getMaxItemWidth() {
    int widest = 0;
    for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it)) {
        int len = static_cast<int>(strlen(it->text));
        if (len > widest) widest = len;
    }
    return widest;
}

// Moves the active position by delta, clamped to the items, and scrolls it
// into view.
void consoleMenu::goToItem(int delta) {
    long long n = static_cast<long long>(active) + delta;
    if (n >= items.count) n = items.count - 1;
    if (n < 0) n = 0;
    // Before the first init there are no rows yet; scroll as for one row.
    int rows = visibleRows > 0 ? visibleRows : 1;
    if (n < top) top = static_cast<int32_t>(n);
    if (n >= static_cast<long long>(top) + rows) top = static_cast<int32_t>(n - rows + 1);
    active = static_cast<int32_t>(n);
}

void consoleMenu::resetTypedown() {
    typed[0] = 0;
    typedLen = 0;
}

// Activates the first item that begins with prefix; the items are assumed
// sorted, so the walk stops once the prefix sorts before an item.
menuItem* consoleMenu::select(const char* prefix) {
    copyLimited(typed, prefix, maxTyped);
    typedLen = static_cast<int32_t>(strlen(typed));
    int index = 0;
    for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it), ++index) {
        int r = strcmpin(it->text, typed, typedLen);
        if (r == 0) {
            active = index;
            goToItem(0);
            return it;
        }
        if (r < 0) break;
    }
    resetTypedown();
    return nullptr;
}

void consoleMenu::recalcSize() {
    if (w < 8) w = 8;
    if (w > screenCols) w = screenCols;
    int minH = title[0] ? 5 : 3;
    if (h < minH) h = minH;
    if (h > screenRows) h = screenRows;
    visibleRows = title[0] ? h - 4 : h - 2;
    consoleControl::recalcSize();
}

void consoleMenu::drawItems() {
    int row = y + (title[0] ? 3 : 1);
    unsigned char itemAttr = colors[slotItem];
    menuItem* it = getItem(top);
    int index = top;
    int j = 0;
    for (; it && j < visibleRows; ++j, ++index, it = items.getNext(it)) {
        char gutter[3] = {' ', '\xB3', 0};
        if (j == 0 && top >= 1) gutter[0] = '<';
        bool moreBelow = j + 1 == visibleRows && items.count - (top + visibleRows) > 0;
        if (moreBelow) gutter[0] = '>';
        consoleTextLine(window, x + 1, row + j, gutter, 2, itemAttr);
        consoleTextLine(window, x + 3, row + j, it->text, w - 4,
                        index == active ? colors[slotActive] : itemAttr);
        if (moreBelow) {
            ++j;
            break;
        }
    }
    for (; j < visibleRows; ++j) consoleTextLine(window, x + 1, row + j, " \xB3", w - 2, itemAttr);
}

void consoleMenu::draw() {
    consoleDrawBox(window, x, y, w, h, colors[slotFrame], brd);
    if (title[0]) {
        consoleTextLine(window, x + 1, y + 1, " ", 1, colors[slotTitle]);
        consoleTextLine(window, x + 2, y + 1, title, w - 3, colors[slotTitle]);
        // Separator between the title and the items.
        char sep[screenCols + 1];
        int sw = w < 2 ? 2 : (w > screenCols ? screenCols : w);
        memset(sep, 0xCD, sizeof(sep) - 1);
        sep[0] = '\xCC';
        sep[sw - 1] = '\xB9';
        sep[sw] = 0;
        consoleTextLine(window, x, y + 2, sep, sw, colors[slotFrame]);
    }
    drawItems();
    if (borderTitle[0]) {
        char text[sizeof(borderTitle) + 3];
        int len = snprintf(text, sizeof(text), "[%s]", borderTitle);
        // Kept inside the top frame line so that close() restores every cell.
        if (len > w - 2) len = w - 2;
        consoleTextLine(window, x + 1, y, text, len, colors[slotFrame]);
    }
}

namespace {
// Type-ahead of sorted menus: the prefix grows and shrinks with the typed
// keys and the first item not less than it becomes active.
int onTypedKey(consoleMenu& menu, KEY_EVENT_RECORD& key) {
    if (!(menu.flags & ctlSorted)) return menu.consoleControl::onKey(key);
    unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    if (key.wVirtualKeyCode == kcBackspace) {
        if (menu.typedLen > 0) menu.typed[--menu.typedLen] = 0;
    } else if (c >= 32) {
        // A full prefix ignores further characters.
        if (menu.typedLen >= maxTyped) return 0;
        menu.typed[menu.typedLen++] = static_cast<char>(c);
        menu.typed[menu.typedLen] = 0;
    } else {
        return menu.consoleControl::onKey(key);
    }
    int index = 0;
    for (menuItem* it = menu.items.getNext(nullptr); it; it = menu.items.getNext(it), ++index) {
        if (stricmp(menu.typed, it->text) <= 0) {
            menu.active = index;
            menu.goToItem(0);
            break;
        }
    }
    menu.draw();
    return 0;
}
}  // namespace

int consoleMenu::onKey(KEY_EVENT_RECORD& key) {
    int delta = 0;
    switch (key.wVirtualKeyCode) {
    case kcUp: delta = -1; break;
    case kcDown: delta = 1; break;
    case kcPageUp: delta = -visibleRows; break;
    case kcPageDown: delta = visibleRows; break;
    case kcHome: delta = -items.count; break;
    case kcEnd: delta = items.count; break;
    case kcInsert: return onInsert();
    case kcDelete: return onDelete();
    default: return onTypedKey(*this, key);
    }
    goToItem(delta);
    drawItems();
    resetTypedown();
    return 0;
}

