#include "console/cmenu.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "console/cutil.h"
#include "net/sutil.h"

namespace {
// Colour slots of a menu.
constexpr int slotFrame = 1;
constexpr int slotTitle = 3;
constexpr int slotItem = 4;
constexpr int slotActive = 5;

constexpr int maxTyped = 80;   // characters the typed prefix can hold
constexpr int statusRow = 24;
constexpr unsigned char statusAttr = 0x71;

// Copies at most max characters of text (null: empty) and terminates.
void copyLimited(char* dest, const char* text, size_t max) {
    size_t n = text ? strnlen(text, max) : 0;
    if (n) memcpy(dest, text, n);
    dest[n] = 0;
}
}  // namespace

int64_t steadyClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

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

namespace {
// True when a sorted add of `text` stops in front of the item: the new item
// goes before the first item that is not less than its own text.
bool stopsAt(const char* text, const menuItem* item) { return sutilStricmp(text, item->text) <= 0; }
}  // namespace

// Sorted menus insert in front of the first item that is not less than the
// new one, so equal texts go before the existing one.
menuItem* consoleMenu::add(menuItem* item) {
    if (!item) return nullptr;
    menuItem* before = nullptr;
    if ((flags & ctlSorted) && deferredFrom < 0) {
        for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it)) {
            if (stopsAt(item->text, it)) {
                before = it;
                break;
            }
        }
    }
    items.add(item, before);
    return item;
}

namespace {

// Of two items, one that stops every sorted add that the other stops. With
// the prefix-equal comparison an empty text stops every add, and of two
// prefix-equal texts the shorter one stops all that the longer one stops;
// otherwise the greater text does.
const menuItem* stronger(const menuItem* x, const menuItem* y) {
    const int xy = sutilStricmp(x->text, y->text);
    if (xy > 0) return x;
    if (xy < 0 && sutilStricmp(y->text, x->text) >= 0) return y;
    // Equal, prefix-equal, or (only an empty text does this) less both ways.
    return strlen(x->text) <= strlen(y->text) ? x : y;
}

// Replays one-by-one sorted adds over an implicit treap of the list: each
// node knows the strongest item of its subtree, so a whole subtree is passed
// over when an add does not stop in front of that item. Exact for any list,
// including prefix-equal texts that make the list order inconsistent.
class sortedPlacement {
public:
    explicit sortedPlacement(size_t n) { nodes.reserve(n); }

    // Adds an item behind all others (one already in place in the list).
    void append(menuItem* item) { place(item, true); }
    // Adds an item where a sorted add would put it.
    void insert(menuItem* item) { place(item, false); }

    // The items in list order.
    void collect(std::vector<menuItem*>& out) const {
        out.clear();
        std::vector<int> stack;
        for (int t = root; t >= 0 || !stack.empty();) {
            for (; t >= 0; t = nodes[t].left) stack.push_back(t);
            t = stack.back();
            stack.pop_back();
            out.push_back(nodes[t].item);
            t = nodes[t].right;
        }
    }

private:
    struct node {
        menuItem* item;
        const menuItem* strongest;
        int left, right;
        uint32_t priority;
    };
    std::vector<node> nodes;
    int root = -1;
    uint32_t seed = 0x9E3779B9u;

    uint32_t nextPriority() {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    }
    void place(menuItem* item, bool atEnd) {
        nodes.push_back(node{item, item, -1, -1, nextPriority()});
        root = put(root, static_cast<int>(nodes.size()) - 1, atEnd);
    }
    void recompute(int t) {
        node& n = nodes[t];
        n.strongest = n.item;
        if (n.left >= 0) n.strongest = stronger(nodes[n.left].strongest, n.strongest);
        if (n.right >= 0) n.strongest = stronger(n.strongest, nodes[n.right].strongest);
    }
    int rotateRight(int t) {
        const int l = nodes[t].left;
        nodes[t].left = nodes[l].right;
        nodes[l].right = t;
        recompute(t);
        recompute(l);
        return l;
    }
    int rotateLeft(int t) {
        const int r = nodes[t].right;
        nodes[t].right = nodes[r].left;
        nodes[r].left = t;
        recompute(t);
        recompute(r);
        return r;
    }
    // Puts node n into the subtree t: behind all of it when atEnd, else in
    // front of the first item the add stops at. Returns the subtree's root.
    int put(int t, int n, bool atEnd) {
        if (t < 0) return n;
        const char* text = nodes[n].item->text;
        const int left = nodes[t].left;
        bool goLeft = false;
        bool childAtEnd = atEnd;
        if (!atEnd) {
            if (left >= 0 && stopsAt(text, nodes[left].strongest)) {
                goLeft = true;
            } else if (stopsAt(text, nodes[t].item)) {
                goLeft = true;        // behind everything on the left, in front of t
                childAtEnd = true;
            }
        }
        nodes[t].strongest = stronger(nodes[t].strongest, nodes[n].item);
        if (goLeft) {
            const int child = put(left, n, childAtEnd);
            nodes[t].left = child;
            if (nodes[child].priority > nodes[t].priority) return rotateRight(t);
        } else {
            const int child = put(nodes[t].right, n, atEnd);
            nodes[t].right = child;
            if (nodes[child].priority > nodes[t].priority) return rotateLeft(t);
        }
        return t;
    }
};

}  // namespace

void consoleMenu::deferSorting() {
    if (deferredFrom < 0) deferredFrom = items.count;
}

void consoleMenu::applySorting() {
    const int32_t from = deferredFrom;
    deferredFrom = -1;
    if (!(flags & ctlSorted) || from < 0 || from >= items.count) return;
    std::vector<menuItem*> order;
    order.reserve(static_cast<size_t>(items.count));
    for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it)) order.push_back(it);
    sortedPlacement placement(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        if (i < static_cast<size_t>(from)) placement.append(order[i]);
        else placement.insert(order[i]);
    }
    placement.collect(order);
    // Relink the items in their new order; the list keeps owning them.
    menuItem* previous = nullptr;
    for (menuItem* it : order) {
        it->previous = previous;
        it->next = nullptr;
        if (previous) previous->next = it;
        previous = it;
    }
    items.first = order.front();
    items.last = order.back();
}

void consoleMenu::setTitle(const char* text) { copyLimited(title, text, sizeof(title) - 1); }

void consoleMenu::addTitleLine(const char* text) {
    char line[81];
    copyLimited(line, text, sizeof(line) - 1);
    titleLines.emplace_back(line);
}

int consoleMenu::headRows() const { return title[0] ? 2 + static_cast<int>(titleLines.size()) : 0; }

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
    if (!typedShown) return;
    typedShown = false;
    // Put back only what nobody has drawn over since.
    if (std::memcmp(screenBuf[statusRow], statusDrawn, sizeof statusDrawn) != 0) return;
    std::memcpy(screenBuf[statusRow], statusKept, sizeof statusKept);
    updateScreen(window, statusRow, 1);
}

void consoleMenu::showTyped() {
    if (!typedShown) std::memcpy(statusKept, screenBuf[statusRow], sizeof statusKept);
    typedShown = true;
    char text[sizeof typed + 8];
    std::snprintf(text, sizeof text, "Find: %s", typed);
    consoleTextLine(window, 0, statusRow, text, screenCols, statusAttr);
    std::memcpy(statusDrawn, screenBuf[statusRow], sizeof statusDrawn);
}

int consoleMenu::close() {
    resetTypedown();
    return consoleControl::close();
}

int consoleMenu::idleMs() {
    if (!typedShown) return -1;
    const int64_t left = typedAt + typeAheadMs - clockMs();
    return left < 0 ? 0 : static_cast<int>(left);
}

int consoleMenu::onIdle() {
    if (typedShown && clockMs() - typedAt >= typeAheadMs) resetTypedown();
    return 0;
}

// Activates the first item that begins with prefix; the items are assumed
// sorted, so the walk stops once the prefix sorts before an item.
menuItem* consoleMenu::select(const char* prefix) {
    copyLimited(typed, prefix, maxTyped);
    typedLen = static_cast<int32_t>(strlen(typed));
    int index = 0;
    for (menuItem* it = items.getNext(nullptr); it; it = items.getNext(it), ++index) {
        if (strcmpin(it->text, typed, typedLen) == 0) {
            active = index;
            goToItem(0);
            return it;
        }
        // Past the place where the sort puts the prefix, no text begins with
        // it; judged by the sort's own comparison, bytes from 128 up included.
        if (sutilStricmp(typed, it->text) < 0) break;
    }
    resetTypedown();
    return nullptr;
}

void consoleMenu::recalcSize() {
    if (w < 8) w = 8;
    if (w > screenCols) w = screenCols;
    const int head = headRows();
    if (h < head + 3) h = head + 3;
    if (h > screenRows) h = screenRows;
    visibleRows = h - 2 - head;
    consoleControl::recalcSize();
}

void consoleMenu::drawItems() {
    int row = y + 1 + headRows();
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
        int row = y + 2;
        for (const std::string& line : titleLines) {
            consoleTextLine(window, x + 1, row, " ", 1, colors[slotTitle]);
            consoleTextLine(window, x + 2, row++, line.c_str(), w - 3, colors[slotTitle]);
        }
        // Separator between the title and the items.
        char sep[screenCols + 1];
        int sw = w < 2 ? 2 : (w > screenCols ? screenCols : w);
        memset(sep, 0xCD, sizeof(sep) - 1);
        sep[0] = '\xCC';
        sep[sw - 1] = '\xB9';
        sep[sw] = 0;
        consoleTextLine(window, x, row, sep, sw, colors[slotFrame]);
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
// keys and the first item not less than it becomes active. A key after a
// pause begins a new prefix; any other key ends it.
int onTypedKey(consoleMenu& menu, KEY_EVENT_RECORD& key) {
    unsigned char c = static_cast<unsigned char>(key.uChar.AsciiChar);
    const bool typing = key.wVirtualKeyCode == kcBackspace || c >= 32;
    if (!(menu.flags & ctlSorted) || !typing) {
        menu.resetTypedown();
        return menu.consoleControl::onKey(key);
    }
    const int64_t now = menu.clockMs();
    if (now - menu.typedAt >= consoleMenu::typeAheadMs) menu.resetTypedown();
    menu.typedAt = now;
    if (key.wVirtualKeyCode == kcBackspace) {
        if (menu.typedLen > 0) menu.typed[--menu.typedLen] = 0;
    } else if (c >= 32) {
        // A full prefix ignores further characters.
        if (menu.typedLen >= maxTyped) return 0;
        menu.typed[menu.typedLen++] = static_cast<char>(c);
        menu.typed[menu.typedLen] = 0;
    }
    int index = 0;
    for (menuItem* it = menu.items.getNext(nullptr); it; it = menu.items.getNext(it), ++index) {
        if (sutilStricmp(menu.typed, it->text) <= 0) {
            menu.active = index;
            menu.goToItem(0);
            break;
        }
    }
    menu.draw();
    if (menu.typedLen > 0) menu.showTyped();
    else menu.resetTypedown();
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
    case kcInsert: resetTypedown(); return onInsert();
    case kcDelete: resetTypedown(); return onDelete();
    default: return onTypedKey(*this, key);
    }
    goToItem(delta);
    drawItems();
    resetTypedown();
    return 0;
}

