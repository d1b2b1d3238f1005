#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

// One wait point for a socket, the terminal and a wake-up signal together, so
// that no loop of the program spins or blocks where the operator cannot leave.

// What to wait for on the socket.
enum : int { waitRead = 1, waitWrite = 2 };
// What the wait saw: seenSocket when the socket is ready for what was asked
// (or has failed), and which of the two it is.
enum : int { seenSocket = 1, seenKeys = 2, seenWake = 4, seenReadable = 8, seenWritable = 16 };

// A flag another thread raises to end a wait at once. It stays raised until
// cleared.
class wakeSignal {
public:
    wakeSignal();
    ~wakeSignal();
    wakeSignal(const wakeSignal&) = delete;
    wakeSignal& operator=(const wakeSignal&) = delete;

    void raise();
    void clear();
    bool raised() const;
    // What the platform's wait watches (a descriptor or a handle).
    intptr_t handle() const;

private:
    intptr_t read_ = -1;
    intptr_t write_ = -1;
};

// Waits up to timeoutMs (0: just look, -1: no limit) until the socket sock
// (-1: none) is ready for `events` (a hang-up or an error counts as ready),
// a key may be waiting (when watchKeys), or wake is raised. Returns a mask of
// seenSocket, seenKeys and seenWake; 0 after a timeout or a signal.
int waitSocketOrKey(int sock, int events, int timeoutMs, bool watchKeys, const wakeSignal* wake = nullptr);

// One socket of a wait for many: what to wait for, what the wait saw (the
// seen* socket bits), and a word the platform's wait keeps for itself.
struct waitItem {
    int sock = -1;
    int events = 0;
    int seen = 0;
    int memo = 0;
};

// Waits as waitSocketOrKey does, for all n sockets of items together; fills
// each item's seen. Returns seenSocket when any socket was seen, with
// seenKeys and seenWake as above; 0 after a timeout or a signal.
int waitSockets(waitItem* items, size_t n, int timeoutMs, bool watchKeys, const wakeSignal* wake);
// A socket that a wait for many watched is not watched any more (before it
// goes back to blocking mode, or to a wait of its own).
void releaseWaitItem(waitItem& item);

// Runs work on a thread of its own that is left to finish by itself and
// never takes the program's signals (they must reach the waits above).
// False when no thread could be started.
bool runDetached(std::function<void()> work);
