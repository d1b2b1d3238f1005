#pragma once
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

struct _win_st;

// Key events travel through the program as the console's records: on
// Windows the console's own, on the curses backend a declaration of the same
// shape, so that shared code reads record.Event.KeyEvent in both builds.
#ifndef _WIN32
struct COORD {
    int16_t X;
    int16_t Y;
};

struct KEY_EVENT_RECORD {
    int32_t bKeyDown;
    uint32_t wVirtualKeyCode;     // the PC scan code on the curses backend
    uint32_t wVirtualScanCode;    // the same, but F10 (code Esc), F11 and F12 (code 0)
                                  // carry their own here
    uint32_t dwControlKeyState;   // 0, or 6 for a shifted function key
    union {
        char AsciiChar;
    } uChar;
};

struct INPUT_RECORD {
    uint32_t EventType;           // 1 = key event
    union {
        KEY_EVENT_RECORD KeyEvent;
    } Event;
};

enum : uint32_t { KEY_EVENT = 1 };
#endif

// The codes of the keys the program tests, compared with wVirtualKeyCode:
// virtual-key codes on Windows, PC scan codes on the curses backend.
#ifdef _WIN32
enum : uint32_t {
    kcEsc = VK_ESCAPE,
    kcBackspace = VK_BACK,
    kcEnter = VK_RETURN,
    kcF1 = VK_F1,
    kcF2 = VK_F2,
    kcF3 = VK_F3,
    kcF4 = VK_F4,
    kcF5 = VK_F5,
    kcF6 = VK_F6,
    kcF7 = VK_F7,
    kcHome = VK_HOME,
    kcUp = VK_UP,
    kcPageUp = VK_PRIOR,
    kcLeft = VK_LEFT,
    kcRight = VK_RIGHT,
    kcEnd = VK_END,
    kcDown = VK_DOWN,
    kcPageDown = VK_NEXT,
    kcInsert = VK_INSERT,
    kcDelete = VK_DELETE,
};
#else
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
    kcF7 = 0x41,
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
#endif
// PC scan codes, the same on both: Esc, and the keys that only a session
// sends (on a terminal F10 closes the lists like Esc, F11 and F12 do nothing
// there).
constexpr uint32_t kcEscScan = 0x01;
constexpr uint32_t scanF10 = 0x44;
constexpr uint32_t scanF11 = 0x57;
constexpr uint32_t scanF12 = 0x58;

// Control-key state bits of the key record.
enum : uint32_t {
    ksRightAlt = 0x1,
    ksLeftAlt = 0x2,
    ksRightCtrl = 0x4,
    ksLeftCtrl = 0x8,
    ksShiftedFunction = 0x6,   // what curses reports for Shift+F1..F10
};
// The bits a session tests for its Alt shortcuts: left Alt in the Windows
// console; on a terminal the shifted function keys, whose 6 holds that bit.
#ifdef _WIN32
constexpr uint32_t ksSessionAlt = ksLeftAlt;
#else
constexpr uint32_t ksSessionAlt = ksShiftedFunction;
#endif

// One key event if one is waiting (waits at most about 1 ms): 1, else 0.
int getKey(_win_st* window, INPUT_RECORD* record);
// Waits up to timeoutMs (-1: no limit) for a key without spinning.
// 1: record filled; 0: timed out; -1: the terminal is gone (end of input or a
// termination request), in which case callers leave as on Esc.
int waitKey(_win_st* window, INPUT_RECORD* record, int timeoutMs);
// The event of a key code of the terminal backend: a curses key code on the
// curses backend; on Windows a character, or keyVirtual + a virtual-key code.
void makeKeyEvent(int keyCode, INPUT_RECORD* record);
constexpr int keyVirtual = 0x10000;
// An Esc key-down event, as the modal loops synthesise when input is gone.
INPUT_RECORD escEvent();
// The key as a PC keyboard reports it to the remote machine: its scan code,
// its character and left Ctrl. The Windows console's records already are;
// on a terminal Enter, Esc and Backspace get their characters, and a
// control character the key that types it with Ctrl.
KEY_EVENT_RECORD pcKeyEvent(const KEY_EVENT_RECORD& key);
