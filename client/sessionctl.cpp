#include "client/sessionctl.h"

#include "client/cmain.h"
#include "client/scrlist.h"
#include "client/sessionkeys.h"
#include "console/cinput.h"
#include "console/keyhold.h"

namespace {

constexpr unsigned char errorColor = 0x4E;
constexpr int32_t leaving = 2;   // the session loop's receive status that ends it

}  // namespace

// Held like the keys typed while the session could not take them: the
// session's key handling takes them first, in order.
void consoleSessionControl::sendKey(const INPUT_RECORD& key) { app_.session.keys.hold(key); }

void consoleSessionControl::sendRawKey(uint16_t word) { sendSessionKeyWord(app_, word); }

size_t consoleSessionControl::keysQueued() const { return app_.session.keys.count(); }

bool consoleSessionControl::selectScreen(uint32_t id) {
    bool sent = false;
    withSessionOutbox(app_, [&](sessionOutbox& out) {
        sent = ::selectScreen(id, app_.session.currentScreenId, app_.session.previousScreenId, out) != 0;
    });
    return sent;
}

const char* consoleSessionControl::findScreen(uint32_t id) const {
    const serverScreen* s = app_.session.screens.find(id);
    return s ? s->name : nullptr;
}

uint32_t consoleSessionControl::findScreenByName(std::string_view shown) const {
    const serverScreen* s = app_.session.screens.findByName(shown);
    return s ? s->id : 0;
}

void consoleSessionControl::endSession() {
    app_.session.keys.drop();
    app_.session.receiveStatus = leaving;
}

void consoleSessionControl::statusLine(const std::string& text) { app_.session.feed.say(text); }

void consoleSessionControl::catchUp() {
    if (app_.catchUp) app_.catchUp();
}

void consoleSessionControl::messageBox(const char* text) {
    ::messageBox(app_.window, errorColor, text, "Press Enter to continue...");
}

void consoleSessionControl::openMode(std::unique_ptr<screenMode> mode) { app_.pendingMode = std::move(mode); }

// Through the program's wait point, which the session runs on.
std::function<void(std::function<void()>)> consoleSessionControl::handBack() {
    auto box = app_.waits.mail();
    return [box](std::function<void()> call) { box->post(std::move(call)); };
}
