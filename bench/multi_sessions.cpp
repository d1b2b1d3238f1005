// Many sessions in one process: one hosted session per port given, all on
// one wait point in this one thread, with no terminal. Once every session
// shows a screen (and, with --screen=NAME, has turned to the server's screen
// NAME and shown it; within 60 s), the process is watched for a while and
// one line tells what the sessions cost together:
//   sessions N: resident K kB, cpu X ms/s, wake-ups W/s, updates U/s
// - resident: VmRSS of the process after the measuring;
// - cpu: user + system time of the process over the measuring, per second;
// - wake-ups: voluntary context switches of all its threads, per second;
// - updates: screen updates the sessions painted, per second.
// Exits with 1 when a session never shows a screen or ends meanwhile.
// Usage: multi_sessions [--seconds=S] [--screen=NAME] [--ports-file=FILE] [PORT...]
//        (FILE: ports separated by blanks or lines)
#include <dirent.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "client/sessionhost.h"
#include "console/waitpoint.h"
#include "crypto/md5c.h"

namespace {

constexpr int screenWaitMs = 60000;

// Counts the updates painted into a session's screen, and those since the
// server last turned it to another screen.
class updateCounter final : public screenWatcher {
public:
    long long updates = 0;
    long long sinceShown = 0;
    void rowsChanged(const remoteScreen&, const bool (&)[screenRows]) override { painted(); }
    void cursorMoved(const remoteScreen&) override { painted(); }
    void screenShown(const remoteScreen&) override { sinceShown = 0; }

private:
    void painted() {
        ++updates;
        ++sinceShown;
    }
};

// A number of /proc/self/status or of a thread's status ("VmRSS:"); -1 when
// it is not there.
long long statusField(const std::string& path, const char* name) {
    std::ifstream in(path);
    const size_t len = std::strlen(name);
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, len, name) == 0) return std::atoll(line.c_str() + len);
    return -1;
}

// Voluntary context switches of all the process's threads so far.
long long wakeUps() {
    long long n = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks) return -1;
    while (const dirent* t = readdir(tasks))
        if (t->d_name[0] != '.')
            n += std::max(0LL, statusField(std::string("/proc/self/task/") + t->d_name + "/status",
                                           "voluntary_ctxt_switches:"));
    closedir(tasks);
    return n;
}

double cpuMs() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(use.ru_utime) + ms(use.ru_stime);
}

bool addPort(std::vector<int>& ports, const std::string& word) {
    char* end = nullptr;
    const long port = std::strtol(word.c_str(), &end, 10);
    if (word.empty() || *end != '\0' || port < 1 || port > 65535) {
        std::fprintf(stderr, "multi_sessions: not a port: %s\n", word.c_str());
        return false;
    }
    ports.push_back(static_cast<int>(port));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 10;
    std::string screen;
    std::vector<int> ports;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--seconds=", 0) == 0) {
            seconds = std::atof(arg.c_str() + 10);
            if (seconds <= 0 || seconds > 3600) {
                std::fprintf(stderr, "multi_sessions: --seconds wants 0 < S <= 3600\n");
                return 2;
            }
        } else if (arg.rfind("--screen=", 0) == 0) {
            screen = arg.substr(9);
        } else if (arg.rfind("--ports-file=", 0) == 0) {
            std::ifstream in(arg.substr(13));
            if (!in) {
                std::fprintf(stderr, "multi_sessions: cannot read %s\n", arg.c_str() + 13);
                return 2;
            }
            for (std::string word; in >> word;)
                if (!addPort(ports, word)) return 2;
        } else if (!addPort(ports, arg)) {
            return 2;
        }
    }
    if (ports.empty()) {
        std::fprintf(stderr, "usage: multi_sessions [--seconds=S] [--screen=NAME] [--ports-file=FILE] [PORT...]\n");
        return 2;
    }

    // The counters outlive the sessions that tell them.
    waitPoint waits;
    std::vector<updateCounter> counters(ports.size());
    sessionHost host(waits);
    for (size_t i = 0; i < ports.size(); ++i) {
        hostedSession& s = host.add("port " + std::to_string(ports[i]));
        s.session.feed.subscribe(&counters[i]);
        unsigned char key[16];
        passwordDigest(key, "quorvex");
        if (!s.open("127.0.0.1", ports[i], key)) {
            std::fprintf(stderr, "multi_sessions: no connection to port %d\n", ports[i]);
            return 1;
        }
    }
    // Whether session i shows what is measured; turns it to that screen once
    // the server has listed it.
    auto ready = [&](size_t i) {
        hostedSession& s = *host.sessions()[i];
        // The first update may follow the header that establishes the session.
        if (!s.session.sessionEstablished || counters[i].updates == 0) return false;
        if (screen.empty()) return true;
        if (s.session.feed.screen().screenName == screen) return counters[i].sinceShown > 0;
        const uint32_t id = s.findScreenByName(screen);
        if (id != 0 && static_cast<uint32_t>(s.session.currentScreenId) != id) s.selectScreen(id);
        return false;
    };
    auto allReady = [&] {
        size_t n = 0;
        for (size_t i = 0; i < ports.size(); ++i) n += ready(i) ? 1 : 0;
        return n == ports.size();
    };
    host.runUntil(allReady, screenWaitMs);
    size_t without = 0;
    for (size_t i = 0; i < ports.size(); ++i) without += ready(i) ? 0 : 1;
    if (without > 0 || host.running() != ports.size()) {
        std::fprintf(stderr, "multi_sessions: %zu of %zu sessions showed no screen%s%s, %zu ended\n", without,
                     ports.size(), screen.empty() ? "" : " named ", screen.c_str(), ports.size() - host.running());
        return 1;
    }

    long long updatesBefore = 0;
    for (const updateCounter& c : counters) updatesBefore += c.updates;
    const long long wakeBefore = wakeUps();
    const double cpuBefore = cpuMs();
    const auto start = std::chrono::steady_clock::now();
    host.runUntil([] { return false; }, static_cast<int>(seconds * 1000));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuMs() - cpuBefore;
    const long long wake = wakeUps() - wakeBefore;
    long long updates = -updatesBefore;
    for (const updateCounter& c : counters) updates += c.updates;
    if (host.running() != ports.size()) {
        std::fprintf(stderr, "multi_sessions: %zu of %zu sessions ended while measured\n",
                     ports.size() - host.running(), ports.size());
        return 1;
    }
    std::printf("sessions %zu: resident %lld kB, cpu %.2f ms/s, wake-ups %.1f/s, updates %.1f/s\n", ports.size(),
                statusField("/proc/self/status", "VmRSS:"), cpu / elapsed, static_cast<double>(wake) / elapsed,
                static_cast<double>(updates) / elapsed);
    return 0;
}
