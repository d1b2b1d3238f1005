#include "programs/main_startup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "client/build.h"
#include "client/cfgplace.h"
#include "console/cutil.h"
#include "console/global.h"
#include "history/history.h"
#include "net/sutil.h"

namespace {

constexpr int valueMax = 4000;
constexpr int maxCmdWords = 32;
constexpr const char* directConnection = "[Direct Connection]";
constexpr char reconnectOption[] = "--reconnect";
constexpr char recordOption[] = "--record";
constexpr char shareOption[] = "--share";

bool isBlankByte(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

// Takes the value of "--name=VALUE" into *slot when arg is that option.
bool takeOption(const char* name, const char* arg, char* work, char** slot) {
    if (!isVariable(name, arg, '=')) return false;
    getValue(arg, work, '=', valueMax);
    setGlobalString(slot, work);
    return true;
}

// The path of "--config=FILE" or "--save-dir=DIR" as it is: blanks and
// length are the file system's business.
bool pathOption(const char* name, const char* arg, std::string& path) {
    if (!isVariable(name, arg, '=')) return false;
    const char* marker = std::strchr(arg, '=');
    path = marker ? marker + 1 : "";
    return true;
}

bool takePathOption(const char* name, const char* arg, char** slot) {
    std::string path;
    if (!pathOption(name, arg, path)) return false;
    setGlobalString(slot, path.c_str());
    return true;
}

// The option as the whole argument, letter case as the build's options take it.
bool isOption(const char* arg, const char* name) {
    const size_t n = std::strlen(name);
    return std::strlen(arg) == n && sutilMemicmp(arg, name, static_cast<int>(n)) == 0;
}

// The options that take a value after "=", and how the usage writes them.
struct valuedOption {
    const char* name;
    const char* form;
};
constexpr valuedOption valuedOptions[] = {
    {"--proxy", "--proxy=NAME"}, {"--server", "--server=NAME"}, {"--config", "--config=FILE"},
    {"--save-dir", "--save-dir=DIR"}, {"--history", "--history=N"}, {"--record-limit", "--record-limit=MB"}};

int valuedForm(const char* arg, const char* name) {
    while (isBlankByte(*arg)) ++arg;
    const size_t n = std::strlen(name);
    if (std::strlen(arg) < n || sutilMemicmp(arg, name, static_cast<int>(n)) != 0) return 0;
    return arg[n] == '=' ? 1 : arg[n] == 0 ? -1 : 0;
}

// The number of "--NAME=N" from low to a million; -1 for anything else.
long numberValue(const char* arg, const char* name, long low) {
    if (valuedForm(arg, name) != 1) return -1;
    const char* v = std::strchr(arg, '=') + 1;
    if (!*v || std::strlen(v) > 7 || std::strspn(v, "0123456789") != std::strlen(v)) return -1;
    const long n = std::strtol(v, nullptr, 10);
    return n >= low && n <= 1000000 ? n : -1;
}

// The options that take a number, and the least each takes (a million at most).
struct numberOption {
    const char* name;
    long low;
};
constexpr numberOption numberOptions[] = {{"--history", 0}, {"--record-limit", 1}};

// True for every argument that the scan, the display letters or the
// information options take.
bool knownArgument(const char* arg) {
    for (const numberOption& n : numberOptions)
        if (valuedForm(arg, n.name) == 1) return numberValue(arg, n.name, n.low) >= 0;
    for (const valuedOption& o : valuedOptions)
        if (valuedForm(arg, o.name) == 1) return true;
    for (const char* name : {reconnectOption, recordOption, "--help", "--version"})
        if (isOption(arg, name)) return true;
    // --direct by the build's comparison (the Linux build takes any beginning of it).
    if (sutilStricmp(arg, "--direct") == 0) return true;
    // --share alone, or with the address after "=".
    if (valuedForm(arg, shareOption) != 0) return true;
    return thisBuild().displayLetters && displayLetter(arg) != 0;
}

// All the histories together hold at most historyLinesMax lines: one
// screen cannot be given more.
void capHistory(long& lines) {
    if (lines <= static_cast<long>(historyLinesMax)) return;
    std::fprintf(stderr, "quorcli: --history=%ld is more than all histories may hold together (%zu MiB): %zu lines kept\n",
                 lines, historyBytesMax >> 20, historyLinesMax);
    lines = static_cast<long>(historyLinesMax);
}

void scanArguments(int argc, char** argv, char* work, programOptions& o) {
    long historyLines = static_cast<long>(o.historyLines);
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (!arg) continue;
        work[0] = 0;
        if (!takeOption("--proxy", arg, work, &startupProxy) && !takeOption("--server", arg, work, &startupServer) &&
            !takePathOption("--config", arg, &startupConfig))
            pathOption("--save-dir", arg, o.saveDir);
        if (sutilStricmp(arg, "--direct") == 0) setGlobalString(&startupProxy, directConnection);
        if (isOption(arg, reconnectOption)) o.reconnect = true;
        if (isOption(arg, recordOption)) o.record.everySession = true;
        if (const long n = numberValue(arg, "--history", 0); n >= 0) historyLines = n;
        if (const long n = numberValue(arg, "--record-limit", 1); n >= 0) o.record.limitMb = n;
        const int share = valuedForm(arg, shareOption);
        if (share != 0) o.share.forRun = true;
        if (share == 1) o.share.address = std::strchr(arg, '=') + 1;
    }
    capHistory(historyLines);
    o.historyLines = static_cast<size_t>(historyLines);
}

// The command line and its options.
void printOptions(FILE* out) {
    const bool letters = thisBuild().displayLetters;
    std::fprintf(out,
                 "Usage: quorcli [--proxy=NAME] [--server=NAME] [--direct] [--config=FILE] [--reconnect]\n"
                 "               [--record] [--record-limit=MB] [--save-dir=DIR] [--history=N]\n"
                 "               [--share[=ADDR:PORT]]%s\n"
                 "Remote console client for QUORVEX servers.\n"
                 "\n"
                 "  --proxy=NAME   use the first proxy entry that begins with NAME\n"
                 "  --direct       connect without a proxy\n"
                 "  --server=NAME  connect to the first server entry that begins with NAME\n"
                 "  --config=FILE  keep servers and proxies in FILE\n"
                 "  --reconnect    reconnect by itself when the link of a session fails\n"
                 "  --record       record every session (asciicast files)\n"
                 "  --record-limit=MB\n"
                 "                 stop a recording when it reaches MB megabytes (1000)\n"
                 "  --save-dir=DIR save screens and recordings in DIR\n"
                 "  --history=N    keep N lines of each screen's history (10000; 0: none); all\n"
                 "                 histories together hold at most %zu MiB (%zu lines)\n"
                 "  --batch        run a script without a terminal (quorcli --batch --help)\n"
                 "  --wall[=ADDR:PORT] consoles on one page in a browser (quorcli --wall --help)\n"
                 "  --share[=ADDR:PORT]\n"
                 "                 show every session read-only in a browser; ADDR one IPv4\n"
                 "                 address (default 127.0.0.1), PORT one port (default a free one)\n",
                 letters ? "\n               [-m] [-a | -n | -u]" : "", historyBytesMax >> 20, historyLinesMax);
    if (letters)
        std::fputs("  -m             monochrome\n"
                   "  -a             plain ASCII line drawing\n"
                   "  -n             the terminal's own line drawing (Unicode in a UTF-8 locale)\n"
                   "  -u             Unicode glyphs (the default in a UTF-8 locale)\n",
                   out);
    std::fputs("  --help         show this text\n"
               "  --version      show the version\n",
               out);
}

void printUsage(int argc, char** argv, const char* programPath) {
    modulePath = getModulePath(programPath);
    parseCmdArguments(nullptr, argc, argv);
    const cfgPlace place = cfgChoosePlace(startupConfig, modulePath, "quorcli.cfg", cfgNativeSystem());
    printOptions(stdout);
    std::printf("\n"
                "Without --config, servers and proxies are kept in quorcli.cfg beside the\n"
                "program when it is there or the program's folder may be written, and\n"
                "otherwise in the user's configuration folder.\n"
                "Screens and recordings are saved in the folder of --save-dir, or else in the\n"
                "current folder when it may be written, or else in %s.\n"
                "Configuration file: %s\n",
                thisBuild().dataFolderText, place.path.c_str());
    std::fflush(stdout);
    releaseProgramStrings();
}

// Whether the address of a --share argument is one to share on: else its
// line on standard error. An address open to the network is said too, by a
// build that can share.
bool shareArgumentOk(const char* arg) {
    if (valuedForm(arg, shareOption) != 1) return true;
    const char* value = std::strchr(arg, '=') + 1;
    std::string host;
    int port = 0;
    const std::string wrong = parseShareAddress(value, host, port);
    if (!wrong.empty()) {
        std::fprintf(stderr, "quorcli: --share=%s: %s\n", value, wrong.c_str());
        return false;
    }
    if (const std::string warning = shareAddressWarning(host); !warning.empty() && shareAvailable())
        std::fprintf(stderr, "quorcli: warning: %s\n", warning.c_str());
    return true;
}

}  // namespace

int rejectedArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg && !shareArgumentOk(arg)) {
            printOptions(stderr);
            return 2;
        }
        if (!arg || knownArgument(arg)) continue;
        const valuedOption* bare = nullptr;
        for (const valuedOption& o : valuedOptions)
            if (valuedForm(arg, o.name) == -1) bare = &o;
        const numberOption* number = nullptr;
        for (const numberOption& n : numberOptions)
            if (valuedForm(arg, n.name) == 1) number = &n;
        if (number)
            std::fprintf(stderr, "quorcli: %s takes a whole number from %ld to 1000000: '%s'\n", number->name,
                         number->low, std::strchr(arg, '=') + 1);
        else if (bare)
            std::fprintf(stderr, "quorcli: option '%s' needs a value: %s\n", bare->name, bare->form);
        else
            std::fprintf(stderr, "quorcli: unknown %s '%s'\n",
                         arg[0] == '-' || arg[0] == '/' ? "option" : "argument", arg);
        printOptions(stderr);
        return 2;
    }
    return 0;
}

bool answeredInfoOption(int argc, char** argv, const char* programPath) {
    for (int i = 1; i < argc; ++i) {
        if (!argv[i]) continue;
        if (isOption(argv[i], "--help")) {
            printUsage(argc, argv, programPath);
            return true;
        }
        if (isOption(argv[i], "--version")) {
            std::printf("%s\n", thisBuild().versionText);
            std::fflush(stdout);
            return true;
        }
    }
    return false;
}

char* getModulePath(const char* programPath) {
    size_t keep = 0;
    if (programPath)
        for (size_t i = 0; programPath[i]; ++i)
            if (programPath[i] == '/' || programPath[i] == '\\' || programPath[i] == ':') keep = i + 1;
    char* dir = static_cast<char*>(std::malloc(keep + 1));
    if (!dir) return nullptr;
    if (keep) std::memcpy(dir, programPath, keep);
    dir[keep] = 0;
    return dir;
}

int parseCmdLine(char* line, char** words, int maxWords) {
    int n = 0;
    if (!line || !words) return 0;
    char* p = line;
    while (n < maxWords) {
        while (isBlankByte(*p)) ++p;
        if (!*p) break;
        words[n++] = p;
        while (*p && !isBlankByte(*p)) ++p;
        if (*p) *p++ = 0;
    }
    return n;
}

int parseCmdArguments(const char* cmdLine, int argc, char** argv, programOptions* options) {
    std::unique_ptr<char, FreeDeleter> work(static_cast<char*>(std::malloc(valueMax + 1)));
    if (!work) return -2;
    programOptions ignored;
    programOptions& o = options ? *options : ignored;
    if (cmdLine) {
        std::unique_ptr<char, FreeDeleter> line(strdup(cmdLine));
        if (!line) return -2;
        char* words[maxCmdWords];
        const int n = parseCmdLine(line.get(), words, maxCmdWords);
        scanArguments(n, words, work.get(), o);
    } else if (argv) {
        scanArguments(argc, argv, work.get(), o);
    }
    return 0;
}

void releaseProgramStrings() {
    setGlobalString(&modulePath, nullptr);
    setGlobalString(&startupServer, nullptr);
    setGlobalString(&startupProxy, nullptr);
    setGlobalString(&startupConfig, nullptr);
}
