#include "console/rescue.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Every signal whose default action ends the program and that a handler can
// catch, but those the program handles itself (SIGTERM, SIGQUIT, SIGHUP,
// SIGINT) or ignores (SIGXFSZ).
constexpr int fatalSignals[] = {SIGSEGV, SIGBUS,  SIGFPE,    SIGILL,  SIGABRT, SIGTRAP, SIGSYS,  SIGXCPU, SIGPIPE,
                                SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR, SIGSTKFLT};

struct sigaction previous[NSIG];
bool installed = false;
char resetBytes[512];
volatile sig_atomic_t resetLength = 0;
termios savedModes{};
volatile sig_atomic_t armed = 0;

void writeAll(const char* bytes, size_t n) {
    for (int tries = 0; n > 0 && tries < 100; ++tries) {
        const ssize_t w = ::write(STDOUT_FILENO, bytes, n);
        if (w > 0) {
            bytes += w;
            n -= static_cast<size_t>(w);
        } else if (w == 0 || (errno != EINTR && errno != EAGAIN)) {
            return;
        }
    }
}

// A fault of an instruction (a bad address, a division by zero) comes back
// when the instruction runs again.
bool faultAgain(int signalNumber, const siginfo_t* info) {
    const bool fault = signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE || signalNumber == SIGILL;
    return fault && info && info->si_code > 0;
}

void onFatal(int signalNumber, siginfo_t* info, void*) {
    const int savedErrno = errno;
    if (armed) {
        armed = 0;
        writeAll(resetBytes, static_cast<size_t>(resetLength));
        tcsetattr(STDIN_FILENO, TCSADRAIN, &savedModes);
    }
    sigaction(signalNumber, &previous[signalNumber], nullptr);
    // A signal that was sent is sent again; it is blocked here, so it
    // arrives when the handler returns.
    if (!faultAgain(signalNumber, info)) raise(signalNumber);
    errno = savedErrno;
}

void install() {
    installed = true;
    struct sigaction action {};
    action.sa_sigaction = onFatal;
    sigfillset(&action.sa_mask);
    // On the sanitizers' alternate stack where there is one: a stack
    // overflow is caught too.
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    for (const int s : fatalSignals) {
        if (sigaction(s, nullptr, &previous[s]) != 0 || previous[s].sa_handler == SIG_IGN) continue;
        sigaction(s, &action, nullptr);
    }
}

}  // namespace

void armTerminalRescue(const termios& modes, std::string_view reset) {
    armed = 0;
    savedModes = modes;
    resetLength = 0;
    addTerminalRescue(reset);
    if (!installed) install();
    armed = 1;
}

void addTerminalRescue(std::string_view bytes) {
    const auto at = static_cast<size_t>(resetLength);
    if (bytes.size() > sizeof resetBytes - at) return;
    // The bytes first, then the length: a signal in between writes the old ones.
    std::memcpy(resetBytes + at, bytes.data(), bytes.size());
    resetLength = static_cast<sig_atomic_t>(at + bytes.size());
}

void disarmTerminalRescue() { armed = 0; }
