#pragma once

#include <cstdint>
#include <functional>

#include "console/keyboard.h"

class consoleMain;
class sessionOutbox;

// The session's own end key (the left Alt test with F2): it ends a session
// in every state, also while other keys must wait.
bool isEndSessionKey(const KEY_EVENT_RECORD& key);
// How the operator names that key on this terminal.
const char* endSessionKeyName();

// The key word that an ordinary key (no shortcut) sends in a session: the
// PC keyboard's scan code with bit 7 for left Ctrl, and the character.
uint16_t sessionKeyWord(const KEY_EVENT_RECORD& key);

// The way out of the session that runs, or one for a handler called
// outside a session.
void withSessionOutbox(consoleMain& app, const std::function<void(sessionOutbox&)>& action);
// One message of the given bytes; a 4-byte word; a key message.
void sendSessionBytes(consoleMain& app, unsigned char* data, int32_t len);
void sendSessionWord(consoleMain& app, uint32_t word);
void sendSessionKeyWord(consoleMain& app, uint16_t keyWord);

// The session menu (the session's shortcut Alt+F1).
void sessionMenu(consoleMain& app);
