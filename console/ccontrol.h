#pragma once
#include <cstdint>

#include "console/keyboard.h"

struct _win_st;

// Behaviour bits of a control.
enum : uint32_t {
    ctlSaveScreen = 0x1,   // save the cells beneath on open, restore on close
    ctlAccept = 0x2,       // Enter accepts: onSelect returns 2
    ctlSorted = 0x8,       // list controls: sorted items, type-ahead
};

// Base of every framed window: a rectangle, sixteen colour slots and a modal
// key loop. execute() returns the first non-zero code of onInit or onKey
// (1 cancelled, 2 accepted, or a control's own code).
class consoleControl {
public:
    unsigned char* savedScreen = nullptr;
    int32_t savedW = 0, savedH = 0;
    _win_st* window = nullptr;
    int32_t x = 0, y = 0, w = 1, h = 1;
    uint32_t flags = 0;
    unsigned char colors[16];

    consoleControl();
    consoleControl(const consoleControl&) = delete;
    consoleControl& operator=(const consoleControl&) = delete;
    virtual ~consoleControl();
    virtual int init(_win_st* win, int nx, int ny, int nw, int nh, uint32_t nflags);
    virtual int execute();
    virtual int open();
    virtual int close();
    virtual int onInit();
    virtual int onCancel();
    virtual int onSelect();
    virtual int onKey(KEY_EVENT_RECORD& key);
    virtual void recalcSize();
    virtual void draw();
    virtual void setColor(int slot, unsigned char attr);
    virtual unsigned char getColor(int slot);
    // How long the modal loop waits for a key before it calls onIdle
    // (milliseconds; -1, the default, waits without a limit).
    virtual int idleMs();
    // The wait for a key ran out; a non-zero code ends the loop.
    virtual int onIdle();

    // One step of the modal loop: key-down key events go to onKey, all else
    // is ignored (0).
    int handleEvent(INPUT_RECORD& record);
};
