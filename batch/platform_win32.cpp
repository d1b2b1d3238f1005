#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "batch/platform.h"
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

// Reads a pipe to its end, line by line.
void readLines(HANDLE pipe, size_t child, bool fromStderr, const childLineFn& onLine, std::mutex& lock) {
    lineSplitter lines(lineMax);
    const auto hand = [&](const std::string& line) {
        std::lock_guard<std::mutex> hold(lock);
        onLine(child, fromStderr, line);
    };
    char buf[8192];
    DWORD n = 0;
    while (ReadFile(pipe, buf, sizeof buf, &n, nullptr) && n > 0) lines.feed(buf, n, hand);
    lines.finish(hand);
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

// The sessions run one after another here: a child's output is read to its
// end on two threads, then the next one starts. `parallel` is not used.
void runChildren(const std::string& program, const std::vector<std::vector<std::string>>& args, int,
                 const char* input, size_t inputLen, const childStartFn& onStart, const childLineFn& onLine,
                 const childExitFn& onExit) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::vector<std::string> a = args[i];
        if (!onStart(i, a)) continue;
        a.insert(a.begin(), program);
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
        HANDLE inRead = nullptr, inWrite = nullptr;
        DWORD written = 0;
        // The input goes into its pipe ahead (the pipe holds it whole).
        const bool piped = CreatePipe(&outRead, &outWrite, &inherit, 0) && CreatePipe(&errRead, &errWrite, &inherit, 0) &&
                           CreatePipe(&inRead, &inWrite, &inherit, static_cast<DWORD>(inputLen + 1)) &&
                           (inputLen == 0 || (WriteFile(inWrite, input, static_cast<DWORD>(inputLen), &written, nullptr) &&
                                              written == inputLen));
        if (inWrite) CloseHandle(inWrite);
        if (!piped) {
            const std::string why = "could not be started: " + errorText(GetLastError());
            for (HANDLE h : {outRead, outWrite, errRead, errWrite, inRead})
                if (h) CloseHandle(h);
            onExit(i, childNotStarted, why);
            continue;
        }
        SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
        SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
        PROCESS_INFORMATION pi{};
        const bool started = startProcess(program.c_str(), a, inRead, outWrite, errWrite, 0, pi);
        const DWORD startError = GetLastError();
        CloseHandle(outWrite);
        CloseHandle(errWrite);
        CloseHandle(inRead);
        if (!started) {
            CloseHandle(outRead);
            CloseHandle(errRead);
            onExit(i, childNotStarted, "could not be started: " + errorText(startError));
            continue;
        }
        std::mutex lock;
        std::thread errors([&] { readLines(errRead, i, true, onLine, lock); });
        readLines(outRead, i, false, onLine, lock);
        errors.join();
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 1;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        CloseHandle(outRead);
        CloseHandle(errRead);
        // An exit code beyond a byte is an exception that ended the child.
        if (code > 255) {
            char why[48];
            std::snprintf(why, sizeof why, "ended by exception 0x%08lX", static_cast<unsigned long>(code));
            onExit(i, 255, why);
        } else {
            onExit(i, static_cast<int>(code), "");
        }
    }
}
