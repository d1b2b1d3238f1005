// The start-up routines of the programs: their folder, the command line and
// the signals.
#include "programs/main_startup.h"
#include "console/global.h"

#include <signal.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string path(const char* program) {
    char* dir = getModulePath(program);
    EXPECT_NE(dir, nullptr);
    std::string s = dir ? dir : "<null>";
    std::free(dir);
    return s;
}

TEST(ModulePath, KeepsEverythingThroughTheLastSeparator) {
    EXPECT_EQ(path("/usr/local/bin/quorcli"), "/usr/local/bin/");
    EXPECT_EQ(path("quorcli"), "");
    EXPECT_EQ(path(""), "");
    EXPECT_EQ(path(nullptr), "");
    EXPECT_EQ(path("./quorcli"), "./");
    EXPECT_EQ(path("C:\\tools\\quorcli.exe"), "C:\\tools\\");
    EXPECT_EQ(path("a:quorcli"), "a:");
    EXPECT_EQ(path("/opt/q/"), "/opt/q/");
}

class CmdArguments : public ::testing::Test {
protected:
    void SetUp() override { clear(); }
    void TearDown() override { clear(); }
    static void clear() {
        setGlobalString(&startupProxy, nullptr);
        setGlobalString(&startupServer, nullptr);
        setGlobalString(&startupConfig, nullptr);
        options() = {};
    }
    // What the last parse took besides the preselections.
    static programOptions& options() {
        static programOptions taken;
        return taken;
    }
    static void parse(std::vector<std::string> args) {
        clear();
        args.insert(args.begin(), "/usr/bin/quorcli");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        ASSERT_EQ(parseCmdArguments(nullptr, static_cast<int>(argv.size()), argv.data(), &options()), 0);
    }
    static std::string proxy() { return startupProxy ? startupProxy : "<none>"; }
    static std::string server() { return startupServer ? startupServer : "<none>"; }
};

TEST_F(CmdArguments, LaterProxyOrDirectWins) {
    parse({"--direct", "--proxy=Office"});
    EXPECT_EQ(proxy(), "Office");
    parse({"--proxy=Office", "--direct"});
    EXPECT_EQ(proxy(), "[Direct Connection]");
    parse({"--server=a", "--server=b", "--proxy=p"});
    EXPECT_EQ(server(), "b");
    EXPECT_EQ(proxy(), "p");
}

TEST_F(CmdArguments, ValuesAreTrimmedAndMayBeEmpty) {
    parse({"--proxy"});
    EXPECT_EQ(proxy(), "");
    parse({"--server="});
    EXPECT_EQ(server(), "");
    EXPECT_EQ(proxy(), "<none>");
    parse({"  --server=  Main box  ", "--proxy=a=b"});
    EXPECT_EQ(server(), "Main box");
    EXPECT_EQ(proxy(), "a=b");
    parse({"--proxy=" + std::string(" ") + std::string(5000, 'x')});
    EXPECT_EQ(proxy(), std::string(3999, 'x'));  // cut to 4000, then trimmed
}

TEST_F(CmdArguments, ConfigPathIsTakenWholeAndNotMistakenForAnotherOption) {
    const std::string longPath = "/" + std::string(5000, 'c');
    parse({"--config= /my dir/q=1.cfg ", "--proxy=p"});
    EXPECT_EQ(startupConfig ? startupConfig : "<none>", std::string(" /my dir/q=1.cfg "));
    EXPECT_EQ(proxy(), "p");
    parse({"--config=" + longPath, "--server=--config=x"});
    EXPECT_EQ(startupConfig ? startupConfig : "<none>", longPath);
    EXPECT_EQ(server(), "--config=x");
    parse({"--config"});
    EXPECT_EQ(startupConfig ? startupConfig : "<none>", std::string());
    releaseProgramStrings();
    EXPECT_EQ(startupConfig, nullptr);
}

TEST_F(CmdArguments, DirectUsesThePrefixComparison) {
    for (const char* arg : {"--DIRECT", "--dir", "-", "--directly", "--Direct"}) {
        parse({arg});
        EXPECT_EQ(proxy(), "[Direct Connection]") << arg;
    }
    for (const char* arg : {"--dx", "", "-m", "direct"}) {
        parse({arg});
        EXPECT_EQ(proxy(), "<none>") << arg;
    }
}

// --reconnect is a switch of its own: the whole argument, not a prefix, and
// it leaves the preselections alone.
TEST_F(CmdArguments, ReconnectIsTheWholeArgument) {
    parse({"--reconnect", "--server=a"});
    EXPECT_TRUE(options().reconnect);
    EXPECT_EQ(server(), "a");
    EXPECT_EQ(proxy(), "<none>");
    for (const char* arg : {"--reconnect=1", "--reconnectx", "--reconn", "--RECONNECT", "reconnect"}) {
        parse({arg});
        EXPECT_FALSE(options().reconnect) << arg;
        EXPECT_EQ(proxy(), "<none>") << arg;
    }
}

TEST_F(CmdArguments, OptionNamesAreCaseSensitive) {
    parse({"--PROXY=x", "--Server=y"});
    EXPECT_EQ(proxy(), "<none>");
    EXPECT_EQ(server(), "<none>");
    parse({"/usr/bin/quorcli"});
    EXPECT_EQ(proxy(), "<none>");
}

TEST_F(CmdArguments, CommandLineStringIsSplitIntoWords) {
    ASSERT_EQ(parseCmdArguments("quorcli  --proxy=Office\t--server=Main", 0, nullptr), 0);
    EXPECT_EQ(proxy(), "Office");
    EXPECT_EQ(server(), "Main");
    char line[] = "  a bb   ccc ";
    char* words[2];
    EXPECT_EQ(parseCmdLine(line, words, 2), 2);
    EXPECT_STREQ(words[0], "a");
    EXPECT_STREQ(words[1], "bb");
}

TEST(Signals, InterruptIsIgnoredAndTerminationRaisesExit) {
    struct sigaction oldTerm {}, oldInt {}, oldHup {};
    sigaction(SIGTERM, nullptr, &oldTerm);
    sigaction(SIGINT, nullptr, &oldInt);
    sigaction(SIGHUP, nullptr, &oldHup);
    EXIT = 0;
    installSignalHandlers();
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(now.sa_flags & SA_RESTART, 0);

    raise(SIGINT);
    raise(SIGINT);  // still handled after the first one
    EXPECT_EQ(EXIT, 0);
    raise(SIGTERM);  // returns at once
    EXPECT_EQ(EXIT, 1);
    EXIT = 0;
    raise(SIGHUP);
    EXPECT_EQ(EXIT, 1);
    EXIT = 0;

    sigaction(SIGTERM, &oldTerm, nullptr);
    sigaction(SIGINT, &oldInt, nullptr);
    sigaction(SIGHUP, &oldHup, nullptr);
}

}  // namespace
