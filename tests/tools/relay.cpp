// A tunnel command for the tests: relays its standard input and output to a
// TCP port on loopback, as "ssh -W host:port" would. Built for both builds.
//   relay [--pidfile=FILE] [--hang] [--ignore-term] [--exit-after-sent=N] HOST PORT
// --pidfile writes "PID STDERR-TARGET FDS" (where its standard error goes,
// and the descriptors it inherited, as "0,1,2"; "-" for each on Windows); --hang never connects and ignores its input (at most 60 s);
// --ignore-term ignores SIGTERM; --exit-after-sent ends the relay once N
// bytes have gone to the server.
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

#ifdef _WIN32
using Sock = SOCKET;
long processId() { return static_cast<long>(GetCurrentProcessId()); }
std::string stderrTarget() { return "-"; }
std::string openDescriptors() { return "-"; }
int readInput(char* buf, int len) {
    DWORD n = 0;
    return ReadFile(GetStdHandle(STD_INPUT_HANDLE), buf, static_cast<DWORD>(len), &n, nullptr) ? static_cast<int>(n) : -1;
}
bool writeOutput(const char* buf, int len) {
    DWORD n = 0;
    for (int at = 0; at < len; at += static_cast<int>(n))
        if (!WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buf + at, static_cast<DWORD>(len - at), &n, nullptr)) return false;
    return true;
}
#else
using Sock = int;
long processId() { return static_cast<long>(getpid()); }
std::string stderrTarget() {
    char target[PATH_MAX] = "";
    const ssize_t n = readlink("/proc/self/fd/2", target, sizeof target - 1);
    if (n > 0) target[n] = 0;
    return target;
}
std::string openDescriptors() {
    std::string list;
    for (int fd = 0; fd < 1024; ++fd)
        if (fcntl(fd, F_GETFD) >= 0) list += (list.empty() ? "" : ",") + std::to_string(fd);
    return list;
}
int readInput(char* buf, int len) { return static_cast<int>(read(STDIN_FILENO, buf, static_cast<size_t>(len))); }
bool writeOutput(const char* buf, int len) {
    for (int at = 0; at < len;) {
        const ssize_t n = write(STDOUT_FILENO, buf + at, static_cast<size_t>(len - at));
        if (n <= 0) return false;
        at += static_cast<int>(n);
    }
    return true;
}
#endif

bool option(const char* arg, const char* name, std::string& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0) return false;
    value = arg + n;
    return true;
}

void writePidFile(const std::string& path) {
    const std::string temp = path + ".tmp";
    const std::string inherited = openDescriptors();
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%ld %s %s\n", processId(), stderrTarget().c_str(), inherited.c_str());
    std::fclose(f);
    std::remove(path.c_str());
    std::rename(temp.c_str(), path.c_str());   // the reader sees all or nothing
}

bool sendAll(Sock s, const char* buf, int len) {
    for (int at = 0; at < len;) {
        const int n = static_cast<int>(send(s, buf + at, len - at, 0));
        if (n <= 0) return false;
        at += n;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string pidFile, value;
    bool hang = false;
    long exitAfterSent = -1;
    const char* host = nullptr;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        if (option(argv[i], "--pidfile=", value)) pidFile = value;
        else if (!std::strcmp(argv[i], "--hang")) hang = true;
#ifndef _WIN32
        else if (!std::strcmp(argv[i], "--ignore-term")) signal(SIGTERM, SIG_IGN);
#endif
        else if (option(argv[i], "--exit-after-sent=", value)) exitAfterSent = std::atol(value.c_str());
        else if (!host) host = argv[i];
        else port = std::atoi(argv[i]);
    }
    std::fputs("relay: this goes to standard error\n", stderr);
    std::fflush(stderr);
    if (!pidFile.empty()) writePidFile(pidFile);
    if (hang) {
        std::this_thread::sleep_for(std::chrono::seconds(60));
        return 3;
    }
    if (!host || port <= 0) return 2;
#ifdef _WIN32
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 1;
#endif
    const Sock s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<unsigned short>(port));
    a.sin_addr.s_addr = inet_addr(host);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 1;

    // Towards the server on a thread of its own; either direction ending
    // ends the relay.
    std::thread([s, exitAfterSent] {
        char buf[4096];
        long sent = 0;
        for (;;) {
            const int n = readInput(buf, sizeof buf);
            if (n <= 0 || !sendAll(s, buf, n)) std::_Exit(0);
            sent += n;
            if (exitAfterSent >= 0 && sent >= exitAfterSent) std::_Exit(0);
        }
    }).detach();
    char buf[4096];
    for (;;) {
        const int n = static_cast<int>(recv(s, buf, sizeof buf, 0));
        if (n <= 0 || !writeOutput(buf, n)) std::_Exit(0);
    }
}
