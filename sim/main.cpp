// quorvex-sim: a stand-in QUORVEX server for trying the client and for tests.

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pthread.h>
#include <sys/random.h>

#include "net/secretfile.h"
#include "net/sutil.h"
#include "net/tunnel.h"
#include "sim/server.h"

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onStopSignal(int)
{
    stopRequested = 1;
}

const char usage[] =
    "Usage: quorvex-sim [options]\n"
    "A stand-in QUORVEX server with three screens (Console, Monitor, Log), and a\n"
    "fourth, Program, that shows a real program when --pty is given.\n"
    "\n"
    "  --bind=ADDR          listen address, IPv4 or IPv6 (default 127.0.0.1)\n"
    "  --port=N             listen port (default 4242; 0 picks a free one)\n"
    "  --ports=N            serve N ports, from --port on (with --port=0, N free\n"
    "                       ones), each a server of its own with its own client\n"
    "                       (default 1, at most 1000)\n"
    "  --reuse-port         listen with SO_REUSEPORT: share the port with other\n"
    "                       sockets of the same user that set it too\n"
    "  --password=TEXT      remote console password (default \"quorvex\"); not with --pty\n"
    "  --password-file=FILE the password from the first line of FILE (which group\n"
    "                       and others must not be able to read)\n"
    "  --update-ms=N        tick of the changing screens (default 1000)\n"
    "  --heartbeat-ms=N     idle header interval (default 250; 0 none)\n"
    "  --pty=COMMAND        serve COMMAND on an 80 x 25 pseudo-terminal as the first\n"
    "                       screen, Program; its words split at blanks, quoted with\n"
    "                       '...' or \"...\" (no shell); keys typed go to it. The\n"
    "                       password then comes from --password-file, or is made\n"
    "                       at random and printed once on standard error\n"
    "  --log=FILE           append every client message (and every compressed\n"
    "                       update sent) to FILE as JSON lines: every key typed,\n"
    "                       passwords included. Made 0600; a link is not followed\n"
    "  --console-name=TEXT  name of the Console screen, its bytes as given\n"
    "  --first-screen=ID    the screen a session shows first (1 Console, 2 Monitor,\n"
    "                       3 Log, 4 Program; default the first of them served)\n"
    "  --no-greeting        opening block without greeting\n"
    "  --greeting-cmd=N     command word of the greeting (default 0)\n"
    "  --no-restart         greeting word 1 = 0 (restart not offered)\n"
    "  --bad-greeting       alter one byte of the greeting text\n"
    "  --close-on-accept    close every connection right after accepting it\n"
    "  --garbage-headers    answer the start word with random headers\n"
    "  --stall              stop in the middle of a screen update\n"
    "  --oversize           send an update header with length 32767\n"
    "  --negative           send an update header with a negative length\n"
    "  --silent             accept connections, then send nothing\n"
    "  --no-read            never read what the client sends\n"
    "  --flood=SECONDS      send full updates back to back for that long after the start\n"
    "  --help               show this text\n"
    "\n"
    "Prints \"quorvex-sim listening on ADDR:PORT\" ([ADDR]:PORT for IPv6) once it\n"
    "listens, a line for each port in order; ends on SIGTERM or SIGINT.\n";

// A stop request reaches one thread: the server that saw it wakes the others.
void wakeOthers(const std::vector<pthread_t>& threads)
{
    for (pthread_t t : threads)
        if (!pthread_equal(t, pthread_self()))
            pthread_kill(t, SIGTERM);
}

// Value of "--name=value" when arg has that name, else null.
const char* valueOf(const char* arg, const char* name)
{
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) == 0 && arg[n] == '=')
        return arg + n + 1;
    return nullptr;
}

bool parseNumber(const char* text, long low, long high, long& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != 0 || v < low || v > high)
        return false;
    out = v;
    return true;
}

// Splits a command as the client splits tunnel commands, without their
// %-replacements: every '%' is doubled first so that it comes back as it is.
bool programArguments(const char* command, std::vector<std::string>& args)
{
    std::string escaped;
    for (const char* c = command; *c; ++c)
        escaped += *c == '%' ? "%%" : std::string(1, *c);
    return tunnelArguments(escaped.c_str(), "", 0, args);
}

// A password for a run that serves a program: 16 letters and digits (80
// bits) from the system's random source; empty when it gives none.
std::string randomPassword()
{
    static const char alphabet[] = "abcdefghijkmnpqrstuvwxyz23456789";   // 32, none mistaken for another
    unsigned char bytes[16];
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes))
        return "";
    std::string out;
    for (unsigned char b : bytes)
        out += alphabet[b % 32];
    wipeMemory(bytes, sizeof bytes);
    return out;
}

// A program on the pseudo-terminal is a shell for whoever has the password:
// never one that anyone may know or see in ps. 0, or 2 after a message.
int choosePassword(SimOptions& options, const char* passwordFile, bool passwordGiven)
{
    if (passwordFile) {
        char buf[256] = {};
        const std::string why = readPasswordFile(passwordFile, buf, sizeof buf);
        options.password = buf;
        wipeMemory(buf, sizeof buf);
        if (!why.empty()) {
            std::fprintf(stderr, "quorvex-sim: %s\n", why.c_str());
            return 2;
        }
        return 0;
    }
    if (options.ptyArgs.empty())
        return 0;
    if (passwordGiven) {
        std::fprintf(stderr, "quorvex-sim: --password is refused with --pty (ps shows it to every user): "
                             "use --password-file=FILE\n");
        return 2;
    }
    options.password = randomPassword();
    if (options.password.empty()) {
        std::fprintf(stderr, "quorvex-sim: no random password to be had: use --password-file=FILE\n");
        return 2;
    }
    std::fprintf(stderr, "quorvex-sim: password for this run: %s\n", options.password.c_str());
    return 0;
}

// 0 parsed, 1 help shown, 2 bad argument.
int parseArguments(int argc, char** argv, SimOptions& options, int& ports)
{
    struct Flag {
        const char* name;
        bool SimOptions::*member;
        bool value;
    };
    static const Flag flags[] = {
        {"--no-greeting", &SimOptions::greeting, false},   {"--no-restart", &SimOptions::restart, false},
        {"--bad-greeting", &SimOptions::badGreeting, true}, {"--close-on-accept", &SimOptions::closeOnAccept, true},
        {"--garbage-headers", &SimOptions::garbageHeaders, true}, {"--stall", &SimOptions::stall, true},
        {"--oversize", &SimOptions::oversize, true},       {"--negative", &SimOptions::negative, true},
        {"--silent", &SimOptions::silent, true},           {"--no-read", &SimOptions::noRead, true},
        {"--reuse-port", &SimOptions::reusePort, true},
    };
    const char* passwordFile = nullptr;
    bool passwordGiven = false;
    for (int k = 1; k < argc; ++k) {
        const char* arg = argv[k];
        const char* v = nullptr;
        long number = 0;
        bool known = false;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            std::fputs(usage, stdout);
            return 1;
        }
        for (const Flag& f : flags) {
            if (std::strcmp(arg, f.name) == 0) {
                options.*(f.member) = f.value;
                known = true;
            }
        }
        if (known)
            continue;
        if ((v = valueOf(arg, "--bind"))) {
            options.bindAddress = v;
        } else if ((v = valueOf(arg, "--password"))) {
            options.password = v;
            passwordGiven = true;
        } else if ((v = valueOf(arg, "--password-file"))) {
            passwordFile = v;
        } else if ((v = valueOf(arg, "--pty")) && programArguments(v, options.ptyArgs)) {
        } else if ((v = valueOf(arg, "--console-name"))) {
            options.consoleName = v;
        } else if ((v = valueOf(arg, "--log"))) {
            options.logPath = v;
        } else if ((v = valueOf(arg, "--port")) && parseNumber(v, 0, 65535, number)) {
            options.port = static_cast<int>(number);
        } else if ((v = valueOf(arg, "--ports")) && parseNumber(v, 1, 1000, number)) {
            ports = static_cast<int>(number);
        } else if ((v = valueOf(arg, "--first-screen")) && parseNumber(v, 1, 4, number)) {
            options.firstScreen = static_cast<uint32_t>(number);
        } else if ((v = valueOf(arg, "--update-ms")) && parseNumber(v, 10, 3600000, number)) {
            options.updateMs = static_cast<int>(number);
        } else if ((v = valueOf(arg, "--heartbeat-ms")) && parseNumber(v, 0, 3600000, number)) {
            options.heartbeatMs = static_cast<int>(number);
        } else if ((v = valueOf(arg, "--flood")) && parseNumber(v, 1, 3600, number)) {
            options.floodSeconds = static_cast<int>(number);
        } else if ((v = valueOf(arg, "--greeting-cmd")) && parseNumber(v, 0, 0xFFFFFFFFL, number)) {
            options.greetingCmd = static_cast<uint32_t>(number);
        } else {
            std::fprintf(stderr, "quorvex-sim: bad argument: %s (see --help)\n", arg);
            return 2;
        }
    }
    if (options.port > 0 && options.port + ports - 1 > 65535) {
        std::fprintf(stderr, "quorvex-sim: --ports=%d from port %d passes port 65535\n", ports, options.port);
        return 2;
    }
    return choosePassword(options, passwordFile, passwordGiven);
}

}   // namespace

int main(int argc, char** argv)
{
    SimOptions options;
    int ports = 1;
    const int parsed = parseArguments(argc, argv, options, ports);
    if (parsed != 0)
        return parsed == 1 ? 0 : 2;

    // The signals stay blocked except inside the servers' waits, so a stop
    // request is never lost between a check and a wait. Threads started
    // later inherit the mask.
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGINT);
    sigprocmask(SIG_BLOCK, &blocked, nullptr);

    std::vector<std::unique_ptr<SimServer>> servers;
    for (int i = 0; i < ports; ++i) {
        SimOptions own = options;
        if (options.port > 0)
            own.port = options.port + i;
        servers.push_back(std::make_unique<SimServer>(own));
        const int port = servers.back()->open();
        if (port < 0) {
            std::fprintf(stderr, "quorvex-sim: %s\n", servers.back()->error().c_str());
            return 1;
        }
        std::printf("quorvex-sim listening on %s\n", servers.back()->listenText(port).c_str());
    }
    std::fflush(stdout);
    // Every thread is known before any can wake the others.
    std::vector<pthread_t> threads{pthread_self()};
    std::vector<std::thread> running;
    std::mutex started;
    {
        const std::lock_guard<std::mutex> hold(started);
        for (int i = 1; i < ports; ++i) {
            running.emplace_back([&, i] {
                { const std::lock_guard<std::mutex> wait(started); }
                servers[static_cast<size_t>(i)]->run(&stopRequested);
                wakeOthers(threads);
            });
            threads.push_back(running.back().native_handle());
        }
    }
    servers[0]->run(&stopRequested);
    wakeOthers(threads);
    for (std::thread& t : running)
        t.join();
    return 0;
}
