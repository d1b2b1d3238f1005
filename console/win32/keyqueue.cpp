#include "console/win32/keyqueue.h"

#include <process.h>

#include "console/global.h"

namespace {

// The ring and everything that guards and announces it. Built before main,
// so that a control event arriving at any time finds a working lock, and
// never torn down: the input thread is never stopped and may still use them
// while the process exits, when the system reclaims them.
struct KeyQueue {
    INPUT_RECORD slots[keyQueueSlots];
    int write = 0;
    int read = 0;
    CRITICAL_SECTION lock;
    HANDLE keys;   // manual reset: set while keys may be waiting
    HANDLE room;   // auto reset: a slot has been freed
    HANDLE left;   // manual reset: the main loop is over

    KeyQueue() {
        InitializeCriticalSection(&lock);
        keys = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        room = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        left = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    KeyQueue(const KeyQueue&) = delete;
    KeyQueue& operator=(const KeyQueue&) = delete;

    int count() const { return write >= read ? write - read : write - read + keyQueueSlots; }
};

KeyQueue queue;

class Locked {
public:
    Locked() { EnterCriticalSection(&queue.lock); }
    ~Locked() { LeaveCriticalSection(&queue.lock); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
};

int keyQueueRoom() {
    Locked held;
    return keyQueueSlots - 1 - queue.count();
}

} // namespace

bool putKeyEvent(const INPUT_RECORD& record) {
    if (record.EventType != KEY_EVENT)
        return false;
    Locked held;
    int next = (queue.write + 1) % keyQueueSlots;
    if (next == queue.read)
        return false;
    queue.slots[queue.write] = record;
    queue.write = next;
    SetEvent(queue.keys);
    return true;
}

bool getKeyEvent(HANDLE, INPUT_RECORD& record) {
    Locked held;
    if (queue.read == queue.write) {
        ResetEvent(queue.keys);
        return false;
    }
    // Only the input thread waits for room, and only while the queue is full.
    const bool wasFull = queue.count() == keyQueueSlots - 1;
    record = queue.slots[queue.read];
    queue.read = (queue.read + 1) % keyQueueSlots;
    if (queue.read == queue.write)
        ResetEvent(queue.keys);
    if (wasFull)
        SetEvent(queue.room);
    return true;
}

int keyEventCount() {
    Locked held;
    return queue.count();
}

HANDLE keyEventSignal() { return queue.keys; }

void programLeft() { SetEvent(queue.left); }

BOOL WINAPI consoleCtrlHandler(DWORD ctrlType) {
    if (ctrlType == CTRL_CLOSE_EVENT || ctrlType == CTRL_LOGOFF_EVENT || ctrlType == CTRL_SHUTDOWN_EVENT) {
        // The process ends when this returns: first the main thread leaves
        // in order, saving the configuration, within the 5 s that Windows
        // gives (the wait ends a little before, in case it does not).
        EXIT = 1;
        SetEvent(queue.keys);   // every wait for keys looks at EXIT now
        WaitForSingleObject(queue.left, 4500);
        return TRUE;
    }
    if (ctrlType == CTRL_C_EVENT || ctrlType == CTRL_BREAK_EVENT) {
        INPUT_RECORD r{};
        r.EventType = KEY_EVENT;
        r.Event.KeyEvent.bKeyDown = TRUE;
        r.Event.KeyEvent.wRepeatCount = 0;
        r.Event.KeyEvent.wVirtualKeyCode = 0;
        r.Event.KeyEvent.wVirtualScanCode = 0x2E;
        r.Event.KeyEvent.uChar.AsciiChar = 3;
        r.Event.KeyEvent.dwControlKeyState = 0;
        putKeyEvent(r);
    }
    return TRUE;
}

// Reads at most as many events as the queue can take, so that none is ever
// dropped for want of room; while it is full, waits for the main thread to
// take some instead of reading.
unsigned __stdcall keyboardThread(void* input) {
    HANDLE in = static_cast<HANDLE>(input);
    INPUT_RECORD batch[16];
    // The characters come as the console's wide characters and are turned
    // into its input code page here, asked for once: the narrow read asks the
    // console for it on every call, which costs a round trip per key under wine.
    const UINT codePage = GetConsoleCP();
    for (;;) {
        int room = keyQueueRoom();
        if (room == 0) {
            WaitForSingleObject(queue.room, 2000);
            continue;
        }
        // A handle that cannot be waited on (no console) must not make this spin.
        const DWORD woke = WaitForSingleObject(in, 2000);
        if (woke == WAIT_FAILED)
            Sleep(2000);
        // Signalled, the input has events: read them without asking first,
        // one call to the console less per key.
        DWORD waiting = 0;
        if (woke != WAIT_OBJECT_0 && (!GetNumberOfConsoleInputEvents(in, &waiting) || waiting == 0))
            continue;
        DWORD want = 16;
        if (want > static_cast<DWORD>(room))
            want = static_cast<DWORD>(room);
        DWORD got = 0;
        if (!ReadConsoleInputW(in, batch, want, &got))
            continue;
        for (DWORD i = 0; i < got; i++) {
            KEY_EVENT_RECORD& key = batch[i].Event.KeyEvent;
            if (batch[i].EventType != KEY_EVENT || !key.bKeyDown)
                continue;
            const WCHAR wide = key.uChar.UnicodeChar;
            CHAR narrow = 0;
            if (wide && WideCharToMultiByte(codePage, 0, &wide, 1, &narrow, 1, nullptr, nullptr) != 1)
                narrow = 0;
            key.uChar.UnicodeChar = 0;
            key.uChar.AsciiChar = narrow;
            putKeyEvent(batch[i]);
        }
    }
}

// The stack size is a request for the least; the system rounds it up.
namespace {
bool threadStarted = false;
}

void startKeyboardThread() {
    HANDLE thread = reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 2000, keyboardThread, GetStdHandle(STD_INPUT_HANDLE), 0, nullptr));
    if (thread) {
        threadStarted = true;
        CloseHandle(thread);
    }
}

void waitForAnyKey() {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    INPUT_RECORD record{};
    if (!threadStarted) FlushConsoleInputBuffer(in);
    while (threadStarted && getKeyEvent(nullptr, record)) {
    }
    for (;;) {
        if (threadStarted) {
            // The input thread takes every key: it is waited for in the queue.
            if (getKeyEvent(nullptr, record)) return;
            WaitForSingleObject(queue.keys, INFINITE);
            continue;
        }
        DWORD got = 0;
        if (!ReadConsoleInputW(in, &record, 1, &got) || got == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown) return;
    }
}
