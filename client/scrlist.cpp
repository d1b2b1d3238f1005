#include "client/scrlist.h"

#include <cstring>
#include <new>

#include "client/outbox.h"
#include "console/cp437.h"

namespace {

constexpr int nameMax = 80;

uint32_t readLe32(const unsigned char* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Tells the server which screen to show: the word 2, then the id.
int sendSelect(uint32_t screenId, sessionOutbox& out)
{
    unsigned char message[8] = {2, 0, 0, 0};
    for (int b = 0; b < 4; ++b)
        message[4 + b] = static_cast<unsigned char>(screenId >> (8 * b));
    out.post(message, sizeof message);
    return 1;
}

// Moves the current id to the neighbour of its screen, wrapping to `wrapTo`
// at the end of the list or when the id is not listed.
int stepScreen(serverScreenList& screens, bool forward, int32_t& currentId, int32_t& previousId, sessionOutbox& out)
{
    previousId = currentId;
    serverScreen* found = screens.find(static_cast<uint32_t>(currentId));
    serverScreen* neighbour = found ? (forward ? found->next : found->previous) : nullptr;
    serverScreen* target = neighbour ? neighbour : (forward ? screens.first : screens.last);
    if (target)
        currentId = static_cast<int32_t>(target->id);
    if (currentId == previousId)
        return 0;
    return sendSelect(static_cast<uint32_t>(currentId), out);
}

}   // namespace

serverScreen* serverScreenList::find(uint32_t id) const
{
    auto& list = const_cast<serverScreenList&>(*this);   // walking the list changes nothing
    for (serverScreen* s = list.getNext(nullptr); s; s = list.getNext(s))
        if (s->id == id)
            return s;
    return nullptr;
}

serverScreen* serverScreenList::findByName(std::string_view shown) const
{
    auto& list = const_cast<serverScreenList&>(*this);   // walking the list changes nothing
    for (serverScreen* s = list.getNext(nullptr); s; s = list.getNext(s))
        if (cp437Text(s->name) == shown)
            return s;
    return nullptr;
}

serverScreen::serverScreen() : next(nullptr), previous(nullptr), id(0)
{
    name[0] = 0;
}

int serverScreen::init(uint32_t newId, const char* newName)
{
    id = newId;
    std::memset(name, 0, sizeof name);
    if (newName)
        std::strncpy(name, newName, nameMax);
    name[nameMax] = 0;
    return 0;
}

int readScreenList(serverScreenList& screens, const unsigned char* payload, int32_t length)
{
    if (payload == nullptr || length <= 4)
        return 0;
    int added = 0;
    int32_t pos = 4;
    while (length - pos >= 8) {
        const uint32_t screenId = readLe32(payload + pos);
        const auto nameLength = static_cast<int32_t>(readLe32(payload + pos + 4));
        pos += 8;
        if (nameLength < 0 || nameLength > length - pos)
            break;   // not an entry the server would send: stop here
        auto* screen = new (std::nothrow) serverScreen();
        if (screen == nullptr)
            break;
        screen->init(screenId, "");
        const int32_t kept = nameLength < nameMax ? nameLength : nameMax;
        std::memcpy(screen->name, payload + pos, static_cast<size_t>(kept));
        screen->name[kept] = 0;
        pos += nameLength;
        screens.add(screen);
        ++added;
    }
    return added;
}

int selectNextScreen(serverScreenList& screens, int32_t& currentId, int32_t& previousId, sessionOutbox& out)
{
    return stepScreen(screens, true, currentId, previousId, out);
}

int selectPreviousScreen(serverScreenList& screens, int32_t& currentId, int32_t& previousId, sessionOutbox& out)
{
    return stepScreen(screens, false, currentId, previousId, out);
}

int selectScreen(uint32_t screenId, int32_t& currentId, int32_t& previousId, sessionOutbox& out)
{
    previousId = currentId;
    currentId = static_cast<int32_t>(screenId);
    if (currentId == previousId)
        return 0;
    return sendSelect(screenId, out);
}
