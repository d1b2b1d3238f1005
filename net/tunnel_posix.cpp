// The child of a tunnel on Linux: a stream socket pair, the child in a
// session (and so a process group) of its own, ended by signals to the group,
// its standard error read by a thread of ours.

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "net/flags.h"
#include "net/tunnel.h"

namespace {

constexpr int askMs = 1000;   // how long the child has to end when asked
constexpr int pollMs = 10;
constexpr int readsPerWake = 64;   // reads of 512 bytes before looking at the stop

// Reads the whole of len bytes unless the other end closes first; the count read.
ssize_t readAll(int fd, void* buffer, size_t len) {
    size_t got = 0;
    while (got < len) {
        const ssize_t n = ::read(fd, static_cast<char*>(buffer) + got, len - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// A descriptor above the standard three, close-on-exec; the original is closed.
int aboveStandard(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    ::close(fd);
    return moved;
}

// In the child, between fork and exec: only calls that are safe there.
[[noreturn]] void runChild(int end, int errors, int report, char* const* argv, pid_t parent) {
    setsid();   // a group to end together, and no terminal to write on or ask from
    // The command dies with the program, even when the program is killed
    // and cannot end it; a program that died before this was set is noticed
    // as a new parent.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    // What the client ignores, the command must not inherit as ignored.
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    for (int s : {SIGINT, SIGPIPE, SIGQUIT, SIGHUP, SIGTERM, SIGXFSZ}) sigaction(s, &byDefault, nullptr);
    if (dup2(end, STDIN_FILENO) < 0 || dup2(end, STDOUT_FILENO) < 0 || dup2(errors, STDERR_FILENO) < 0) {
        const int err = errno;
        (void)!::write(report, &err, sizeof err);
        _exit(127);
    }
    execvp(argv[0], argv);
    const int err = errno;
    (void)!::write(report, &err, sizeof err);
    _exit(127);
}

// Ends the child's whole group and reaps the child (bounded: asked first,
// then forced).
void endGroup(pid_t pid) {
    // The whole group: relays may have started helpers of their own. A
    // stopped child gets on so that it can take the request.
    kill(-pid, SIGTERM);
    kill(-pid, SIGCONT);
    // Exited children are looked at without reaping them, so that the group
    // id stays theirs until what is left of the group has been killed.
    for (int waited = 0; waited < askMs; waited += pollMs) {
        siginfo_t info{};
        const int r = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if ((r == 0 && info.si_pid == pid) || (r < 0 && errno != EINTR)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    kill(-pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

// The command's standard error, read as it comes (so that the command never
// waits for us) into the tail; what is left when the command has ended is
// read before the reader stops.
struct TunnelSocket::Carrier {
    int errors = -1;              // our end of the pipe, non-blocking
    int stop[2] = {-1, -1};       // a byte here stops the reader
    std::thread reader;

    ~Carrier() {
        if (reader.joinable()) {
            (void)!::write(stop[1], "", 1);
            reader.join();
        }
        closeFd(errors);
        closeFd(stop[0]);
        closeFd(stop[1]);
    }

    void read(errorTail& tail) {
        char buf[512];
        for (;;) {
            pollfd p[2] = {{errors, POLLIN, 0}, {stop[0], POLLIN, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return;
            ssize_t n = -1;
            for (int i = 0; i < readsPerWake && (n = ::read(errors, buf, sizeof buf)) > 0; ++i)
                tail.feed(buf, static_cast<size_t>(n));
            if (n == 0 || p[1].revents || (n < 0 && errno != EAGAIN && errno != EINTR)) return;
        }
    }

    // The pipe, and the reader started with every signal blocked (they are
    // the main thread's); false when either could not be had.
    bool open(errorTail& tail, int& childEnd) {
        int pipeEnds[2];
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
        errors = pipeEnds[0];
        childEnd = aboveStandard(pipeEnds[1]);
        if (childEnd < 0 || fcntl(errors, F_SETFL, O_NONBLOCK) != 0 || pipe2(stop, O_CLOEXEC) != 0) return false;
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &old);
        try {
            reader = std::thread([this, &tail] { read(tail); });
        } catch (...) {
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return reader.joinable();
    }
};

TunnelSocket::TunnelSocket() = default;

TunnelSocket::~TunnelSocket() {
    close();   // the child sees the end of its input first
    endChild();
}

int TunnelSocket::start(const std::vector<std::string>& args) {
    if (args.empty() || child_ || carrier_) return tunnelFailed;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    carrier_ = new Carrier;
    int errorEnd = -1;
    if (!carrier_->open(errors_, errorEnd)) {
        closeFd(errorEnd);
        endChild();
        return tunnelFailed;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        closeFd(errorEnd);
        endChild();
        return tunnelFailed;
    }
    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        ::close(pair[0]);
        ::close(pair[1]);
        closeFd(errorEnd);
        endChild();
        return tunnelFailed;
    }
    const int childEnd = aboveStandard(pair[1]);
    const pid_t parent = getpid();
    const pid_t pid = childEnd < 0 ? -1 : fork();
    if (pid == 0) runChild(childEnd, errorEnd, report[1], argv.data(), parent);
    if (childEnd >= 0) ::close(childEnd);
    closeFd(errorEnd);
    ::close(report[1]);
    if (pid < 0) {
        ::close(report[0]);
        ::close(pair[0]);
        endChild();
        return tunnelFailed;
    }
    child_ = pid;
    // The report pipe closes on a successful exec; an error number means none.
    int err = 0;
    const bool execFailed = readAll(report[0], &err, sizeof err) == static_cast<ssize_t>(sizeof err);
    ::close(report[0]);
    if (execFailed) {
        ::close(pair[0]);
        endChild();
        return tunnelFailed;
    }
    assignSocket(pair[0], Open | Connected);
    return tunnelStarted;
}

void TunnelSocket::endChild() {
    if (child_ > 0) endGroup(static_cast<pid_t>(child_));
    child_ = 0;
    // The reader takes what the command wrote last, then stops.
    delete carrier_;
    carrier_ = nullptr;
}
