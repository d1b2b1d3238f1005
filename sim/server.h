#pragma once
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/screens.h"

class ProgramScreen;

// How the stand-in server behaves; filled from the command line.
struct SimOptions {
    std::string bindAddress = "127.0.0.1";   // an IPv4 or IPv6 literal
    int port = 4242;                 // 0: any free port
    bool reusePort = false;          // SO_REUSEPORT on the listening socket
    std::string password = "quorvex";
    bool greeting = true;            // byte 127 of the opening block is '0'
    uint32_t greetingCmd = 0;
    bool restart = true;             // greeting word 1
    bool badGreeting = false;        // one byte of the greeting text altered
    int updateMs = 1000;             // tick of the changing screens
    int heartbeatMs = 250;           // 0: no heartbeat
    // Failures for client tests.
    bool closeOnAccept = false;
    bool garbageHeaders = false;
    bool stall = false;
    bool oversize = false;
    bool negative = false;
    bool silent = false;             // accept, then send nothing at all
    bool noRead = false;             // never read what the client sends
    int floodSeconds = 0;            // full updates back to back, not waiting for acknowledgements
    std::string logPath;
    std::string consoleName = "Console";   // any bytes: a server's names are its own
    uint32_t firstScreen = 0;        // the screen a session shows first (0: the first served)
    std::vector<std::string> ptyArgs;   // a program to serve on a pseudo-terminal
};

// One JSON object per line, flushed at once so readers see it while we run.
class JsonLog {
public:
    JsonLog() = default;
    ~JsonLog();
    JsonLog(const JsonLog&) = delete;
    JsonLog& operator=(const JsonLog&) = delete;

    bool open(const std::string& path);
    void line(const std::string& json);

private:
    std::FILE* file_ = nullptr;
};

// The server: a listening socket and one client at a time.
class SimServer {
public:
    explicit SimServer(const SimOptions& options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Binds and listens; returns the port, or -1 with a message in error().
    int open();
    const std::string& error() const { return error_; }
    // Address and port as the start-up line shows them: 127.0.0.1:4242, or
    // [::1]:4242 for IPv6.
    std::string listenText(int port) const;
    // Serves clients until *stop becomes non-zero. SIGTERM and SIGINT must be
    // blocked by the caller; the waits unblock them so that they end the run.
    int run(volatile std::sig_atomic_t* stop);

private:
    friend class SimSession;
    using TimePoint = std::chrono::steady_clock::time_point;

    // Advances the changing screens when their tick is due.
    void tickIfDue();
    // Takes in the served program's output; watched: a client is shown it.
    void serveProgram(bool watched);
    // What to wait on for the program's output, or -1.
    int programFd() const;

    SimOptions options_;
    std::string error_;
    int listenFd_ = -1;
    JsonLog log_;
    ScreenSet screens_;
    ProgramScreen* program_ = nullptr;   // in screens_, when there is one
    unsigned char digest_[16];       // key for the next connection
    TimePoint started_;
    TimePoint nextTick_;
    uint64_t ticks_ = 0;
};
