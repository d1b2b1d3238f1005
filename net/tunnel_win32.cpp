// The child of a tunnel on Windows: pipes for its standard input, output and
// error, a job object that ends it (and all it starts) with the session or
// the program, two threads that copy between the pipes and one end of a
// loopback TCP pair, whose other end the session uses, and one that reads
// its standard error.

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <thread>

#include "net/flags.h"
#include "net/process_win32.h"
#include "net/tunnel.h"

namespace {

constexpr DWORD endWaitMs = 1000;

void closeHandle(HANDLE& h) {
    if (h && h != INVALID_HANDLE_VALUE) CloseHandle(h);
    h = nullptr;
}

void notInherited(SOCKET s) { SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

// A connected pair of loopback TCP sockets; false when none could be made.
// The accepted end must be the one connected here, not some other local
// program that was quicker.
bool loopbackPair(SOCKET& ours, SOCKET& theirs) {
    ours = theirs = INVALID_SOCKET;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == INVALID_SOCKET) return false;
    notInherited(listener);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof at;
    bool ok = bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 && listen(listener, 1) == 0 &&
              getsockname(listener, reinterpret_cast<sockaddr*>(&at), &len) == 0;
    if (ok) {
        ours = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        ok = ours != INVALID_SOCKET;
    }
    if (ok) {
        notInherited(ours);
        ok = connect(ours, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
    }
    if (ok) {
        theirs = accept(listener, nullptr, nullptr);
        ok = theirs != INVALID_SOCKET;
    }
    if (ok) {
        notInherited(theirs);
        sockaddr_in mine{}, peer{};
        int a = sizeof mine, b = sizeof peer;
        ok = getsockname(ours, reinterpret_cast<sockaddr*>(&mine), &a) == 0 &&
             getpeername(theirs, reinterpret_cast<sockaddr*>(&peer), &b) == 0 && mine.sin_port == peer.sin_port &&
             mine.sin_addr.s_addr == peer.sin_addr.s_addr;
    }
    closesocket(listener);
    if (!ok) {
        if (ours != INVALID_SOCKET) closesocket(ours);
        if (theirs != INVALID_SOCKET) closesocket(theirs);
        ours = theirs = INVALID_SOCKET;
    }
    return ok;
}

}  // namespace

struct TunnelSocket::Carrier {
    HANDLE job = nullptr;
    HANDLE process = nullptr;
    HANDLE toChild = nullptr;     // write end of the child's standard input
    HANDLE fromChild = nullptr;   // read end of its standard output
    HANDLE fromErrors = nullptr;  // read end of its standard error
    SOCKET theirs = INVALID_SOCKET;
    std::thread in, out, errors;

    ~Carrier() {
        // The child goes first: that breaks a copy blocked on its pipes.
        if (job) TerminateJobObject(job, 1);
        if (process) WaitForSingleObject(process, endWaitMs);
        if (theirs != INVALID_SOCKET) ::shutdown(theirs, SD_BOTH);
        if (in.joinable()) in.join();
        if (out.joinable()) out.join();
        if (errors.joinable()) errors.join();
        if (theirs != INVALID_SOCKET) ::closesocket(theirs);
        closeHandle(toChild);
        closeHandle(fromChild);
        closeHandle(fromErrors);
        closeHandle(process);
        closeHandle(job);
    }

    // The session's bytes to the child, until either side ends.
    void copyIn() {
        char buf[4096];
        for (;;) {
            const int n = ::recv(theirs, buf, sizeof buf, 0);
            if (n <= 0) break;
            DWORD done = 0;
            for (int at = 0; at < n; at += static_cast<int>(done))
                if (!WriteFile(toChild, buf + at, static_cast<DWORD>(n - at), &done, nullptr)) return;
        }
        CloseHandle(toChild);   // the child sees the end of its input
        toChild = nullptr;
    }
    // The child's output to the session; its end is the server closing.
    void copyOut() {
        char buf[4096];
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(fromChild, buf, sizeof buf, &n, nullptr) || n == 0) break;
            for (DWORD at = 0; at < n;) {
                const int sent = ::send(theirs, buf + at, static_cast<int>(n - at), 0);
                if (sent <= 0) return;
                at += static_cast<DWORD>(sent);
            }
        }
        ::shutdown(theirs, SD_SEND);
    }
    // The child's standard error into the tail, until the child and all it
    // started have ended.
    void readErrors(errorTail& tail) {
        char buf[512];
        DWORD n = 0;
        while (ReadFile(fromErrors, buf, sizeof buf, &n, nullptr) && n > 0) tail.feed(buf, n);
    }
};

TunnelSocket::TunnelSocket() = default;

TunnelSocket::~TunnelSocket() {
    close();   // the copy towards the child sees the end first
    endChild();
}

int TunnelSocket::start(const std::vector<std::string>& args) {
    if (args.empty() || carrier_) return tunnelFailed;

    auto* c = new Carrier;
    carrier_ = c;
    SOCKET ours = INVALID_SOCKET;
    if (!loopbackPair(ours, c->theirs)) return tunnelFailed;
    assignSocket(static_cast<int>(ours), Open | Connected);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childIn = nullptr, childOut = nullptr, childErrors = nullptr;
    bool ok = CreatePipe(&childIn, &c->toChild, &inherit, 0) && CreatePipe(&c->fromChild, &childOut, &inherit, 0) &&
              CreatePipe(&c->fromErrors, &childErrors, &inherit, 0);
    // Only the child's own ends are inherited.
    if (ok) ok = SetHandleInformation(c->toChild, HANDLE_FLAG_INHERIT, 0) &&
                 SetHandleInformation(c->fromChild, HANDLE_FLAG_INHERIT, 0) &&
                 SetHandleInformation(c->fromErrors, HANDLE_FLAG_INHERIT, 0);
    if (ok) {
        c->job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ok = c->job && SetInformationJobObject(c->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    PROCESS_INFORMATION child{};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (ok) ok = startProcess(nullptr, args, childIn, childOut, childErrors, CREATE_SUSPENDED | CREATE_NO_WINDOW, child);
    closeHandle(childIn);
    closeHandle(childOut);
    closeHandle(childErrors);
    if (!ok) return tunnelFailed;
    c->process = child.hProcess;
    child_ = static_cast<long>(child.dwProcessId);
    if (!AssignProcessToJobObject(c->job, child.hProcess)) {
        TerminateProcess(child.hProcess, 1);
        CloseHandle(child.hThread);
        return tunnelFailed;
    }
    ResumeThread(child.hThread);
    CloseHandle(child.hThread);
    c->in = std::thread([c] { c->copyIn(); });
    c->out = std::thread([c] { c->copyOut(); });
    c->errors = std::thread([c, this] { c->readErrors(errors_); });
    return tunnelStarted;
}

void TunnelSocket::endChild() {
    delete carrier_;
    carrier_ = nullptr;
    child_ = 0;
}
