#pragma once

#include "console/keyboard.h"

// The curses backend's key translation: curses key codes to PC scan codes,
// characters and the shifted-function state.

extern const unsigned char scanTable[110];
extern int reverseTable[256];
extern unsigned char keyMapTable[2000][3];

void initKeyMap();
void mapKey(int keyCode, int scanCode, int character, int state);
void getKeyInfo(int keyCode, int* scanCode, int* character, int* state);
// Builds the tables and teaches the terminal the escape sequences of the
// keys; once, after the terminal start-up and before the first key is read.
void keyboardInputInit(_win_st* window);
