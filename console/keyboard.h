#pragma once
#include <cstdint>

struct _win_st;

// The console records that both builds use for key events and positions.
struct COORD {
    int16_t X;
    int16_t Y;
};

struct KEY_EVENT_RECORD {
    int32_t bKeyDown;
    uint32_t wVirtualKeyCode;     // the PC scan code on the curses backend
    uint32_t wVirtualScanCode;    // the same scan code
    uint32_t dwControlKeyState;   // 0, or 6 for a shifted function key
    union {
        char AsciiChar;
    } uChar;
};

struct INPUT_RECORD {
    uint32_t EventType;           // 1 = key event
    KEY_EVENT_RECORD Event;
};

enum : uint32_t { KEY_EVENT = 1 };

// Key codes compared with wVirtualKeyCode (PC scan codes on curses).
enum : uint32_t {
    kcEsc = 0x01,
    kcBackspace = 0x0E,
    kcEnter = 0x1C,
    kcF1 = 0x3B,
    kcF2 = 0x3C,
    kcF3 = 0x3D,
    kcF4 = 0x3E,
    kcF5 = 0x3F,
    kcF6 = 0x40,
    kcHome = 0x47,
    kcUp = 0x48,
    kcPageUp = 0x49,
    kcLeft = 0x4B,
    kcRight = 0x4D,
    kcEnd = 0x4F,
    kcDown = 0x50,
    kcPageDown = 0x51,
    kcInsert = 0x52,
    kcDelete = 0x53,
};

// Control-key state bits of the key record.
enum : uint32_t {
    ksLeftAlt = 0x2,
    ksRightCtrl = 0x4,
    ksLeftCtrl = 0x8,
    ksShiftedFunction = 0x6,   // what curses reports for Shift+F1..F10
};

// Curses translation tables.
extern const unsigned char scanTable[110];
extern int reverseTable[256];
extern unsigned char keyMapTable[2000][3];

void initKeyMap();
void mapKey(int keyCode, int scanCode, int character, int state);
void getKeyInfo(int keyCode, int* scanCode, int* character, int* state);
void keyboardInputInit(_win_st* window);

// One key event if one is waiting (waits at most about 1 ms): 1, else 0.
int getKey(_win_st* window, INPUT_RECORD* record);
// Waits up to timeoutMs (-1: no limit) for a key without spinning.
// 1: record filled; 0: timed out; -1: the terminal is gone (end of input or a
// termination request), in which case callers leave as on Esc.
int waitKey(_win_st* window, INPUT_RECORD* record, int timeoutMs);
// Fills record with the event for a curses key code (getKeyInfo + framing).
void makeKeyEvent(int keyCode, INPUT_RECORD* record);
// An Esc key-down event, as the modal loops synthesise when input is gone.
INPUT_RECORD escEvent();
