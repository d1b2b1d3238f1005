#pragma once
#include <cstddef>
#include <new>
#include <string>

#include "console/cmenu.h"

struct _win_st;

// Helpers shared by the server and proxy list screens.

// What a field may not hold: the first character of text that the
// configuration file could not keep in that field, or 0.
using fieldRule = char (*)(const char* text);

// The first character of text that is one of those in set, or 0.
char firstOf(const char* text, const char* set);

// What a field may not hold as a whole: the message that refuses the text,
// or "".
using textRule = std::string (*)(const char* text);

// Runs one input box of the list screens (10,10, width 60) over buf, which
// holds maxLen + 1 bytes. True when the operator accepted with Enter. A text
// that breaks a rule is refused with a message naming the character (or the
// whole rule's message), and the box is shown again with the text as typed.
bool askText(_win_st* win, const char* prompt, char* buf, int maxLen, unsigned char color = 0x1E,
             int masked = 0, fieldRule rule = nullptr, textRule whole = nullptr);

// A heap copy of len bytes of text plus a terminator, or null.
char* copyText(const char* text, size_t len);

// Replaces a heap string with a copy of text (null clears it).
void replaceText(char*& slot, const char* text);

// Takes an item off a list screen and keeps the active position in range.
void dropItem(consoleMenu& menu, menuItem* item);

// Destroys the entry behind every item of a list screen (items own nothing).
template <class Entry>
void deleteEntries(consoleMenu& menu)
{
    for (menuItem* it = menu.items.first; it; it = it->next) {
        delete static_cast<Entry*>(it->data);
        it->data = nullptr;
    }
}

// Remakes an item's display line from its entry.
template <class List, class Entry>
void setItemLine(menuItem* item, const Entry* entry)
{
    char line[80];
    List::makeLine(line, entry);
    item->setText(line);
}

// One entry and its item from a configuration line value, added in sorted
// position. 0 when added or when the value was rejected, -2 without memory.
template <class Entry, class List>
int addEntryFromValue(List& list, char* value)
{
    constexpr int maxDescription = 80;
    Entry* entry = new (std::nothrow) Entry;
    menuItem* item = new (std::nothrow) menuItem("", list.getItemCount() + 1, entry);
    char desc[maxDescription + 1];
    int rc = (entry && item) ? entry->init(value, desc, maxDescription) : -2;
    if (rc != 0) {
        delete entry;
        delete item;
        return rc == -2 ? -2 : 0;
    }
    setItemLine<List>(item, entry);
    list.add(item);
    return 0;
}
