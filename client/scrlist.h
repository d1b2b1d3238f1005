#pragma once
#include <cstdint>
#include <string_view>

#include "console/llist.h"

class sessionOutbox;

// One screen the server offers, as its screen list message reported it.
class serverScreen {
public:
    serverScreen* next;
    serverScreen* previous;
    uint32_t id;
    char name[81];

    serverScreen();
    // Stores the id and at most 80 bytes of the name (null: empty); returns 0.
    int init(uint32_t newId, const char* newName);
    uint32_t& getId() { return id; }
    char* getName() { return name; }
};

// The server's screens as last reported; owns its items.
class serverScreenList : public llistN<serverScreen> {
public:
    // The first screen with the id, or null.
    serverScreen* find(uint32_t id) const;
    // The first screen whose name shows as `shown` (its glyphs as UTF-8,
    // as a script writes it), or null.
    serverScreen* findByName(std::string_view shown) const;
};

// Appends to screens one screen per entry of a screen list payload of
// `length` bytes (4 unused bytes, then entries: id, name length, name).
// Names are cut to 80 bytes; an entry cut short by the end of the payload, or one with a negative
// name length, ends the parsing. Returns the number of screens added.
int readScreenList(serverScreenList& screens, const unsigned char* payload, int32_t length);

// Screen selection for the session, over its list of screens. Each returns
// 1 when it sent the select screen message (word 2, then the id: 8 bytes in
// one message) and 0 otherwise.
int selectNextScreen(serverScreenList& screens, int32_t& currentId, int32_t& previousId, sessionOutbox& out);
int selectPreviousScreen(serverScreenList& screens, int32_t& currentId, int32_t& previousId, sessionOutbox& out);
int selectScreen(uint32_t screenId, int32_t& currentId, int32_t& previousId, sessionOutbox& out);
