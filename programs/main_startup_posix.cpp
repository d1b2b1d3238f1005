// The signals of the Linux program: SIGINT is ignored, and SIGTERM, SIGQUIT
// and a hang-up ask it to leave in order. SIGXFSZ is ignored too: a file
// that reaches the size limit fails its write (EFBIG), which ends a
// recording, not the program.

#include <signal.h>

#include "programs/main_startup.h"
#include "console/global.h"
#include "console/keyboard_curses.h"

namespace {

void install(int signalNumber) {
    struct sigaction action {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocked waits return EINTR
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void signalHandler(int signalNumber) {
    if (signalNumber == SIGINT) {
        install(SIGINT);
        return;
    }
    // Only raise the flag: the key waits return at once (the signal breaks
    // their poll) and every loop leaves as on Esc, in order.
    EXIT = 1;
}

void installSignalHandlers() {
    install(SIGTERM);
    install(SIGQUIT);  // Ctrl+\ leaves in order too outside a session (a session sends it)
    install(SIGINT);
    install(SIGHUP);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
}

void batchKeysInit() { keyboardInputInit(nullptr); }

void batchSignalsInit() { installSignalHandlers(); }
