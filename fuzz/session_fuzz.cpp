// The session's receive state machine over arbitrary server data: the first
// byte chooses the program (odd: the Windows one, which expands compressed
// updates), the rest is what the server says, in the clear; it goes through
// the cipher on its way, as on the wire. Opening block, greeting, headers, payloads of every
// type: nothing may be read or written out of bounds, and the session must
// end with one of its codes when the server has said everything.

#include <algorithm>
#include <vector>

#include "client/build.h"
#include "client/cmain.h"
#include "client/scrlist.h"
#include "console/term.h"
#include "crypto/rc4.h"
#include "fuzz/fuzz_util.h"
#include "net/iclass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryTerminal term;
    term.goneWhenEmpty = false;   // no keys, and no end of input either
    setTerminal(&term);
    if (size == 0 || size > 65536) return 0;
    useBuildProfile((data[0] & 1) ? &windowsProfile : &linuxProfile);

    const unsigned char key[16] = {7, 1, 4, 2, 8, 5, 7, 1, 4, 2, 8, 5, 7, 1, 4, 2};
    std::vector<uint8_t> wire(data + 1, data + size);
    rc4Cipher server;
    server.setKey(key, 16);
    if (!wire.empty()) server.crypt(wire.data(), static_cast<int32_t>(wire.size()), 0);

    FuzzPeer peer;
    if (!peer.load(wire.data(), wire.size())) {
        useBuildProfile(nullptr);
        setTerminal(nullptr);
        return 0;
    }
    {
        consoleMain app;
        app.socket = new ClientSocket(0);
        app.socket->assignSocket(peer.fd[0], Socket::Open | Socket::Bound | Socket::Connected);
        peer.fd[0] = -1;   // the socket object owns it now
        std::copy(key, key + 16, app.sessionKey);
        const int r = app.processConnection();
        if (r != 0 && r != 4001 && r != 4002 && r != 4003)
            __builtin_trap();
        const remoteScreen& model = app.session.model;
        if (model.cursorX < 0 || model.cursorX >= screenCols || model.cursorY < 0 || model.cursorY >= screenRows)
            __builtin_trap();
        serverScreenList& screens = app.session.screens;
        for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s))
            if (s->getName()[80] != 0)
                __builtin_trap();
    }
    useBuildProfile(nullptr);
    setTerminal(nullptr);
    return 0;
}
