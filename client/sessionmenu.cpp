// The session menu, and the session's own items in it.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "client/build.h"
#include "client/cmain.h"
#include "client/scrlist.h"
#include "client/sessionkeys.h"
#include "client/srvlist.h"
#include "console/cinput.h"
#include "console/cmenu.h"
#include "crypto/md5c.h"
#include "net/sutil.h"
#include "screen/sessioncontrol.h"

namespace {

constexpr uint32_t plainMenu = ctlSaveScreen | ctlAccept;               // 3
constexpr uint32_t sortedMenu = ctlSaveScreen | ctlAccept | ctlSorted;  // 11
constexpr unsigned char promptColor = 0x1E;
constexpr unsigned char errorColor = 0x4E;
constexpr int passwordMax = 50;
constexpr int confirmMax = 7;

enum : uint32_t { wordPassword = 7, wordRestart = 9, wordForced = 10 };

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
                    sendSessionBytes(app, message, sizeof message);
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
            sendSessionWord(app, wordRestart);
            return true;
        }
        if (std::strcmp(text, "GRAVEL") == 0) {
            sendSessionWord(app, wordForced);
            return true;
        }
    }
}

// Fills the screen selection submenu: sorted by name, up to 20 rows, centred.
void buildScreenMenu(consoleMenu& menu, _win_st* window, serverScreenList& screens) {
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
bool sendChosenKey(consoleMain& app, sessionControl& session) {
    const std::vector<keyToSend> keys = keysToSend();
    const int n = static_cast<int>(keys.size());
    consoleMenu menu;
    menu.init(app.window, 15, 13 - (n + 2) / 2, 50, n + 2, plainMenu);
    for (int i = 0; i < n; ++i) menu.add(keys[i].name.c_str(), i + 1, nullptr);
    menuItem* chosen = menu.execute() == 2 ? menu.getActiveItem() : nullptr;
    if (!chosen || chosen->id < 1 || chosen->id > n) return false;
    for (uint16_t word : keys[chosen->id - 1].words)
        if (word) session.sendRawKey(word);
    return true;
}

using after = sessionAction::after;

// "Select Screen To View": the server's screens in a submenu. Within one
// showing of the session menu the submenu keeps its place between uses.
class screenChoice : public sessionAction {
public:
    explicit screenChoice(consoleMain& app) : app_(app) {}
    std::string menuText() const override { return "Select Screen To View"; }
    after run(sessionControl& session) override {
        if (!menu_) {
            menu_ = std::make_unique<consoleMenu>();
            buildScreenMenu(*menu_, app_.window, app_.session.screens);
        }
        menu_->resetTypedown();
        menuItem* chosen = menu_->execute() == 2 ? menu_->getActiveItem() : nullptr;
        if (!chosen) return after::keepMenu;   // nothing chosen: back to the session menu
        session.selectScreen(static_cast<uint32_t>(chosen->id));
        return after::closeMenu;
    }
    // The session menu opens: the submenu is built anew from the screens.
    void forget() { menu_.reset(); }

private:
    consoleMain& app_;
    std::unique_ptr<consoleMenu> menu_;
};

class endChoice : public sessionAction {
public:
    std::string menuText() const override { return "End Remote Session With Server"; }
    after run(sessionControl& session) override {
        session.endSession();
        return after::closeMenu;
    }
};

class resumeChoice : public sessionAction {
public:
    std::string menuText() const override { return "Resume Remote Session With Server (ESC)"; }
    after run(sessionControl&) override { return after::closeMenu; }
};

class passwordChoice : public sessionAction {
public:
    explicit passwordChoice(consoleMain& app) : app_(app) {}
    std::string menuText() const override { return "Change Remote Console Password"; }
    after run(sessionControl&) override { return changePassword(app_) ? after::closeMenu : after::keepMenu; }

private:
    consoleMain& app_;
};

// Offered only when the server's greeting says that it takes the restart
// commands.
class restartChoice : public sessionAction {
public:
    explicit restartChoice(consoleMain& app) : app_(app) {}
    std::string menuText() const override { return app_.serverGreeting.getWord(1) != 0 ? "Restart Server" : ""; }
    after run(sessionControl&) override { return confirmRestart(app_) ? after::closeMenu : after::keepMenu; }

private:
    consoleMain& app_;
};

class sendKeyChoice : public sessionAction {
public:
    explicit sendKeyChoice(consoleMain& app) : app_(app) {}
    std::string menuText() const override { return "Send key"; }
    after run(sessionControl& session) override {
        return sendChosenKey(app_, session) ? after::closeMenu : after::keepMenu;
    }

private:
    consoleMain& app_;
};

// Switched in place: the menu stays, showing the new state.
class reconnectChoice : public sessionAction {
public:
    explicit reconnectChoice(consoleMain& app) : app_(app) {}
    std::string menuText() const override {
        return app_.options.autoReconnect ? "Reconnect automatically: on" : "Reconnect automatically: off";
    }
    after run(sessionControl&) override {
        app_.options.autoReconnect = !app_.options.autoReconnect;
        return after::keepMenu;
    }

private:
    consoleMain& app_;
};

}  // namespace

// The session's own items of the session menu, in their order.
struct sessionCommands {
    explicit sessionCommands(consoleMain& app)
        : select(app), password(app), restart(app), sendKey(app), reconnect(app) {}
    screenChoice select;
    endChoice end;
    resumeChoice resume;
    passwordChoice password;
    restartChoice restart;
    sendKeyChoice sendKey;
    reconnectChoice reconnect;

    std::vector<sessionAction*> list() { return {&select, &end, &resume, &password, &restart, &sendKey, &reconnect}; }
};

void sessionCommandsDeleter::operator()(sessionCommands* commands) const { delete commands; }

consoleMain::consoleMain(sessionOptions sessionOpts) : options(sessionOpts), commands_(new sessionCommands(*this))
{
    std::memset(&serverGreeting, 0, sizeof serverGreeting);
    std::memset(sessionKey, 0, sizeof sessionKey);
    std::memset(reconnectKey, 0, sizeof reconnectKey);
}

std::vector<sessionAction*> consoleMain::menuActions()
{
    std::vector<sessionAction*> all = commands_->list();
    all.insert(all.end(), actions.begin(), actions.end());
    return all;
}

// The items that have a text now, each run by its place in the list; the
// menu closes or stays as the item says.
void sessionMenu(consoleMain& app) {
    std::vector<sessionAction*> items;
    for (sessionAction* a : app.menuActions())
        if (!a->menuText().empty()) items.push_back(a);
    consoleMenu menu;
    menu.init(app.window, 15, 10, 50, static_cast<int>(items.size()) + 2, plainMenu);
    for (size_t i = 0; i < items.size(); ++i) menu.add(items[i]->menuText().c_str(), static_cast<int32_t>(i + 1), nullptr);
    app.forgetScreenChoice();
    for (;;) {
        if (menu.execute() != 2) return;
        menuItem* item = menu.getActiveItem();
        if (!item || item->id < 1 || item->id > static_cast<int32_t>(items.size())) return;
        sessionAction* action = items[static_cast<size_t>(item->id - 1)];
        if (action->run(app.control) == after::closeMenu) return;
        item->setText(action->menuText().c_str());
    }
}

void consoleMain::forgetScreenChoice() { commands_->select.forget(); }
