#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "client/cmain.h"
#include "client/build.h"
#include "client/outbox.h"
#include "client/scrlist.h"
#include "client/sessionkeys.h"
#include "client/srvlist.h"
#include "console/cinput.h"
#include "console/cmenu.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "crypto/md5c.h"
#include "history/history.h"
#include "screen/formats.h"
#include "net/iclass.h"
#include "net/sutil.h"

namespace {

constexpr uint32_t altMask = ksSessionAlt;
constexpr uint32_t plainMenu = ctlSaveScreen | ctlAccept;               // 3
constexpr uint32_t sortedMenu = ctlSaveScreen | ctlAccept | ctlSorted;  // 11
constexpr unsigned char promptColor = 0x1E;
constexpr unsigned char errorColor = 0x4E;
constexpr int passwordMax = 50;
constexpr int confirmMax = 7;

enum : uint32_t { wordKey = 5, wordPassword = 7, wordEight = 8, wordRestart = 9, wordForced = 10 };
enum : int32_t {
    itemSelect = 1,
    itemEnd = 2,
    itemResume = 3,
    itemPassword = 4,
    itemRestart = 5,
    itemReconnect = 6,
    itemSaveScreen = 8,
    itemRecord = 9,
    itemScrollBack = 10,
    itemSaveHistory = 11,
    itemShare = 12,
    itemSendKey = 7
};

int sockOf(const consoleMain& app) { return app.socket ? app.socket->sock : -1; }

// The session's outbox, or one for a handler called outside a session.
template <class Action>
void withOutbox(consoleMain& app, Action action) {
    if (app.outbox) {
        action(*app.outbox);
        return;
    }
    sessionOutbox once(app.sendCipher, sockOf(app));
    action(once);
}

// One message of the given bytes.
void sendBytes(consoleMain& app, unsigned char* data, int32_t len) {
    withOutbox(app, [&](sessionOutbox& out) { out.post(data, len); });
}

void sendWord(consoleMain& app, uint32_t word) {
    unsigned char bytes[4];
    for (int b = 0; b < 4; ++b) bytes[b] = static_cast<unsigned char>(word >> (8 * b));
    sendBytes(app, bytes, 4);
}

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

void sendKey(consoleMain& app, uint16_t word) { sendWord(app, wordKey | (uint32_t{word} << 16)); }

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
    sendKey(app, keyWord(pc));
}

serverInfo* sessionServer(consoleMain& app) {
    menuItem* item = app.servers.getActiveItem();
    return item ? static_cast<serverInfo*>(item->data) : nullptr;
}

// New password twice, then its digest to the server. True when sent.
bool changePassword(consoleMain& app) {
    char first[passwordMax + 1] = {};
    char second[passwordMax + 1] = {};
    bool sent = false;
    {
        consoleInputBox box(1);
        box.init(app.window, 20, 10, 40, "New Password:", first, passwordMax, promptColor);
        if (box.execute() == 2 && first[0]) {
            box.init(app.window, 20, 10, 40, "Retype Password:", second, passwordMax, promptColor);
            if (box.execute() == 2) {
                if (std::strcmp(first, second) != 0) {
                    messageBox(app.window, errorColor, "Entered passwords does not match, try it again please.",
                               "Press Enter to continue...");
                } else {
                    unsigned char message[20];
                    for (int b = 0; b < 4; ++b) message[b] = static_cast<unsigned char>(wordPassword >> (8 * b));
                    passwordDigest(message + 4, first);
                    // A reconnection must use the password the server now has.
                    std::memcpy(app.reconnectKey, message + 4, sizeof app.reconnectKey);
                    serverInfo* server = sessionServer(app);
                    if (server && server->hasPassword()) server->setPassword(first);
                    sendBytes(app, message, sizeof message);
                    wipeMemory(message, sizeof message);
                    sent = true;
                }
            }
        }
    }
    wipeMemory(first, sizeof first);
    wipeMemory(second, sizeof second);
    return sent;
}

// The restart prompt: "RESTART" sends 9, "GRAVEL" sends 10, any other text
// keeps the box open. True when a command was sent.
bool confirmRestart(consoleMain& app) {
    char text[confirmMax + 1] = {};
    consoleInputBox box(0);
    for (;;) {
        box.init(app.window, 20, 10, 40, "Enter 'RESTART' for confirmation:", text, confirmMax, promptColor);
        if (box.execute() != 2) return false;
        if (std::strcmp(text, "RESTART") == 0) {
            sendWord(app, wordRestart);
            return true;
        }
        if (std::strcmp(text, "GRAVEL") == 0) {
            sendWord(app, wordForced);
            return true;
        }
    }
}

// Fills the screen selection submenu: sorted by name, up to 20 rows, centred.
void buildScreenMenu(consoleMenu& menu, _win_st* window) {
    const int n = screens.count;
    const int rows = n < 2 ? 1 : std::min(n, 20);
    menu.init(window, 15, 13 - (rows + 2) / 2, 50, rows + 2, sortedMenu);
    for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s))
        menu.add(s->getName(), static_cast<int32_t>(s->getId()), nullptr);
}

// Keys that cannot be typed in a session: those the client keeps for
// itself, and combinations that a terminal does not pass on. Each goes as
// the key words a PC keyboard gives: a shortcut as its held key, then the
// function key; Ctrl+Alt+Del as the word the server takes for it (pressing
// Ctrl and Alt on their own would leave them held, since no release is sent).
struct keyToSend {
    std::string name;
    uint16_t words[2];
};

std::vector<keyToSend> keysToSend() {
    const buildProfile& build = thisBuild();
    std::vector<keyToSend> keys;
    for (int n = 1; n <= 6; ++n)
        keys.push_back({std::string(build.shortcutKey) + "+F" + std::to_string(n),
                        {build.shortcutKeyWord, static_cast<uint16_t>((0x3A + n) << 8)}});   // F1 is 0x3B
    keys.push_back({"F11", {static_cast<uint16_t>(scanF11 << 8), 0}});
    keys.push_back({"F12", {static_cast<uint16_t>(scanF12 << 8), 0}});
    keys.push_back({"Ctrl+Alt+Del", {0x002E, 0}});
    keys.push_back({"SysRq", {0x5400, 0}});
    keys.push_back({"Pause", {0x4500, 0}});
    return keys;
}

// The list of those keys; true when one was sent.
bool sendChosenKey(consoleMain& app) {
    const std::vector<keyToSend> keys = keysToSend();
    const int n = static_cast<int>(keys.size());
    consoleMenu menu;
    menu.init(app.window, 15, 13 - (n + 2) / 2, 50, n + 2, plainMenu);
    for (int i = 0; i < n; ++i) menu.add(keys[i].name.c_str(), i + 1, nullptr);
    menuItem* chosen = menu.execute() == 2 ? menu.getActiveItem() : nullptr;
    if (!chosen || chosen->id < 1 || chosen->id > n) return false;
    for (uint16_t word : keys[chosen->id - 1].words)
        if (word) sendKey(app, word);
    return true;
}

const char* reconnectItemText() {
    return autoReconnect ? "Reconnect automatically: on" : "Reconnect automatically: off";
}

const char* recordItemText(const consoleMain& app) {
    return app.recorder.recording() ? "Record session: on" : "Record session: off";
}

const char* shareItemText(const consoleMain& app) {
    return app.share.sharing() ? "Stop sharing" : "Share in a browser (read-only)";
}

void sessionMenu(consoleMain& app) {
    const bool canRestart = app.serverGreeting.getWord(1) != 0;
    consoleMenu menu;
    menu.init(app.window, 15, 10, 50, (canRestart ? 12 : 11) + 2, plainMenu);
    menu.add("Select Screen To View", itemSelect, nullptr);
    menu.add("End Remote Session With Server", itemEnd, nullptr);
    menu.add("Resume Remote Session With Server (ESC)", itemResume, nullptr);
    menu.add("Change Remote Console Password", itemPassword, nullptr);
    if (canRestart) menu.add("Restart Server", itemRestart, nullptr);
    menu.add("Send key", itemSendKey, nullptr);
    menu.add(reconnectItemText(), itemReconnect, nullptr);
    menu.add("Save screen to file", itemSaveScreen, nullptr);
    menu.add(recordItemText(app), itemRecord, nullptr);
    menu.add("Scroll back", itemScrollBack, nullptr);
    menu.add("Save history to file", itemSaveHistory, nullptr);
    menu.add(shareItemText(app), itemShare, nullptr);

    consoleMenu screenMenu;
    buildScreenMenu(screenMenu, app.window);

    for (;;) {
        if (menu.execute() != 2) return;
        menuItem* item = menu.getActiveItem();
        if (!item) return;
        switch (item->id) {
        case itemSelect: {
            screenMenu.resetTypedown();
            menuItem* chosen = screenMenu.execute() == 2 ? screenMenu.getActiveItem() : nullptr;
            if (!chosen) break;   // nothing chosen: back to the session menu
            withOutbox(app, [&](sessionOutbox& out) {
                selectScreen(static_cast<uint32_t>(chosen->id), app.currentScreenId, app.previousScreenId, out);
            });
            return;
        }
        case itemEnd:
            app.receiveStatus = 2;
            return;
        case itemPassword:
            if (changePassword(app)) return;
            break;
        case itemRestart:
            if (confirmRestart(app)) return;
            break;
        case itemSendKey:
            if (sendChosenKey(app)) return;
            break;
        case itemReconnect:
            // Toggled in place: the menu stays, showing the new state.
            autoReconnect = !autoReconnect;
            item->setText(reconnectItemText());
            break;
        case itemSaveScreen:
            // The server's picture, without this menu over it.
            app.feed.say(saveScreenshot(app.feed.screen()));
            return;
        case itemRecord:
            app.feed.say(app.recorder.recording() ? app.recorder.stop() : app.recorder.start());
            item->setText(recordItemText(app));
            break;
        case itemScrollBack:
            app.historyAsked = true;
            return;
        case itemSaveHistory:
            app.feed.say(saveHistory(app.history, app.feed.screen()));
            return;
        case itemShare:
            if (!shareAvailable()) {
                messageBox(app.window, errorColor, shareUnavailableText, "Press Enter to continue...");
                return;
            }
            // Started here, the share ends with this session.
            app.feed.say(app.share.sharing() ? app.share.stop() : app.share.start("", false));
            return;
        default:
            return;
        }
    }
}

// The current screen's name in a small list at the bottom left.
void showScreenName(consoleMain& app) {
    consoleMenu menu;
    menu.init(app.window, 1, 21, 50, 1, plainMenu);
    for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s))
        if (static_cast<int32_t>(s->getId()) == app.currentScreenId) menu.add(s->getName(), 1, nullptr);
    menu.execute();
}

}  // namespace

bool isEndSessionKey(const KEY_EVENT_RECORD& key) {
    return (key.dwControlKeyState & altMask) != 0 && key.wVirtualKeyCode == kcF2;
}

const char* endSessionKeyName() { return thisBuild().endSessionKey; }

uint16_t sessionKeyWord(const KEY_EVENT_RECORD& key) { return keyWord(pcKeyEvent(key)); }

// Session keys: the shortcuts the client handles itself, everything else goes
// to the server as a key message.
int consoleMain::onKey(KEY_EVENT_RECORD& key) {
    const bool alt = (key.dwControlKeyState & altMask) != 0;
    const bool leftCtrl = (key.dwControlKeyState & ksLeftCtrl) != 0;
    const uint32_t code = key.wVirtualKeyCode;

    if (alt && code == kcF1) sessionMenu(*this);
    else if (alt && code == kcF2) receiveStatus = 2;
    else if (alt && code == kcF5) sendWord(*this, wordEight);
    else if (alt && code == kcF4)
        withOutbox(*this, [this](sessionOutbox& out) { selectNextScreen(currentScreenId, previousScreenId, out); });
    else if (alt && code == kcF3)
        withOutbox(*this, [this](sessionOutbox& out) { selectPreviousScreen(currentScreenId, previousScreenId, out); });
    else if (alt && leftCtrl && code == kcEsc) sendKey(*this, 0x002E);
    else if (alt && code == kcF6) showScreenName(*this);
    else if (alt && code == kcF7) historyAsked = true;
    else sendTyped(*this, key);
    return 0;
}
