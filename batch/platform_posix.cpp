#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "batch/platform.h"
#include "console/global.h"
#include "client/startup.h"
#include "console/keyboard_curses.h"

namespace {

constexpr size_t lineMax = 65536;

struct child {
    size_t index = 0;
    pid_t pid = -1;
    int fds[2] = {-1, -1};   // standard output, standard error
    std::string partial[2];
    bool asked = false;
};

// Starts one child with its output and error on pipes; false when it cannot.
bool start(const std::string& program, const std::vector<std::string>& args, child& c) {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return false;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return false;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        // Ignored by the parent, which an exec would keep.
        struct sigaction byDefault {};
        byDefault.sa_handler = SIG_DFL;
        sigaction(SIGXFSZ, &byDefault, nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return false;
    }
    c.pid = pid;
    c.fds[0] = out[0];
    c.fds[1] = err[0];
    return true;
}

// Hands out the complete lines read; at the end (n == 0) the rest too.
void takeOutput(child& c, int which, const char* data, ssize_t n, const childLineFn& onLine) {
    std::string& p = c.partial[which];
    if (n <= 0) {
        if (!p.empty()) onLine(c.index, which == 1, p);
        p.clear();
        return;
    }
    p.append(data, static_cast<size_t>(n));
    size_t at = 0, nl;
    while ((nl = p.find('\n', at)) != std::string::npos) {
        onLine(c.index, which == 1, p.substr(at, nl - at));
        at = nl + 1;
    }
    p.erase(0, at);
    while (p.size() >= lineMax) {
        onLine(c.index, which == 1, p.substr(0, lineMax));
        p.erase(0, lineMax);
    }
}

}  // namespace

void batchKeysInit() { keyboardInputInit(nullptr); }

void batchSignalsInit() { installSignalHandlers(); }

std::string ownProgramPath() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return "";
    path[n] = 0;
    return path;
}

void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int parallel,
                 const childStartFn& onStart, const childLineFn& onLine, const childExitFn& onExit) {
    std::vector<child> running;
    size_t nextChild = 0;
    while (nextChild < args.size() || !running.empty()) {
        while (!EXIT && nextChild < args.size() && static_cast<int>(running.size()) < parallel) {
            child c;
            c.index = nextChild;
            std::vector<std::string> a = args[nextChild++];
            if (!onStart(c.index, a)) continue;
            if (start(program, a, c)) running.push_back(std::move(c));
            else onExit(c.index, -1);
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
            onExit(c.index, WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0));
            running.erase(running.begin() + static_cast<long>(i));
        }
    }
}
