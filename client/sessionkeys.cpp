#include "client/sessionkeys.h"

#include "client/build.h"
#include "client/cmain.h"
#include "client/outbox.h"
#include "client/scrlist.h"
#include "console/cmenu.h"
#include "console/term.h"
#include "net/iclass.h"

namespace {

constexpr uint32_t altMask = ksSessionAlt;
constexpr uint32_t plainMenu = ctlSaveScreen | ctlAccept;   // 3
constexpr int32_t leaving = 2;                              // the receive status that ends the session

enum : uint32_t { wordKey = 5, wordEight = 8 };

int sockOf(const consoleMain& app) { return app.socket ? app.socket->sock : -1; }

// Low byte the character, high byte the scan code with bit 7 for left Ctrl.
// AltGr arrives as right Alt with left Ctrl: a character typed with it is
// that character, not Ctrl and the character.
uint16_t keyWord(const KEY_EVENT_RECORD& key) {
    unsigned scan = key.wVirtualScanCode & 0xFF;
    const uint32_t state = key.dwControlKeyState;
    const bool altGr = (state & ksRightAlt) && (state & ksLeftCtrl) && key.uChar.AsciiChar != 0;
    if ((state & ksLeftCtrl) && !altGr) scan |= 0x80;
    return static_cast<uint16_t>((scan << 8) | static_cast<unsigned char>(key.uChar.AsciiChar));
}

// An ordinary key, as the remote PC keyboard would give it. On a UTF-8
// terminal a character beyond ASCII comes as several bytes: they go as one
// code page 437 character, or as nothing when the code page lacks it; the
// bytes of a broken character go nowhere.
void sendTyped(consoleMain& app, const KEY_EVENT_RECORD& key) {
    KEY_EVENT_RECORD pc = pcKeyEvent(key);
    const auto c = static_cast<unsigned char>(pc.uChar.AsciiChar);
    if (c >= 0x80 && terminal()->utf8Keys()) {
        char32_t typed = 0;
        if (app.typedChar.feed(c, typed) != 1) return;
        const int code = cp437FromUnicode(typed);
        if (code < 0) {
            app.untypable = typed;
            return;
        }
        pc.uChar.AsciiChar = static_cast<char>(code);
    } else {
        app.typedChar.reset();
    }
    sendSessionKeyWord(app, keyWord(pc));
}

// The current screen's name in a small list at the bottom left.
void showScreenName(consoleMain& app) {
    consoleMenu menu;
    menu.init(app.window, 1, 21, 50, 1, plainMenu);
    const uint32_t shown = static_cast<uint32_t>(app.session.currentScreenId);
    if (serverScreen* s = app.session.screens.find(shown)) menu.add(s->getName(), 1, nullptr);
    menu.execute();
}

void endSession(consoleMain& app) { app.session.receiveStatus = leaving; }

void sendWordEight(consoleMain& app) { sendSessionWord(app, wordEight); }

void nextScreen(consoleMain& app) {
    remoteSession& s = app.session;
    withSessionOutbox(app, [&](sessionOutbox& out) {
        selectNextScreen(s.screens, s.currentScreenId, s.previousScreenId, out);
    });
}

void previousScreen(consoleMain& app) {
    remoteSession& s = app.session;
    withSessionOutbox(app, [&](sessionOutbox& out) {
        selectPreviousScreen(s.screens, s.currentScreenId, s.previousScreenId, out);
    });
}

// Ctrl+Alt+Esc: the word the server takes for Ctrl+Alt+Del.
void sendCtrlAltDel(consoleMain& app) { sendSessionKeyWord(app, 0x002E); }

// The session's own shortcuts: the Alt key (Shift on a terminal) with a
// function key, or with left Ctrl and Esc.
struct shortcut {
    uint32_t code;
    bool leftCtrl;
    void (*run)(consoleMain& app);
};
constexpr shortcut shortcuts[] = {
    {kcF1, false, sessionMenu},    {kcF2, false, endSession},     {kcF3, false, previousScreen},
    {kcF4, false, nextScreen},     {kcF5, false, sendWordEight},  {kcF6, false, showScreenName},
    {kcEsc, true, sendCtrlAltDel},
};

}  // namespace

bool isEndSessionKey(const KEY_EVENT_RECORD& key) {
    return (key.dwControlKeyState & altMask) != 0 && key.wVirtualKeyCode == kcF2;
}

const char* endSessionKeyName() { return thisBuild().endSessionKey; }

uint16_t sessionKeyWord(const KEY_EVENT_RECORD& key) { return keyWord(pcKeyEvent(key)); }

void withSessionOutbox(consoleMain& app, const std::function<void(sessionOutbox&)>& action) {
    if (app.session.outbox) {
        action(*app.session.outbox);
        return;
    }
    sessionOutbox once(app.sendCipher, sockOf(app));
    action(once);
}

void sendSessionBytes(consoleMain& app, unsigned char* data, int32_t len) {
    withSessionOutbox(app, [&](sessionOutbox& out) { out.post(data, len); });
}

void sendSessionWord(consoleMain& app, uint32_t word) {
    unsigned char bytes[4];
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<unsigned char>(word >> (8 * b));
    sendSessionBytes(app, bytes, 4);
}

void sendSessionKeyWord(consoleMain& app, uint16_t keyWord) { sendSessionWord(app, wordKey | (uint32_t{keyWord} << 16)); }

// Session keys: the shortcuts the client handles itself, those that the
// program's other parts take, and everything else goes to the server as a
// key message.
int consoleMain::onKey(KEY_EVENT_RECORD& key) {
    const bool alt = (key.dwControlKeyState & altMask) != 0;
    const bool leftCtrl = (key.dwControlKeyState & ksLeftCtrl) != 0;
    if (alt)
        for (const shortcut& s : shortcuts)
            if (key.wVirtualKeyCode == s.code && (leftCtrl || !s.leftCtrl)) {
                s.run(*this);
                return 0;
            }
    for (sessionAction* action : actions)
        if (action->takesKey(key)) {
            action->run(control);
            return 0;
        }
    sendTyped(*this, key);
    return 0;
}
