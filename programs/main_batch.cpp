#include "programs/main_batch.h"
#include "programs/main_wall.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "batch/output.h"
#include "batch/platform.h"
#include "batch/runner.h"
#include "batch/script.h"
#include "batch/scriptterminal.h"
#include "batch/secrets.h"
#include "client/cfgplace.h"
#include "client/cmain.h"
#include "programs/main_startup.h"
#include "console/cp437.h"
#include "console/global.h"
#include "console/term.h"
#include "console/wait.h"
#include "net/sutil.h"
#include "screen/formats.h"
#include "screen/savefile.h"
#include "share/webshare.h"

namespace {

enum : int { exitDone = 0, exitUsage = 2, exitConnect = 3, exitPassword = 4, exitLinkLost = 5, exitDeadline = 124 };
constexpr long long stillForScreenshotMs = 700;

struct batchOptions {
    std::vector<std::string> servers;
    std::string proxy;
    bool direct = false;
    std::string config;
    std::string script;
    std::string screenshot;
    std::string masterFile;
    std::string passwordFile;
    bool json = false;
    int parallel = 1;
    long long deadlineMs = 0;   // 0: none
    long entry = -1;            // a child's one server, by its place in the list
    std::string fileTag;        // a child's {server} in file names, unique in its run
    bool fromParent = false;    // a child's secrets come on standard input
    shareOptions share;         // --share[=ADDR:PORT]
    recordOptions record;       // --record, --record-limit=MB
    std::string saveDir;        // --save-dir=DIR: where recordings go
};

struct usageError {
    std::string what;
};

std::string scriptName(const batchOptions& o) { return o.script == "-" ? "(standard input)" : o.script; }

// A server in the names of saved files: its description made safe, with
// '_' for blanks, so that no shell use needs quotes.
std::string fileTagOf(const char* description) {
    std::string tag = safeFileName(description ? description : "");
    std::replace(tag.begin(), tag.end(), ' ', '_');
    return tag;
}

// "--name=VALUE": the value, when arg is that option.
bool valueOf(const char* arg, const char* name, std::string& value) {
    const size_t n = std::strlen(name);
    if (std::strncmp(arg, name, n) != 0 || arg[n] != '=') return false;
    value = arg + n + 1;
    return true;
}

long long wholeNumber(const std::string& text, const char* option, long long lo, long long hi) {
    char* end = nullptr;
    const long long v = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || v < lo || v > hi)
        throw usageError{std::string(option) + " takes a whole number from " + std::to_string(lo) + " to " +
                         std::to_string(hi)};
    return v;
}

// --share=ADDR:PORT: one address that a share may listen on; one open to
// the network is said.
void takeShareAddress(batchOptions& o, const std::string& v) {
    std::string host;
    int port = 0;
    if (const std::string wrong = parseShareAddress(v, host, port); !wrong.empty())
        throw usageError{"--share=" + v + ": " + wrong};
    if (const std::string warning = shareAddressWarning(host); !warning.empty() && shareAvailable())
        std::fprintf(stderr, "quorcli: warning: %s\n", warning.c_str());
    o.share.forRun = true;
    o.share.address = v;
}

void takeDeadline(batchOptions& o, const std::string& v) {
    char* end = nullptr;
    const double s = v.empty() ? 0 : std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !(s > 0) || s > 31536000) throw usageError{"--deadline takes seconds above 0"};
    o.deadlineMs = static_cast<long long>(s * 1000 + 0.5);
}

// The options of batch mode: a switch, or "--name=VALUE" with what takes
// the value.
struct batchOption {
    const char* name;
    bool valued;
    void (*take)(batchOptions& o, const std::string& value);
};
const batchOption batchOptionTable[] = {
    {"--server", true, [](batchOptions& o, const std::string& v) { o.servers.push_back(v); }},
    {"--proxy", true, [](batchOptions& o, const std::string& v) { o.proxy = v; }},
    {"--direct", false, [](batchOptions& o, const std::string&) { o.direct = true; }},
    {"--config", true, [](batchOptions& o, const std::string& v) { o.config = v; }},
    {"--script", true, [](batchOptions& o, const std::string& v) { o.script = v; }},
    {"--screenshot", true, [](batchOptions& o, const std::string& v) { o.screenshot = v; }},
    {"--master-password-file", true, [](batchOptions& o, const std::string& v) { o.masterFile = v; }},
    {"--password-file", true, [](batchOptions& o, const std::string& v) { o.passwordFile = v; }},
    {"--json", false, [](batchOptions& o, const std::string&) { o.json = true; }},
    {"--secrets-from-parent", false, [](batchOptions& o, const std::string&) { o.fromParent = true; }},
    {"--share", false, [](batchOptions& o, const std::string&) { o.share.forRun = true; }},
    {"--share", true, takeShareAddress},
    {"--parallel", true,
     [](batchOptions& o, const std::string& v) { o.parallel = static_cast<int>(wholeNumber(v, "--parallel", 1, 1000)); }},
    {"--server-entry", true,
     [](batchOptions& o, const std::string& v) {
         o.entry = static_cast<long>(wholeNumber(v, "--server-entry", 0, 1000000));
     }},
    {"--deadline", true, takeDeadline},
    {"--record", false, [](batchOptions& o, const std::string&) { o.record.everySession = true; }},
    {"--record-limit", true,
     [](batchOptions& o, const std::string& v) { o.record.limitMb = static_cast<long>(wholeNumber(v, "--record-limit", 1, 1000000)); }},
    {"--save-dir", true, [](batchOptions& o, const std::string& v) { o.saveDir = v; }},
    {"--file-tag", true, [](batchOptions& o, const std::string& v) { o.fileTag = v; }},
};

// Takes one argument by the table; false when it is none of its options.
bool takeArgument(batchOptions& o, const char* a) {
    for (const batchOption& opt : batchOptionTable) {
        std::string v;
        if (opt.valued ? valueOf(a, opt.name, v) : std::strcmp(a, opt.name) == 0) {
            opt.take(o, v);
            return true;
        }
    }
    return false;
}

batchOptions readOptions(int argc, char** argv) {
    batchOptions o;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (!a || std::strcmp(a, "--batch") == 0 || takeArgument(o, a)) continue;
        if (std::strncmp(a, "--password", 10) == 0 || std::strncmp(a, "--master-password", 17) == 0)
            throw usageError{std::string("passwords are never taken as arguments: use --password-file=FILE, "
                                         "--master-password-file=FILE or QUORCLI_MASTER_PASSWORD ('") + a + "')"};
        throw usageError{std::string("unknown argument '") + a + "' in batch mode"};
    }
    if (o.servers.empty() && o.entry < 0) throw usageError{"batch mode needs --server=NAME"};
    if (o.script.empty() == o.screenshot.empty()) throw usageError{"batch mode needs either --script=FILE or --screenshot=FILE"};
    if (o.direct && !o.proxy.empty()) throw usageError{"--proxy and --direct exclude each other"};
    screenFormat format;
    if (!o.screenshot.empty() && !screenFormatOf(o.screenshot, format))
        throw usageError{std::string("--screenshot takes a file name ending in ") + screenFormatList};
    return o;
}

void printBatchUsage() {
    std::fputs("Usage: quorcli --batch --server=NAME... [--proxy=NAME | --direct] [--config=FILE]\n"
               "               (--script=FILE | --screenshot=FILE) [--json] [--parallel=N]\n"
               "               [--deadline=SECONDS] [--master-password-file=FILE] [--password-file=FILE]\n"
               "               [--share[=ADDR:PORT]] [--record] [--record-limit=MB] [--save-dir=DIR]\n"
               "Runs a script against a server's console without a terminal.\n"
               "\n"
               "  --server=NAME        the server entry whose description begins with NAME; with\n"
               "                       * or ? every entry whose description matches; may repeat\n"
               "  --script=FILE        the script (- reads standard input)\n"
               "  --screenshot=FILE    save the screen once it is still (.txt, .html or .json)\n"
               "  --json               one JSON object a line on standard output per event\n"
               "  --parallel=N         sessions at once over several servers (default 1)\n"
               "  --deadline=SECONDS   end the run with status 124 when it takes longer\n"
               "  --record             record each session (asciicast files; --record-limit=MB)\n"
               "  --save-dir=DIR       the folder of the recordings\n"
               "  --master-password-file=FILE  the master password of stored passwords (first\n"
               "                       line); else the variable QUORCLI_MASTER_PASSWORD\n"
               "  --password-file=FILE the password of a server without a stored one (first line)\n"
               "                       A password file that group or others may read is refused;\n"
               "                       a pipe is taken: --password-file=<(pass show rack)\n"
               "\n"
               "Exit status: 0 done, 1 a wait timed out, 2 usage or script error, 3 connection\n"
               "failed, 4 invalid password, 5 link lost, 124 deadline passed; with --parallel\n"
               "the highest of the sessions', where one that could not start counts 126 and\n"
               "one ended by a signal 128 + its number.\n"
               "\n"
               "The script language (commands, key names, regular expressions, JSON events)\n"
               "is described in quorcli-script(5): man 5 quorcli-script.\n",
               stdout);
}

std::vector<serverInfo*> allServers(consoleMain& app) {
    std::vector<serverInfo*> out;
    for (menuItem* it = app.servers.items.first; it; it = it->next)
        out.push_back(static_cast<serverInfo*>(it->data));
    return out;
}

// The list places of the servers the patterns name, in list order, each once.
std::vector<size_t> chosenServers(consoleMain& app, const std::vector<std::string>& patterns) {
    const std::vector<serverInfo*> all = allServers(app);
    std::vector<bool> taken(all.size(), false);
    for (const std::string& p : patterns) {
        const bool wild = p.find_first_of("*?") != std::string::npos;
        bool any = false;
        for (size_t i = 0; i < all.size(); ++i) {
            const char* d = all[i] && all[i]->description ? all[i]->description : "";
            const bool match = wild ? globMatch(p.c_str(), d) : std::strncmp(d, p.c_str(), p.size()) == 0;
            if (!match) continue;
            taken[i] = any = true;
            if (!wild) break;
        }
        if (!any) throw usageError{"no server entry matches '" + p + "'"};
    }
    std::vector<size_t> out;
    for (size_t i = 0; i < all.size(); ++i)
        if (taken[i]) out.push_back(i);
    return out;
}

}  // namespace

bool serversMatching(consoleMain& app, const std::vector<std::string>& patterns, std::vector<serverInfo*>& servers,
                     std::string& error) {
    try {
        const std::vector<serverInfo*> all = allServers(app);
        servers.clear();
        for (const size_t i : chosenServers(app, patterns)) servers.push_back(all[i]);
        return true;
    } catch (const usageError& e) {
        error = e.what;
        return false;
    }
}

namespace {

// The script's bytes (at most one more than a script may have, so that an
// overlong one is seen); false when it cannot be read.
bool readScriptText(const std::string& path, std::string& text) {
    FILE* f = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!f) return false;
    char buf[65536];
    size_t n;
    while (text.size() <= scriptMaxBytes && (n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    const bool ok = !std::ferror(f);
    if (f != stdin) std::fclose(f);
    return ok;
}

// The run's end by --deadline: status 124 then, whatever the run is doing
// (connecting, or in a session); none without it.
struct runDeadline {
    using Clock = std::chrono::steady_clock;
    Clock::time_point at = Clock::time_point::max();
    long long ms = 0;

    explicit runDeadline(long long limitMs) : ms(limitMs) {
        if (ms > 0) at = Clock::now() + std::chrono::milliseconds(ms);
    }
    bool passed() const { return Clock::now() >= at; }
    // The milliseconds left for a connection attempt, at least 1; 0 for no limit.
    int connectLimitMs() const {
        if (at == Clock::time_point::max()) return 0;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now()).count();
        return static_cast<int>(std::clamp<long long>(left, 1, INT_MAX));
    }
    std::string why() const { return "the deadline of " + secondsText(ms) + " passed"; }
};

// What a session that ended without the script's say means: the status,
// why in words (a failed connection's as its message box gives them), and
// as one stable word for JSON lines.
int sessionStatus(sessionResult result, const consoleMain& app, std::string& why, std::string& reason) {
    reason = "lost";
    switch (result) {
    case resultPasswordRefused: why = "the password was invalid"; reason = "password"; return exitPassword;
    case resultServerClosed: why = "the server closed the connection"; return exitLinkLost;
    case resultLinkLost: why = "the connection with the server was lost"; return exitLinkLost;
    case resultEnded:
        if (app.greetingInvalid) {
            why = "the password was invalid (the server's greeting could not be read)";
            reason = "password";
            return exitPassword;
        }
        why = "the session ended before the script";
        return exitLinkLost;
    default:
        why = app.connectFailure.empty() ? "the connection failed" : app.connectFailure;
        reason = app.connectFailureKind;
        return exitConnect;
    }
}

// The session key of the server: its stored password (opened already), or
// the one from the password file or the parent run. exitDone, or the
// status that ends the run (what was wrong said).
int takeSessionKey(serverInfo* server, const batchOptions& o, runSecrets& secrets, batchOutput& out,
                   unsigned char (&key)[16]) {
    const std::string unread = server->hasPassword() || o.fromParent ? "" : secrets.readPassword(o.passwordFile);
    if (!unread.empty()) {
        out.complain(unread);
        return exitUsage;
    }
    if (server->hasPassword()) {
        std::memcpy(key, server->password, sizeof key);
    } else if (*secrets.password) {
        serverInfo::makePassword(key, secrets.password);
        wipeMemory(secrets.password, sizeof secrets.password);
    } else {
        out.complain("the server '" + out.server + "' has no stored password: give it with --password-file=FILE");
        return exitUsage;
    }
    return exitDone;
}

// Connects to the server, through the proxy the options name. exitDone, or
// the status that ends the run (what failed said).
int connectTo(consoleMain& app, serverInfo* server, const batchOptions& o, const runDeadline& deadline,
              batchOutput& out) {
    proxyInfo* proxy = nullptr;
    if (!o.proxy.empty()) {
        menuItem* item = app.proxies.select(o.proxy.c_str());
        if (!item) {
            out.complain("no proxy entry begins with '" + o.proxy + "'");
            return exitUsage;
        }
        proxy = static_cast<proxyInfo*>(item->data);
    }
    app.quietFailures = true;
    app.session.feed.connecting(server->description ? server->description : "");
    app.connectLimitMs = deadline.connectLimitMs();
    const sessionResult connected = app.connect(server, proxy);
    app.connectLimitMs = 0;
    if (connected == resultEnded) {
        out.event("connected", {{"host", jsonString(writtenHost(server->hostName) + ":" + std::to_string(server->port))}});
        return exitDone;
    }
    app.closeConnection();
    sessionEnding failed;
    failed.reason = endReason::connectionFailed;
    failed.words = app.connectFailure;
    app.session.feed.ended(failed);
    if (deadline.passed()) {
        out.complain(deadline.why());
        out.event("end", {{"code", std::to_string(exitDeadline)}, {"message", jsonString(deadline.why())}});
        return exitDeadline;
    }
    std::string why, reason;
    const int status = sessionStatus(connected == resultEscaped ? resultConnectFailed : connected, app, why, reason);
    out.complain(why);
    out.event("end", {{"code", std::to_string(status)}, {"reason", jsonString(reason)}, {"message", jsonString(why)}});
    return status;
}

// One server: connects, runs the script in its session, and says how it ended.
int runOne(consoleMain& app, serverInfo* server, const batchOptions& o, const std::vector<scriptCommand>& commands,
           runSecrets& secrets, const scriptTerminal& term, const runDeadline& deadline, batchOutput& out) {
    unsigned char key[16] = {};
    struct keyWipe {
        unsigned char (&k)[16];
        ~keyWipe() { wipeMemory(k, sizeof k); }
    } wipeOnLeave{key};
    if (const int status = takeSessionKey(server, o, secrets, out, key)) return status;
    if (const int status = connectTo(app, server, o, deadline, out)) return status;
    std::memcpy(app.sessionKey, key, sizeof key);
    app.sessionServer = server->description ? server->description : "";

    int status = 0;
    std::string why, reason;
    {
        batchRunner runner(app.session.feed, app.control, term, commands, out);
        runner.endAt(deadline.at, exitDeadline, deadline.why());
        saveNaming naming;
        naming.server = o.fileTag.empty() ? fileTagOf(server->description) : o.fileTag;
        naming.host = safeFileName(writtenHost(server->hostName));
        naming.severalServers = o.entry >= 0;
        runner.describeRun(o.script.empty() ? "" : scriptName(o), naming);
        const sessionResult result = app.processConnection();
        app.closeConnection();
        if (runner.finished()) {
            status = runner.exitCode();
            why = runner.message();
        } else {
            status = sessionStatus(result, app, why, reason);
            out.complain(why);
        }
    }
    if (reason.empty()) out.event("end", {{"code", std::to_string(status)}, {"message", jsonString(why)}});
    else out.event("end", {{"code", std::to_string(status)}, {"reason", jsonString(reason)}, {"message", jsonString(why)}});
    return status;
}

// Several servers: one process each, their lines prefixed with the server,
// a summary line each on standard error; the highest status is the run's.
// The passwords are read here, once, and handed to each session on its
// standard input.
int runMany(const std::vector<serverInfo*>& all, const std::vector<size_t>& chosen, const batchOptions& o, int argc,
            char** argv) {
    const std::string program = ownProgramPath();
    if (program.empty()) {
        std::fprintf(stderr, "quorcli: cannot find the program's own path to start its sessions\n");
        return exitUsage;
    }
    bool anyStored = false, anyUnstored = false;
    for (size_t i : chosen) (all[i]->hasPassword() ? anyStored : anyUnstored) = true;
    runSecrets secrets;
    for (const std::string& unread : {anyStored ? secrets.readMaster(o.masterFile) : std::string(),
                                      anyUnstored ? secrets.readPassword(o.passwordFile) : std::string()})
        if (!unread.empty()) {
            std::fprintf(stderr, "quorcli: %s\n", unread.c_str());
            return exitUsage;
        }
    char handed[runSecrets::handOverSize];
    const size_t handedLen = secrets.handOver(handed);
    struct wipeHanded {
        char* p;
        ~wipeHanded() { wipeMemory(p, runSecrets::handOverSize); }
    } wipeOnLeave{handed};
    std::vector<std::string> common = {"--secrets-from-parent"};
    for (int i = 1; i < argc; ++i) {
        std::string v;
        if (!argv[i] || valueOf(argv[i], "--server", v) || valueOf(argv[i], "--parallel", v) ||
            valueOf(argv[i], "--deadline", v) || valueOf(argv[i], "--password-file", v) ||
            valueOf(argv[i], "--master-password-file", v))
            continue;
        common.push_back(argv[i]);
    }
    std::vector<std::vector<std::string>> args;
    std::vector<std::string> names, tags;
    for (size_t i : chosen) {
        const char* description = all[i]->description ? all[i]->description : "";
        // Servers whose names make the same file name get -2, -3...
        std::string tag = fileTagOf(description);
        for (int n = 2; std::find(tags.begin(), tags.end(), tag) != tags.end(); ++n)
            tag = fileTagOf(description) + "-" + std::to_string(n);
        tags.push_back(tag);
        args.push_back(common);
        args.back().push_back("--server-entry=" + std::to_string(i));
        args.back().push_back("--file-tag=" + tag);
        names.push_back(cp437Text(description));
    }
    const auto start = std::chrono::steady_clock::now();
    int highest = 0;
    auto ended = [&](size_t child, int status, const std::string& why) {
        highest = std::max(highest, status);
        if (why.empty()) std::fprintf(stderr, "quorcli: %s: exit status %d\n", names[child].c_str(), status);
        else std::fprintf(stderr, "quorcli: %s: %s (status %d)\n", names[child].c_str(), why.c_str(), status);
        std::fflush(stderr);
    };
    runChildren(
        program, args, o.parallel, handed, handedLen,
        [&](size_t child, std::vector<std::string>& a) {
            if (o.deadlineMs <= 0) return true;
            const long long left = o.deadlineMs - std::chrono::duration_cast<std::chrono::milliseconds>(
                                                      std::chrono::steady_clock::now() - start).count();
            if (left <= 0) {
                ended(child, exitDeadline, "");
                return false;
            }
            a.push_back("--deadline=" + std::to_string(left / 1000.0));
            return true;
        },
        [&](size_t child, bool fromStderr, const std::string& line) {
            // JSON lines carry their server already.
            const bool bare = o.json && !fromStderr && !line.empty() && line[0] == '{';
            std::string text = bare ? line : names[child] + ": " + line;
            text += '\n';
            std::fputs(text.c_str(), fromStderr ? stderr : stdout);
            std::fflush(fromStderr ? stderr : stdout);
        },
        ended);
    return highest;
}

// The script's commands, or the two of --screenshot; exitDone, or
// exitUsage with what was wrong said.
int loadCommands(const batchOptions& o, std::vector<scriptCommand>& commands) {
    if (o.script.empty()) {
        scriptCommand still;
        still.kind = cmdKind::waitStill;
        still.ms = stillForScreenshotMs;
        scriptCommand save;
        save.kind = cmdKind::save;
        save.text = o.screenshot;
        commands = {still, save};
        return exitDone;
    }
    std::string text;
    errno = 0;
    if (!readScriptText(o.script, text)) {
        std::fprintf(stderr, "quorcli: cannot read the script %s: %s\n", o.script.c_str(),
                     std::strerror(errno ? errno : EIO));
        return exitUsage;
    }
    parsedScript parsed = parseScript(text);
    for (const scriptProblem& e : parsed.errors)
        std::fprintf(stderr, "quorcli: %s:%d: %s\n", scriptName(o).c_str(), e.line, e.what.c_str());
    if (!parsed.errors.empty()) return exitUsage;
    commands = std::move(parsed.commands);
    return exitDone;
}

// The servers of the run by their place in the list: the one a parent run
// handed over, or those the patterns name.
std::vector<size_t> serversOfRun(consoleMain& app, const batchOptions& o, const std::vector<serverInfo*>& all) {
    if (o.entry < 0) return chosenServers(app, o.servers);
    if (static_cast<size_t>(o.entry) >= all.size() || !all[static_cast<size_t>(o.entry)])
        throw usageError{"no server entry " + std::to_string(o.entry)};
    return {static_cast<size_t>(o.entry)};
}

// One server in this process: its stored passwords opened with the master
// password from a file or the environment (or the parent run; without it
// they stay locked), then its session.
int runSingle(consoleMain& app, serverInfo* server, const batchOptions& o, const std::vector<scriptCommand>& commands,
              const scriptTerminal& term, batchOutput& out) {
    out.server = cp437Text(server->description ? server->description : "");
    const runDeadline deadline(o.deadlineMs);
    int status = exitDone;
    runSecrets secrets;
    if (o.fromParent) secrets.takeHandedOver();
    if (app.servers.hasPasswords() && server->hasPassword()) {
        const std::string unread = o.fromParent ? "" : secrets.readMaster(o.masterFile);
        if (!unread.empty()) {
            out.complain(unread);
            status = exitUsage;
        } else if (!*secrets.master) {
            out.complain("the server's password is stored: give its master password "
                         "with --master-password-file=FILE or QUORCLI_MASTER_PASSWORD");
            status = exitUsage;
        } else if (app.servers.decrypt(secrets.master) != 0) {
            out.complain("the master password does not open the stored passwords");
            status = exitPassword;
        }
        wipeMemory(secrets.master, sizeof secrets.master);
    }
    return status == exitDone ? runOne(app, server, o, commands, secrets, term, deadline, out) : status;
}

// The run once the terminal is the script's: the configuration, the
// share, and the server or servers.
int runBatch(const batchOptions& o, const std::vector<scriptCommand>& commands, const scriptTerminal& term,
             batchOutput& out, int argc, char** argv) {
    consoleMain app;
    webShare share(app.session.feed, o.share);
    const saveTarget saveTo{o.saveDir, cfgUserDataFolder};
    castRecorder recorder(app.session.feed, saveTo, o.record);
    app.init(nullptr);
    app.servers.init(nullptr);
    app.proxies.init(nullptr);
    app.proxies.add(directConnectionText, app.proxies.getItemCount() + 1, nullptr);
    app.loadConfig("quorcli.cfg", app.servers, app.proxies);
    try {
        if (!app.configError.empty()) throw usageError{app.configError};
        // A recording asked for must have a folder: found out before anything connects.
        if (std::string error; o.record.everySession && saveFolder(saveTo, error).empty())
            throw usageError{"--record: " + error};
        // --share: the run can be watched in a browser; its address on stderr.
        if (const std::string refused = share.startForRun(); !refused.empty()) throw usageError{refused};
        if (share.sharing()) {
            std::fprintf(stderr, "quorcli: shared at %s\n", share.url().c_str());
            out.event("shared", {{"url", jsonString(share.url())}});
        }
        const std::vector<serverInfo*> all = allServers(app);
        const std::vector<size_t> chosen = serversOfRun(app, o, all);
        if (chosen.size() == 1) return runSingle(app, all[chosen[0]], o, commands, term, out);
        if (o.script == "-") throw usageError{"a script on standard input serves one server: give a file"};
        return runMany(all, chosen, o, argc, argv);
    } catch (const usageError& e) {
        out.complain(e.what);
        return exitUsage;
    }
}

}  // namespace

bool batchRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "--batch") == 0) return true;
    return false;
}

bool wallRequested(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && (std::strcmp(argv[i], "--wall") == 0 || std::strncmp(argv[i], "--wall=", 7) == 0)) return true;
    return false;
}

int batchMain(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] && std::strcmp(argv[i], "--help") == 0) {
            printBatchUsage();
            return exitDone;
        }
    batchOptions o;
    try {
        o = readOptions(argc, argv);
    } catch (const usageError& e) {
        std::fprintf(stderr, "quorcli: %s\n", e.what.c_str());
        return exitUsage;
    }
    batchKeysInit();
    std::vector<scriptCommand> commands;
    if (const int status = loadCommands(o, commands)) return status;

    if (!o.config.empty()) setGlobalString(&startupConfig, o.config.c_str());
    const std::string refusal = configRefusal("quorcli.cfg");
    if (!refusal.empty()) {
        std::fprintf(stderr, "quorcli: %s\n", refusal.c_str());
        return exitUsage;
    }

    scriptTerminal term;
    setTerminal(&term);
    batchSignalsInit();
    batchOutput out;
    out.json = o.json;
    const int status = runBatch(o, commands, term, out, argc, argv);
    setTerminal(nullptr);
    releaseProgramStrings();
    return status;
}
