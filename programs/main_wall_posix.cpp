// The console wall: one session kept open for every matching server, all on
// one wait point in this one thread; their screens go to the wall's hub
// (and, with --log-dir, to the log folder) through a watcher each, and our
// web server serves the wall's page and stream from the hub. A search runs
// here too, between two turns of the wait point, since the histories are
// this thread's.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch/secrets.h"
#include "client/cfgplace.h"
#include "client/cmain.h"
#include "client/sessionhost.h"
#include "console/cp437.h"
#include "console/global.h"
#include "console/term.h"
#include "history/history.h"
#include "net/sutil.h"
#include "programs/main_batch.h"
#include "programs/main_startup.h"
#include "programs/main_wall.h"
#include "screen/formats.h"
#include "share/token.h"
#include "share/webserver.h"
#include "share/webshare.h"
#include "wall/wallhub.h"
#include "wall/walllog.h"
#include "wall/wallpage.h"
#include "wall/wallsearch.h"

namespace {

enum : int { exitDone = 0, exitUsage = 2 };
// How long ending every session may take, and a search may wait for this
// thread.
constexpr int endingMs = 10000;
constexpr auto searchWait = std::chrono::seconds(5);
// Descriptors besides the consoles': the standard ones, the web server's
// listening socket and connections (its streams, the idle connections it
// bears and a few page loads), the wait's own, and some to spare.
constexpr long long sparedFiles = 3 + 1 + webStreamsMax + 100 + 8 + 2 + 16;

struct wallOptions {
    std::string address;   // --wall=ADDR:PORT
    std::vector<std::string> servers;
    std::string config, passwordFile, masterFile, logDir, tokenFile, proxy;
    bool direct = false;
    long long logLimitMb = wallLogLimitMbDefault;
};

void printWallUsage() {
    std::fputs("Usage: quorcli --wall[=ADDR:PORT] --server=PATTERN... [--proxy=NAME | --direct]\n"
               "               [--config=FILE] [--password-file=FILE] [--master-password-file=FILE]\n"
               "               [--log-dir=DIR] [--log-limit=MB] [--token-file=FILE]\n"
               "Shows the consoles of every matching server live on one page in a browser,\n"
               "and keeps each session open, reconnecting, until SIGTERM or SIGINT.\n"
               "\n"
               "  --wall[=ADDR:PORT]   where the page is served (default 127.0.0.1, a free port)\n"
               "  --server=PATTERN     the server entries to show, as in batch mode; may repeat\n"
               "  --proxy=NAME         through the proxy or tunnel entry NAME (default: directly)\n"
               "  --log-dir=DIR        keep every console on disk: DIR/<server>/ per day\n"
               "  --log-limit=MB       at most MB a console in DIR (default 100)\n"
               "  --token-file=FILE    keep the page's token across runs (made 0600 if missing)\n"
               "  --password-file=FILE, --master-password-file=FILE  as in batch mode\n",
               stdout);
}

// "--name=VALUE": the value, when arg is that option.
bool valueOf(const char* arg, const char* name, std::string& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    value = arg + n + 1;
    return true;
}

// The options, or why they cannot be taken.
std::string readWallOptions(int argc, char** argv, wallOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        std::string v;
        if (!a || std::strcmp(a, "--wall") == 0) continue;
        if (std::strcmp(a, "--direct") == 0) {
            o.direct = true;
            continue;
        }
        if (valueOf(a, "--wall", v)) {
            std::string host;
            int port = 0;
            if (const std::string wrong = parseShareAddress(v, host, port); !wrong.empty())
                return "--wall=" + v + ": " + wrong;
            if (const std::string warning = shareAddressWarning(host); !warning.empty())
                std::fprintf(stderr, "quorcli: warning: %s\n", warning.c_str());
            o.address = v;
        } else if (valueOf(a, "--server", v)) {
            o.servers.push_back(v);
        } else if (valueOf(a, "--proxy", v)) {
            o.proxy = v;
        } else if (valueOf(a, "--config", v)) {
            o.config = v;
        } else if (valueOf(a, "--password-file", v)) {
            o.passwordFile = v;
        } else if (valueOf(a, "--master-password-file", v)) {
            o.masterFile = v;
        } else if (valueOf(a, "--log-dir", v)) {
            o.logDir = v;
        } else if (valueOf(a, "--token-file", v)) {
            o.tokenFile = v;
        } else if (valueOf(a, "--log-limit", v)) {
            char* end = nullptr;
            o.logLimitMb = v.empty() ? 0 : std::strtoll(v.c_str(), &end, 10);
            if (v.empty() || *end || o.logLimitMb < 1 || o.logLimitMb > 1000000)
                return "--log-limit takes a whole number from 1 to 1000000";
        } else {
            return std::string("unknown argument '") + a + "' with --wall";
        }
    }
    if (o.servers.empty()) return "the wall needs --server=PATTERN";
    if (o.direct && !o.proxy.empty()) return "--proxy and --direct exclude each other";
    return "";
}

// The token of --token-file: read from the file, which group and others
// may not read, or made and written to a new file (0600). "" with why.
std::string tokenFromFile(const std::string& path, std::string& why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        shareToken fresh;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 || !fresh.make()) {
            why = "cannot make the token file " + path + ": " + std::strerror(fd < 0 ? errno : EIO);
            if (fd >= 0) ::close(fd);
            return "";
        }
        std::string text = std::string(fresh.text()) + "\n";
        const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        ::close(fd);
        if (!written) {
            why = "cannot write the token file " + path;
            return "";
        }
        text.pop_back();
        return text;
    }
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0) {
        why = "cannot read the token file " + path + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return "";
    }
    char buffer[80] = {};
    const ssize_t n = S_ISREG(st.st_mode) && !(st.st_mode & 077) ? ::read(fd, buffer, sizeof buffer - 1) : -1;
    ::close(fd);
    if (!S_ISREG(st.st_mode) || (st.st_mode & 077)) {
        why = "the token file " + path + " may be read by others: make it 0600 (chmod 600 " + path + ")";
        return "";
    }
    std::string text(buffer, n > 0 ? static_cast<size_t>(n) : 0);
    wipeMemory(buffer, sizeof buffer);
    text = text.substr(0, text.find_first_of("\r\n"));
    shareToken check;
    if (!check.take(text)) {
        why = "the token file " + path + " does not hold 32 hex digits";
        return "";
    }
    return text;
}

// The soft limit on open files raised to the hard one; how many consoles
// it allows, each with its socket, the pipe of its tunnel command's
// standard error with a tunnel, and three files with a log.
long long raiseFileLimit(bool tunnel, bool logging) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    const long long files = limit.rlim_cur == RLIM_INFINITY ? 1048576 : static_cast<long long>(limit.rlim_cur);
    return std::max(0LL, (files - sparedFiles) / (1 + (tunnel ? 1 : 0) + (logging ? 3 : 0)));
}

// One console's watcher: what its session shows goes to the hub and the
// log; the lines its history took in go to the log as scrolled lines.
class wallFeeder final : public screenWatcher {
public:
    wallFeeder(screenFeed& feed, const screenHistory& history, wallHub& hub, wallLog* log, int hubIndex, int logIndex)
        : feed_(feed), history_(history), hub_(hub), log_(log), hubIndex_(hubIndex), logIndex_(logIndex) {
        feed_.subscribe(this);
    }
    ~wallFeeder() override { feed_.unsubscribe(this); }
    wallFeeder(const wallFeeder&) = delete;
    wallFeeder& operator=(const wallFeeder&) = delete;

    void sessionConnecting(const remoteScreen&) override {
        // A console that lost its link or failed says so until it is live again.
        if (!troubled_) hub_.setState(hubIndex_, wallState::connecting);
    }
    void sessionStarted(const remoteScreen& screen, bool resumed) override {
        troubled_ = false;
        hub_.setState(hubIndex_, wallState::live);
        hub_.setName(hubIndex_, screen.screenName);
        hub_.setRows(hubIndex_, screen);
        if (log_) log_->sessionStarted(logIndex_, screen, resumed);
        countLines();
    }
    void rowsChanged(const remoteScreen& screen, const bool (&rows)[screenRows]) override {
        uint32_t mask = 0;
        for (int r = 0; r < screenRows; ++r) mask |= rows[r] ? 1u << r : 0;
        hub_.setRows(hubIndex_, screen, mask);
        if (!log_) return;
        log_->rowsChanged(logIndex_, screen, mask);
        // The history watches the feed before this one: what it took in
        // from this change scrolled off.
        const uint64_t now = history_.dropped() + history_.lines().size();
        const auto& lines = history_.lines();
        // One change scrolls off at most a screen.
        const size_t fresh = static_cast<size_t>(
            std::min<uint64_t>({now - std::min(now, lines_), lines.size(), uint64_t{screenRows}}));
        lines_ = now;
        uint16_t scrolled[screenRows][screenCols];
        for (size_t i = 0; i < fresh; ++i) {
            const screenLine& line = lines[lines.size() - fresh + i];
            std::copy(line.begin(), line.end(), scrolled[i]);
        }
        if (fresh) log_->linesScrolled(logIndex_, screen.screenId, scrolled, fresh);
    }
    void cursorMoved(const remoteScreen& screen) override {
        if (log_) log_->rowsChanged(logIndex_, screen, 0);
    }
    void screenShown(const remoteScreen& screen) override {
        hub_.setName(hubIndex_, screen.screenName);
        if (log_) log_->screenShown(logIndex_, screen);
        countLines();
    }
    void sessionEnded(const remoteScreen&, const sessionEnding& how) override {
        switch (how.reason) {
        case endReason::linkLostRetrying: hub_.setState(hubIndex_, wallState::linkLost, how.retryAt); break;
        case endReason::passwordRefused: hub_.setState(hubIndex_, wallState::passwordRefused); break;
        case endReason::connectionFailed: hub_.setState(hubIndex_, wallState::failed, {}, how.words); break;
        default: hub_.setState(hubIndex_, wallState::ended); break;
        }
        troubled_ = how.reason != endReason::closedByOperator;
        if (log_) log_->sessionEnded(logIndex_, how.linkLost() ? "link lost" : "session ended");
    }

private:
    screenFeed& feed_;
    const screenHistory& history_;
    wallHub& hub_;
    wallLog* log_;
    const int hubIndex_, logIndex_;
    bool troubled_ = false;
    uint64_t lines_ = 0;   // the lines the screen's history had taken in

    void countLines() { lines_ = history_.dropped() + history_.lines().size(); }
};

// A search asked by the web server's thread, answered on the sessions'.
struct searchBox {
    std::mutex mutex;
    std::condition_variable answered;
    std::mutex one;   // one search at a time
    std::optional<std::string> query;
    std::string json;
    bool ok = false, done = false;
};

// The wall's site: its pages, its stream from the hub, and its search.
class wallSite final : public webSite {
public:
    wallSite(wallHub& hub, searchBox& box, wakeSignal& wake) : hub_(hub), box_(box), wake_(wake) {}

    bool get(std::string_view tail, std::string_view query, answer& out) override {
        if (wallPagePath(tail, hub_.size())) {
            out.body = wallPage();
            return true;
        }
        if (tail != "search") return false;
        out.type = "application/json";
        std::string q;
        if (!wallQueryValue(query, "q", q)) {
            out.code = 400;
            out.body = "{\"error\":\"no query\"}";
            return true;
        }
        std::lock_guard<std::mutex> one(box_.one);
        std::unique_lock<std::mutex> lock(box_.mutex);
        box_.query = std::move(q);
        box_.done = false;
        wake_.raise();
        if (!box_.answered.wait_for(lock, searchWait, [&] { return box_.done; })) {
            box_.query.reset();
            out.code = 400;
            out.body = "{\"error\":\"the wall is busy\"}";
            return true;
        }
        out.code = box_.ok ? 200 : 400;
        out.body = std::move(box_.json);
        return true;
    }
    bool isStream(std::string_view tail) const override { return tail == "events"; }
    int join() override { return hub_.join(); }
    bool next(int slot, std::string& message, std::chrono::milliseconds wait) override {
        return hub_.next(slot, message, wait);
    }
    void leave(int slot) override { hub_.leave(slot); }
    void finish() override { hub_.finish(); }

private:
    wallHub& hub_;
    searchBox& box_;
    wakeSignal& wake_;
};

// One console of the wall.
struct wallConsole {
    hostedSession* session = nullptr;
    std::unique_ptr<screenHistory> history;
    std::unique_ptr<wallFeeder> feeder;
};

// Answers the search waiting in the box, if any, from the consoles' screens
// and histories.
void answerSearch(searchBox& box, const wallHub& hub, const std::vector<wallConsole>& consoles) {
    std::lock_guard<std::mutex> lock(box.mutex);
    if (!box.query) return;
    std::vector<wallSearchConsole> all;
    for (size_t i = 0; i < consoles.size(); ++i) {
        wallSearchConsole c;
        c.index = static_cast<int>(i);
        c.description = hub.description(static_cast<int>(i));
        c.cells = consoles[i].session->session.feed.screen().cells;
        const screenHistory& h = *consoles[i].history;
        c.history = [&h](const std::function<bool(std::string_view)>& line) {
            const auto& lines = h.lines();
            for (auto it = lines.rbegin(); it != lines.rend(); ++it)
                if (!line(lineText(it->data()))) return;
        };
        all.push_back(std::move(c));
    }
    box.ok = wallSearch(*box.query, all, box.json);
    box.query.reset();
    box.done = true;
    box.answered.notify_all();
}

volatile sig_atomic_t stopRequested = 0;
wakeSignal* stopWake = nullptr;

void onStopSignal(int) {
    stopRequested = 1;
    if (stopWake) stopWake->raise();
}

// The run once the options are read: the configuration, the servers and
// their keys, the log, the server; then the sessions until a signal.
int runWall(const wallOptions& o) {
    MemoryTerminal term;
    setTerminal(&term);
    consoleMain app;
    app.init(nullptr);
    app.servers.init(nullptr);
    app.proxies.init(nullptr);
    app.loadConfig("quorcli.cfg", app.servers, app.proxies);
    if (!app.configError.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", app.configError.c_str());
        return exitUsage;
    }
    // Every session goes through the proxy or tunnel entry --proxy names.
    const proxyInfo* proxy = nullptr;
    if (!o.proxy.empty()) {
        menuItem* item = app.proxies.select(o.proxy.c_str());
        proxy = item ? static_cast<const proxyInfo*>(item->data) : nullptr;
        if (!proxy) {
            std::fprintf(stderr, "quorcli: no proxy entry begins with '%s'\n", o.proxy.c_str());
            return exitUsage;
        }
        // Tunnel commands start only from a private configuration file.
        if (proxy->command && !app.tunnelRefusal.empty()) {
            std::fprintf(stderr, "quorcli: Tunnel refused: %s\n", app.tunnelRefusal.c_str());
            return exitUsage;
        }
    }
    std::vector<serverInfo*> servers;
    if (std::string why; !serversMatching(app, o.servers, servers, why)) {
        std::fprintf(stderr, "quorcli: %s\n", why.c_str());
        return exitUsage;
    }
    // Ordered by description, the order of the tiles and of console/N/.
    std::stable_sort(servers.begin(), servers.end(), [](const serverInfo* a, const serverInfo* b) {
        return std::strcmp(a->description ? a->description : "", b->description ? b->description : "") < 0;
    });

    // The keys: stored passwords opened with the master password, the
    // others from the password file.
    runSecrets secrets;
    const bool anyStored = std::any_of(servers.begin(), servers.end(), [](serverInfo* s) { return s->hasPassword(); });
    const bool anyUnstored = !std::all_of(servers.begin(), servers.end(), [](serverInfo* s) { return s->hasPassword(); });
    for (const std::string& unread : {anyStored ? secrets.readMaster(o.masterFile) : std::string(),
                                      anyUnstored ? secrets.readPassword(o.passwordFile) : std::string()})
        if (!unread.empty()) {
            std::fprintf(stderr, "quorcli: %s\n", unread.c_str());
            return exitUsage;
        }
    if (anyStored && (!*secrets.master || app.servers.decrypt(secrets.master) != 0)) {
        std::fprintf(stderr, "quorcli: %s\n",
                     *secrets.master ? "the master password does not open the stored passwords"
                                     : "stored passwords need their master password: give it with "
                                       "--master-password-file=FILE or QUORCLI_MASTER_PASSWORD");
        return exitUsage;
    }
    wipeMemory(secrets.master, sizeof secrets.master);
    if (anyUnstored && !*secrets.password) {
        std::fprintf(stderr, "quorcli: a server without a stored password needs --password-file=FILE\n");
        return exitUsage;
    }
    for (serverInfo* s : servers)
        if (s->invalidAddress || !s->hostName) {
            std::fprintf(stderr, "quorcli: the address of '%s' cannot be connected to\n",
                         cp437Text(s->description ? s->description : "").c_str());
            return exitUsage;
        }

    const long long allowed = raiseFileLimit(proxy && proxy->command, !o.logDir.empty());
    std::fprintf(stderr, "quorcli: the limit on open files allows %lld consoles; %zu chosen\n", allowed,
                 servers.size());
    if (static_cast<long long>(servers.size()) > allowed) {
        std::fprintf(stderr, "quorcli: too many consoles for the limit on open files (ulimit -n)\n");
        return exitUsage;
    }

    std::vector<std::string> descriptions;
    for (serverInfo* s : servers) descriptions.push_back(s->description ? s->description : "");
    wallHub hub(descriptions);
    std::unique_ptr<wallLog> log;
    if (!o.logDir.empty()) {
        wallLogOptions lo;
        lo.dir = o.logDir;
        lo.limitBytes = o.logLimitMb * 1000000;
        lo.noted = [&hub](int console, const std::string& note) { hub.setLogNote(console, note); };
        std::string why;
        log = wallLog::open(std::move(lo), why);
        if (!log) {
            std::fprintf(stderr, "quorcli: --log-dir=%s: %s\n", o.logDir.c_str(), why.c_str());
            return exitUsage;
        }
    }

    std::string token;
    if (!o.tokenFile.empty()) {
        std::string why;
        token = tokenFromFile(o.tokenFile, why);
        if (token.empty()) {
            std::fprintf(stderr, "quorcli: %s\n", why.c_str());
            return exitUsage;
        }
    }
    waitPoint waits;
    searchBox box;
    wallSite site(hub, box, waits.wakeUp());
    std::string host = "127.0.0.1", why;
    int port = 0;
    if (!o.address.empty()) parseShareAddress(o.address, host, port);
    std::unique_ptr<webServer> server = startWebServer(host, port, site, token, why);
    wipeMemory(token.data(), token.size());
    if (!server) {
        std::fprintf(stderr, "quorcli: the wall cannot start: %s\n", why.c_str());
        return exitUsage;
    }

    // Every console's history, together, holds what one program's may.
    sessionHost sessions(waits);
    std::vector<wallConsole> consoles(servers.size());
    const size_t linesEach = historyLinesMax / std::max<size_t>(1, servers.size());
    for (size_t i = 0; i < servers.size(); ++i) {
        wallConsole& c = consoles[i];
        c.session = &sessions.add(descriptions[i]);
        c.history = std::make_unique<screenHistory>(c.session->session.feed, std::min<size_t>(linesEach, 10000));
        c.history->setTotal(linesEach);
        const int logIndex = log ? log->add(descriptions[i]) : -1;
        c.feeder = std::make_unique<wallFeeder>(c.session->session.feed, *c.history, hub, log.get(),
                                                static_cast<int>(i), logIndex);
    }
    std::fprintf(stderr, "quorcli: wall at %s\n", server->url().c_str());
    std::fflush(stderr);

    stopWake = &waits.wakeUp();
    struct sigaction stop{};
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);

    for (size_t i = 0; i < servers.size() && !stopRequested; ++i) {
        unsigned char key[16];
        if (servers[i]->hasPassword()) std::memcpy(key, servers[i]->password, sizeof key);
        else serverInfo::makePassword(key, secrets.password);
        consoles[i].session->keepOpen(servers[i]->hostName, servers[i]->port, key, proxy);
        wipeMemory(key, sizeof key);
    }
    wipeMemory(secrets.password, sizeof secrets.password);

    while (!stopRequested) {
        waits.turn(-1);
        answerSearch(box, hub, consoles);
    }

    // Every session ends, in order; the page shows them ended, then the
    // server stops, and the log writes what it holds.
    for (wallConsole& c : consoles) c.session->endSession();
    sessions.runUntil(nullptr, endingMs);
    server.reset();
    consoles.clear();
    log.reset();
    stopWake = nullptr;
    setTerminal(nullptr);
    return exitDone;
}

}  // namespace

int wallMain(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "--help") == 0) {
            printWallUsage();
            return exitDone;
        }
    wallOptions o;
    if (const std::string wrong = readWallOptions(argc, argv, o); !wrong.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", wrong.c_str());
        return exitUsage;
    }
    if (!o.config.empty()) setGlobalString(&startupConfig, o.config.c_str());
    if (const std::string refusal = configRefusal("quorcli.cfg"); !refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        return exitUsage;
    }
    const int status = runWall(o);
    releaseProgramStrings();
    return status;
}
