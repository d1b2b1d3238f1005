// A tunnel command for the tests: relays its standard input and output to a
// TCP port on loopback, as "ssh -W host:port" would.
//   relay [--pidfile=FILE] [--hang] [--ignore-term] [--exit-after-sent=N] HOST PORT
// --pidfile writes "PID STDERR-TARGET" (where its standard error goes);
// --hang never connects and ignores its input (at most 60 s);
// --ignore-term ignores SIGTERM; --exit-after-sent ends the relay once N
// bytes have gone to the server.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool option(const char* arg, const char* name, std::string& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0) return false;
    value = arg + n;
    return true;
}

void writePidFile(const std::string& path) {
    char target[PATH_MAX] = "";
    const ssize_t n = readlink("/proc/self/fd/2", target, sizeof target - 1);
    if (n > 0) target[n] = 0;
    const std::string temp = path + ".tmp";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return;
    std::fprintf(f, "%ld %s\n", static_cast<long>(getpid()), target);
    std::fclose(f);
    std::rename(temp.c_str(), path.c_str());   // the reader sees all or nothing
}

// Copies what is there from one descriptor to the other; false at the end.
bool pass(int from, int to, long& count) {
    char buf[4096];
    const ssize_t n = read(from, buf, sizeof buf);
    if (n <= 0) return false;
    for (ssize_t done = 0; done < n;) {
        const ssize_t w = write(to, buf + done, static_cast<size_t>(n - done));
        if (w <= 0) return false;
        done += w;
    }
    count += n;
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
        else if (!std::strcmp(argv[i], "--ignore-term")) signal(SIGTERM, SIG_IGN);
        else if (option(argv[i], "--exit-after-sent=", value)) exitAfterSent = std::atol(value.c_str());
        else if (!host) host = argv[i];
        else port = std::atoi(argv[i]);
    }
    std::fputs("relay: this goes to standard error\n", stderr);
    if (!pidFile.empty()) writePidFile(pidFile);
    if (hang) {
        for (int i = 0; i < 600; ++i) usleep(100000);
        return 3;
    }
    if (!host || port <= 0) return 2;

    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (s < 0 || inet_pton(AF_INET, host, &a.sin_addr) != 1 ||
        connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return 1;
    long sent = 0, received = 0;
    for (;;) {
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {s, POLLIN, 0}};
        // Bounded: a relay nobody talks to for a minute ends.
        if (poll(fds, 2, 60000) <= 0) return 4;
        if (fds[0].revents && !pass(STDIN_FILENO, s, sent)) return 0;
        if (exitAfterSent >= 0 && sent >= exitAfterSent) return 0;
        if (fds[1].revents && !pass(s, STDOUT_FILENO, received)) return 0;
    }
}
