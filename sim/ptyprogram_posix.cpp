#include "sim/ptyprogram.h"

#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

// Waits up to timeout for pid to end; true once it is reaped.
bool reapWithin(pid_t pid, std::chrono::milliseconds timeout, int& status)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}   // namespace

PtyProgram::~PtyProgram()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (pid_ > 0) {
        int status = 0;
        kill(pid_, SIGHUP);
        if (!reapWithin(pid_, std::chrono::milliseconds(500), status)) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
    }
}

bool PtyProgram::start(const std::vector<std::string>& args, int rows, int cols, std::string& error)
{
    if (args.empty()) {
        error = "no program given";
        return false;
    }
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = static_cast<unsigned short>(rows);
    size.ws_col = static_cast<unsigned short>(cols);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
    if (pid < 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // The server's blocked and ignored signals must not reach the program.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
            signal(s, SIG_DFL);
        closefrom(3);
        setenv("TERM", "xterm", 1);
        execvp(argv[0], argv.data());
        std::fprintf(stderr, "quorvex-sim: cannot run %s: %s\r\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fd_ = master;
    pid_ = pid;
    return true;
}

long PtyProgram::read(char* buffer, size_t size)
{
    if (fd_ < 0)
        return -1;
    const ssize_t n = ::read(fd_, buffer, size);
    if (n > 0)
        return static_cast<long>(n);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    // EIO: every holder of the terminal's other side has closed it.
    ::close(fd_);
    fd_ = -1;
    return -1;
}

void PtyProgram::write(const char* data, size_t size)
{
    while (fd_ >= 0 && size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n <= 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<size_t>(n);
    }
}

std::string PtyProgram::reap()
{
    int status = 0;
    // The terminal closes as the program exits; its exit status follows at once.
    if (pid_ <= 0 || !reapWithin(pid_, std::chrono::milliseconds(200), status))
        return "";
    pid_ = -1;
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "exit status " + std::to_string(WEXITSTATUS(status));
}
