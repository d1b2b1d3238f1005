#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "console/ccontrol.h"
#include "console/llist.h"

// One line of a list menu.
class menuItem {
public:
    menuItem* next = nullptr;
    menuItem* previous = nullptr;
    char text[80];
    int32_t id = 0;
    void* data = nullptr;      // the caller's object; not owned

    menuItem(const char* t = "", int32_t nid = 0, void* ndata = nullptr);
    void setText(const char* t);   // at most 79 characters; null as "(null)"
};

// Milliseconds of a steady clock, the menus' time unless a test gives its own.
int64_t steadyClockMs();

// The framed, scrolling list from which the operator picks one line.
class consoleMenu : public consoleControl {
public:
    llistN<menuItem> items;
    char title[81];
    // Lines under the title, each on a row of its own (a message box's cause).
    std::vector<std::string> titleLines;
    char borderTitle[81];
    int32_t visibleRows = 0;
    int32_t top = 0;
    int32_t active = 0;
    char typed[81];
    int32_t typedLen = 0;
    // Item count when sorting was deferred, or -1 (see deferSorting).
    int32_t deferredFrom = -1;
    // Type-ahead shows its prefix on the status row while it is typed; what
    // the row held comes back when the prefix ends, which it does after
    // typeAheadMs without a typed key.
    static constexpr int typeAheadMs = 1000;
    int64_t (*clockMs)() = steadyClockMs;
    int64_t typedAt = 0;
    bool typedShown = false;
    uint16_t statusKept[80];
    uint16_t statusDrawn[80];

    consoleMenu();
    int init(_win_st* win, int nx, int ny, int nw, int nh, uint32_t nflags) override;
    int onKey(KEY_EVENT_RECORD& key) override;
    void recalcSize() override;
    void draw() override;
    int close() override;
    int idleMs() override;
    int onIdle() override;
    virtual int onInsert();
    virtual int onDelete();

    menuItem* add(const char* text, int32_t id, void* data);
    menuItem* add(menuItem* item);
    // Sorted adds made between these two calls are appended at once and put
    // in place by applySorting, in exactly the order that adding them one by
    // one gives, but in O(n log n) instead of O(n^2): for loading long lists.
    void deferSorting();
    void applySorting();
    void setTitle(const char* text);
    void addTitleLine(const char* text);   // at most 80 characters
    // Rows above the items inside the frame: the title's and its separator.
    int headRows() const;
    void setBorderTitle(const char* text);
    menuItem* getItem(int index);
    menuItem* getActiveItem();
    int getItemCount() const;
    int getMaxItemWidth();
    void goToItem(int delta);
    void drawItems();
    // Empties the typed prefix and gives the status row back.
    void resetTypedown();
    // Shows the typed prefix on the status row.
    void showTyped();
    menuItem* select(const char* prefix);
};
