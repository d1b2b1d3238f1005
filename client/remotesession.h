#pragma once
#include <cstdint>

#include "client/scrlist.h"
#include "console/keyhold.h"
#include "screen/remotescreen.h"
#include "screen/screenfeed.h"

class sessionOutbox;

// What one session with a server holds while it runs and between its
// connections: the model of the remote screen that its updates paint, the
// server's screens, which one it shows, where the receiving stands, the way
// out to the server, the keys waiting for their turn, and the feed that
// tells the screen's watchers. Nothing of it is shared with another session.
class remoteSession {
public:
    remoteScreen model;
    serverScreenList screens;
    int32_t previousScreenId = 0;
    int32_t currentScreenId = 0;
    int32_t receiveStatus = 0;
    int32_t protocolState = 2;
    int32_t sessionEstablished = 0;
    // The way out of the session that is running (null between sessions).
    sessionOutbox* outbox = nullptr;
    heldKeys keys;
    // Every change of the remote screen, for what keeps or shows it.
    screenFeed feed;

    remoteSession() = default;
    remoteSession(const remoteSession&) = delete;
    remoteSession& operator=(const remoteSession&) = delete;
};
