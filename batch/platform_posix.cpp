#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "batch/platform.h"
#include "console/global.h"
#include "net/linesplit.h"
#include "net/sutil.h"

namespace {

constexpr size_t lineMax = 65536;

// A pipe whose ends are closed with it unless taken.
struct pipeEnds {
    int r = -1, w = -1;
    bool make() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        r = fds[0];
        w = fds[1];
        return true;
    }
    static void shut(int& fd) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
    int take(int& fd) {
        const int t = fd;
        fd = -1;
        return t;
    }
    ~pipeEnds() {
        shut(r);
        shut(w);
    }
};

// In a started child: fd becomes target, without the close-on-exec flag.
void moveTo(int fd, int target) {
    if (fd == target) fcntl(fd, F_SETFD, 0);
    else dup2(fd, target);
}

struct child {
    size_t index = 0;
    pid_t pid = -1;
    int fds[2] = {-1, -1};   // standard output, standard error
    lineSplitter lines[2] = {lineSplitter(lineMax), lineSplitter(lineMax)};
    bool asked = false;
};

// Starts one child with its output and error on pipes and input on its
// standard input (written ahead into the pipe, which holds it whole); ""
// when it runs, else why it could not start.
std::string start(const std::string& program, const std::vector<std::string>& args, const char* input,
                  size_t inputLen, child& c) {
    pipeEnds in, out, err, failed;
    if (!in.make() || !out.make() || !err.make() || !failed.make()) return std::strerror(errno);
    if (inputLen > 0 && write(in.w, input, inputLen) != static_cast<ssize_t>(inputLen)) return std::strerror(errno);
    pipeEnds::shut(in.w);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        moveTo(in.r, 0);
        moveTo(out.w, 1);
        moveTo(err.w, 2);
        // Ignored by the parent, which an exec would keep.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGXFSZ, &byDefault, nullptr);
        execv(program.c_str(), argv.data());
        // Why exec failed, through a pipe that a successful exec closes.
        const int error = errno;
        [[maybe_unused]] const ssize_t told = write(failed.w, &error, sizeof error);
        _exit(127);
    }
    if (pid < 0) return std::strerror(errno);
    pipeEnds::shut(failed.w);
    int error = 0;
    ssize_t n;
    while ((n = read(failed.r, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof error)) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return program + ": " + std::strerror(error);
    }
    c.pid = pid;
    c.fds[0] = out.take(out.r);
    c.fds[1] = err.take(err.r);
    return "";
}

// Hands out the complete lines read; at the end (n <= 0) the rest too.
void takeOutput(child& c, int which, const char* data, ssize_t n, const childLineFn& onLine) {
    const auto hand = [&](const std::string& line) { onLine(c.index, which == 1, line); };
    if (n <= 0) c.lines[which].finish(hand);
    else c.lines[which].feed(data, static_cast<size_t>(n), hand);
}

}  // namespace

bool takeEnvironmentSecret(const char* name, char* buf, size_t size) {
    char* value = std::getenv(name);
    if (!value) return false;
    std::snprintf(buf, size, "%s", value);
    // The environment's own copy too, which /proc/PID/environ shows.
    wipeMemory(value, std::strlen(value));
    unsetenv(name);
    return true;
}

std::string ownProgramPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = 0;
    return path;
}

void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int parallel,
                 const char* input, size_t inputLen, const childStartFn& onStart, const childLineFn& onLine,
                 const childExitFn& onExit) {
    std::vector<child> running;
    size_t nextChild = 0;
    while (nextChild < args.size() || !running.empty()) {
        while (!EXIT && nextChild < args.size() && static_cast<int>(running.size()) < parallel) {
            child c;
            c.index = nextChild;
            std::vector<std::string> a = args[nextChild++];
            if (!onStart(c.index, a)) continue;
            const std::string why = start(program, a, input, inputLen, c);
            if (why.empty()) running.push_back(std::move(c));
            else onExit(c.index, childNotStarted, "could not be started: " + why);
        }
        if (EXIT && nextChild < args.size()) nextChild = args.size();
        if (running.empty()) continue;
        std::vector<pollfd> fds;
        std::vector<std::pair<size_t, int>> owner;
        for (size_t i = 0; i < running.size(); ++i)
            for (int w = 0; w < 2; ++w)
                if (running[i].fds[w] >= 0) {
                    fds.push_back(pollfd{running[i].fds[w], POLLIN, 0});
                    owner.emplace_back(i, w);
                }
        const int ready = poll(fds.data(), fds.size(), 1000);
        if (EXIT)
            for (child& c : running)
                if (!c.asked && c.pid > 0) {
                    kill(c.pid, SIGTERM);
                    c.asked = true;
                }
        if (ready < 0 && errno != EINTR) break;
        for (size_t k = 0; ready > 0 && k < fds.size(); ++k) {
            if (!(fds[k].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
            child& c = running[owner[k].first];
            const int w = owner[k].second;
            char buf[8192];
            const ssize_t n = read(c.fds[w], buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            takeOutput(c, w, buf, n, onLine);
            if (n <= 0) {
                close(c.fds[w]);
                c.fds[w] = -1;
            }
        }
        for (size_t i = running.size(); i-- > 0;) {
            child& c = running[i];
            if (c.fds[0] >= 0 || c.fds[1] >= 0) continue;
            int status = 0;
            while (waitpid(c.pid, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFSIGNALED(status)) {
                const int sig = WTERMSIG(status);
                const char* name = strsignal(sig);
                onExit(c.index, 128 + sig, "ended by signal " + std::to_string(sig) + (name ? std::string(" (") + name + ")" : ""));
            } else {
                onExit(c.index, WEXITSTATUS(status), "");
            }
            running.erase(running.begin() + static_cast<long>(i));
        }
    }
}
