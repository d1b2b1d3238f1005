#pragma once

#include <cstdint>

#include "console/keyboard.h"

// The session's own end key (the left Alt test with F2): it ends a session
// in every state, also while other keys must wait.
bool isEndSessionKey(const KEY_EVENT_RECORD& key);
// How the operator names that key on this terminal.
const char* endSessionKeyName();

// The key word that an ordinary key (no shortcut) sends in a session: the
// PC keyboard's scan code with bit 7 for left Ctrl, and the character.
uint16_t sessionKeyWord(const KEY_EVENT_RECORD& key);
