// The configuration file on Windows: read with letter-case-blind keys,
// written with CR LF, replaced whole, a read-only file left alone, and the
// leftovers of interrupted saves removed.

#include <cerrno>

#include "tests/win32/win_util.h"

using namespace win;

namespace {

const std::string saved =
    "; QUORVEX servers (hostname:port,description,password)\r\n"
    "server=a.example:4242,Alpha\r\n"
    "server=b.example:5000,Beta\r\n"
    "\r\n"
    "; Proxy servers (user:pass@proxyhostname:port,description)\r\n"
    "proxy=user:pw@10.0.0.9:3128,Office\r\n";

// The file's identity, which a replacement changes and an in-place write keeps.
std::pair<DWORD, DWORD> fileIndex(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info{};
    if (h != INVALID_HANDLE_VALUE) {
        GetFileInformationByHandle(h, &info);
        CloseHandle(h);
    }
    return {info.nFileIndexHigh, info.nFileIndexLow};
}

class ConfigFile : public ::testing::Test {
protected:
    ProgramFolder folder;
    consoleMain app;
    void load() {
        app.servers.init(nullptr);
        app.proxies.init(nullptr);
        app.loadConfig("quorcli.cfg", app.servers, app.proxies);
        EXPECT_EQ(app.configError, "");
    }
};

}  // namespace

TEST_F(ConfigFile, SavedWithCrLfOverTheOldFileWithoutLeftovers) {
    folder.write("quorcli.cfg", "SERVER=b.example:5000,Beta\nserver=a.example,Alpha\nProxy=user:pw@10.0.0.9:3128,Office\n");
    const char* leftovers[] = {"quorcli.cfg.tmp.a1B2c3", "quorcli.cfg.tmp.zzzzzz"};
    const char* others[] = {"quorcli.cfg.tmp.abc", "quorcli.cfg.tmp.ab-cd1", "other.cfg.tmp.abcdef"};
    for (const char* name : leftovers) folder.write(name, "server=x.example,Secret\r\n");
    for (const char* name : others) folder.write(name, "kept");
    const auto before = fileIndex(folder.file("quorcli.cfg"));
    ASSERT_NE(before, std::make_pair(DWORD{0}, DWORD{0})) << "no identity to compare";

    load();
    for (const char* name : leftovers) EXPECT_FALSE(folder.exists(name)) << name;
    for (const char* name : others) EXPECT_TRUE(folder.exists(name)) << name;
    ASSERT_EQ(app.servers.getItemCount(), 2);

    app.saveConfig();
    EXPECT_EQ(app.configError, "");
    EXPECT_EQ(folder.read("quorcli.cfg"), saved);
    EXPECT_NE(fileIndex(folder.file("quorcli.cfg")), before) << "written in place, not replaced";
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA(folder.file("quorcli.cfg.tmp.*").c_str(), &found);
    int temporaries = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do {
            ++temporaries;
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    EXPECT_EQ(temporaries, 2) << "only the two that are not the program's";
}

TEST_F(ConfigFile, AReadOnlyFileIsLeftAloneAndTheErrorReported) {
    const std::string old = "server=a.example,Alpha\n";
    folder.write("quorcli.cfg", old);
    ASSERT_TRUE(SetFileAttributesA(folder.file("quorcli.cfg").c_str(), FILE_ATTRIBUTE_READONLY));
    load();
    char more[] = "c.example,Gamma";
    app.servers.parse(more);
    app.saveConfig();
    EXPECT_EQ(app.configError, "cannot write " + folder.file("quorcli.cfg") + ": " + std::strerror(EACCES));
    EXPECT_EQ(folder.read("quorcli.cfg"), old);
    EXPECT_EQ(GetFileAttributesA(folder.file("quorcli.cfg").c_str()) & FILE_ATTRIBUTE_READONLY,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

// Closing the console window: the program leaves in order and saves before
// the control handler lets the system end it.
TEST_F(ConfigFile, ClosingTheWindowSavesBeforeTheProgramEnds) {
    folder.write("quorcli.cfg", "server=b.example:5000,Beta\nserver=a.example,Alpha\nproxy=user:pw@10.0.0.9:3128,Office\n");
    QueueTerminal term;
    drainKeyQueue();
    setTerminal(&term);
    app.init(nullptr);
    std::string whenClosed;
    std::thread closer([&] {
        EXPECT_TRUE(term.waitForBlockingRead()) << "the lists are not shown";
        consoleCtrlHandler(CTRL_CLOSE_EVENT);
        whenClosed = folder.read("quorcli.cfg");
    });
    app.execute();
    programLeft();
    closer.join();
    EXIT = 0;
    setTerminal(nullptr);
    EXPECT_EQ(whenClosed, saved);
}
