#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "batch/platform.h"
#include "console/global.h"
#include "net/linesplit.h"
#include "net/process_win32.h"
#include "net/sutil.h"

namespace {

constexpr size_t lineMax = 65536;

// The system's words for an error code, on one line.
std::string errorText(DWORD code) {
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                   sizeof text, nullptr);
    std::string out(text, n);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) out.pop_back();
    return out.empty() ? "error " + std::to_string(code) : out;
}

// What the readers of the children's pipes hand to the calling thread: a
// line, or the end of a pipe (ended). Bounded: a reader waits for room.
struct childEvent {
    size_t child;
    bool fromStderr;
    bool ended;
    std::string line;
};
class eventQueue {
public:
    void push(childEvent e) {
        std::unique_lock<std::mutex> hold(lock_);
        room_.wait(hold, [&] { return events_.size() < maxEvents; });
        events_.push_back(std::move(e));
        ready_.notify_one();
    }
    // The events so far; waits up to ms for the first.
    std::deque<childEvent> take(int ms) {
        std::unique_lock<std::mutex> hold(lock_);
        ready_.wait_for(hold, std::chrono::milliseconds(ms), [&] { return !events_.empty(); });
        std::deque<childEvent> out;
        out.swap(events_);
        room_.notify_all();
        return out;
    }

private:
    static constexpr size_t maxEvents = 4096;
    std::mutex lock_;
    std::condition_variable ready_, room_;
    std::deque<childEvent> events_;
};

// Reads a pipe to its end, line by line, then says it ended.
void readLines(HANDLE pipe, size_t child, bool fromStderr, eventQueue& events) {
    lineSplitter lines(lineMax);
    const auto hand = [&](const std::string& line) { events.push({child, fromStderr, false, line}); };
    char buf[8192];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) lines.feed(buf, n, hand);
    lines.finish(hand);
    CloseHandle(pipe);
    events.push({child, fromStderr, true, ""});
}

// A running child: its process and the two readers of its output.
struct runningChild {
    size_t index = 0;
    HANDLE process = nullptr;
    std::thread readers[2];
    int open = 2;   // pipes not yet at their end
};

// Starts one child with its output and error on pipes read by two threads
// and the input written ahead into its pipe (which holds it whole); "" when
// it runs, else why not. The pipes are made uninheritable, and only the
// child's ends become inheritable, just for its start: a child that
// inherited another's pipe would keep it open past that one's end.
std::string startChild(const std::string& program, const std::vector<std::string>& args, const char* input,
                       size_t inputLen, eventQueue& events, runningChild& c) {
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    HANDLE inRead = nullptr, inWrite = nullptr;
    DWORD written = 0;
    const bool piped = CreatePipe(&outRead, &outWrite, nullptr, 0) && CreatePipe(&errRead, &errWrite, nullptr, 0) &&
                       CreatePipe(&inRead, &inWrite, nullptr, static_cast<DWORD>(inputLen + 1)) &&
                       (inputLen == 0 || (WriteFile(inWrite, input, static_cast<DWORD>(inputLen), &written, nullptr) &&
                                          written == inputLen));
    bool started = false;
    PROCESS_INFORMATION pi{};
    if (piped) {
        for (HANDLE h : {inRead, outWrite, errWrite}) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        std::vector<std::string> line = args;
        line.insert(line.begin(), program);
        started = startProcess(program.c_str(), line, inRead, outWrite, errWrite, 0, pi);
    }
    const DWORD error = GetLastError();
    for (HANDLE h : {inWrite, inRead, outWrite, errWrite})
        if (h) CloseHandle(h);
    if (!started) {
        for (HANDLE h : {outRead, errRead})
            if (h) CloseHandle(h);
        return errorText(error);
    }
    CloseHandle(pi.hThread);
    c.process = pi.hProcess;
    c.readers[0] = std::thread(readLines, outRead, c.index, false, std::ref(events));
    c.readers[1] = std::thread(readLines, errRead, c.index, true, std::ref(events));
    return "";
}

// How a child ended, once both its pipes have.
void reap(runningChild& c, const childExitFn& onExit) {
    for (std::thread& t : c.readers) t.join();
    WaitForSingleObject(c.process, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(c.process, &code);
    CloseHandle(c.process);
    // An exit code beyond a byte is an exception that ended the child.
    if (code > 255) {
        char why[48];
        std::snprintf(why, sizeof why, "ended by exception 0x%08lX", static_cast<unsigned long>(code));
        onExit(c.index, 255, why);
    } else {
        onExit(c.index, static_cast<int>(code), "");
    }
}

}  // namespace

bool takeEnvironmentSecret(const char* name, char* buf, size_t size) {
    char* value = std::getenv(name);
    if (!value) return false;
    std::snprintf(buf, size, "%s", value);
    wipeMemory(value, std::strlen(value));
    // Out of the C runtime's copy and of the process's own block, which
    // CreateProcess hands to children.
    _putenv_s(name, "");
    SetEnvironmentVariableA(name, nullptr);
    return true;
}

std::string ownProgramPath() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return "";
    return path;
}

// At most `parallel` children at once, each read by two threads of its
// own, so that no wait on many handles is needed however many run; the
// lines and the ends come to the calling thread through one bounded queue.
void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int parallel,
                 const char* input, size_t inputLen, const childStartFn& onStart, const childLineFn& onLine,
                 const childExitFn& onExit) {
    eventQueue events;
    std::list<runningChild> running;
    size_t nextChild = 0;
    bool asked = false;
    while (nextChild < args.size() || !running.empty()) {
        while (!EXIT && nextChild < args.size() && static_cast<int>(running.size()) < parallel) {
            const size_t index = nextChild++;
            std::vector<std::string> a = args[index];
            if (!onStart(index, a)) continue;
            running.emplace_back();
            running.back().index = index;
            const std::string why = startChild(program, a, input, inputLen, events, running.back());
            if (why.empty()) continue;
            running.pop_back();
            onExit(index, childNotStarted, "could not be started: " + why);
        }
        if (EXIT && nextChild < args.size()) nextChild = args.size();
        if (EXIT && !asked) {
            for (runningChild& c : running) TerminateProcess(c.process, 128 + 15);
            asked = true;
        }
        if (running.empty()) continue;
        for (childEvent& e : events.take(1000)) {
            const auto c = std::find_if(running.begin(), running.end(), [&](const runningChild& r) { return r.index == e.child; });
            if (c == running.end()) continue;
            if (!e.ended) {
                onLine(e.child, e.fromStderr, e.line);
            } else if (--c->open == 0) {
                reap(*c, onExit);
                running.erase(c);
            }
        }
    }
}
