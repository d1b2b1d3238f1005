// Where the configuration file lives: the choice over a system that the test
// describes (Linux and Windows conventions), and this system's own answers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "client/cfgplace.h"

namespace {

namespace fs = std::filesystem;

// A system described by its answers; every question is answered from here.
struct fakeSystem {
    bool windows = false;
    std::map<std::string, std::string> env;
    std::string accountHome;
    std::set<std::string> present;    // paths where something is
    std::set<std::string> writable;   // folders ("" the current one)
    std::set<std::string> installed;  // system program folders
    std::string realFolder;           // where the running program really is

    cfgPlaceSystem system() const
    {
        cfgPlaceSystem s;
        s.separator = windows ? '\\' : '/';
        s.userVariable = windows ? "APPDATA" : "XDG_CONFIG_HOME";
        s.homeVariable = windows ? "USERPROFILE" : "HOME";
        s.homeSubfolder = windows ? "AppData\\Roaming" : ".config";
        s.environment = [this](const char* name) {
            auto it = env.find(name);
            return it == env.end() ? std::string() : it->second;
        };
        s.accountHome = [this] { return accountHome; };
        s.exists = [this](const std::string& p) { return present.count(p) > 0; };
        s.folderWritable = [this](const std::string& f) { return writable.count(f) > 0; };
        s.realProgramFolder = [this] { return realFolder; };
        s.isSystemFolder = [this](const std::string& f) { return installed.count(f) > 0; };
        return s;
    }
};

struct placeCase {
    const char* what;
    const char* option;         // --config= value, or null
    const char* programFolder;  // as the program's name says
    fakeSystem sys;
    const char* path;           // expected file
    const char* userFolder;     // expected folder to make, "" none
    const char* unsaveable = nullptr;   // why a save could not succeed; null: not looked at
};

fakeSystem linuxUser(std::set<std::string> present = {}, std::set<std::string> writable = {})
{
    fakeSystem s;
    s.env = {{"HOME", "/home/u"}};
    s.accountHome = "/var/account";
    s.present = std::move(present);
    s.writable = std::move(writable);
    s.installed = {"/usr/bin/", "/usr/local/bin/"};
    return s;
}

fakeSystem with(fakeSystem s, std::map<std::string, std::string> env, std::string account = "/var/account")
{
    s.env = std::move(env);
    s.accountHome = std::move(account);
    return s;
}

fakeSystem runningFrom(fakeSystem s, std::string real)
{
    s.realFolder = std::move(real);
    return s;
}

fakeSystem windowsUser(std::map<std::string, std::string> env, std::set<std::string> writable = {})
{
    fakeSystem s;
    s.windows = true;
    s.env = std::move(env);
    s.writable = std::move(writable);
    s.installed = {"C:\\Program Files\\quorcli\\"};
    return s;
}

const char* const userCfg = "/home/u/.config/quorcli/quorcli.cfg";
const char* const userDir = "/home/u/.config/quorcli/";
const std::map<std::string, std::string> appData = {{"APPDATA", "C:\\Users\\u\\AppData\\Roaming"},
                                                    {"USERPROFILE", "C:\\Users\\u"}};

TEST(ConfigPlace, EachRuleInItsTurn)
{
    const placeCase cases[] = {
        // 1: named outright, whatever is beside the program
        {"--config= wins", "/etc/q.cfg", "/opt/q/", linuxUser({"/opt/q/quorcli.cfg"}, {"/opt/q/"}), "/etc/q.cfg", ""},
        {"relative --config=", "my.cfg", "/opt/q/", linuxUser(), "my.cfg", ""},
        {"empty --config= is not given", "", "/opt/q/", linuxUser({}, {"/opt/q/"}), "/opt/q/quorcli.cfg", ""},
        // 2: beside the program
        {"writable folder", nullptr, "/opt/q/", linuxUser({}, {"/opt/q/"}), "/opt/q/quorcli.cfg", ""},
        {"file in a read-only folder", nullptr, "/opt/q/", linuxUser({"/opt/q/quorcli.cfg"}), "/opt/q/quorcli.cfg",
         ""},
        {"file in a system folder", nullptr, "/usr/bin/", linuxUser({"/usr/bin/quorcli.cfg"}, {"/usr/bin/"}),
         "/usr/bin/quorcli.cfg", ""},
        // 3: the user's folder
        {"read-only folder", nullptr, "/opt/q/", linuxUser(), userCfg, userDir},
        {"system folder that root may write", nullptr, "/usr/bin/", linuxUser({}, {"/usr/bin/"}), userCfg, userDir},
        // started by the bare name: the current folder, unless installed
        {"bare, from a build folder", nullptr, "", runningFrom(linuxUser({}, {""}), "/home/u/build/"), "quorcli.cfg",
         ""},
        {"bare, real folder unknown", nullptr, "", linuxUser({}, {""}), "quorcli.cfg", ""},
        {"bare, read-only current folder", nullptr, "", runningFrom(linuxUser(), "/home/u/build/"), userCfg, userDir},
        {"bare, installed, through the search path", nullptr, "", runningFrom(linuxUser({}, {""}), "/usr/bin/"),
         userCfg, userDir},
        {"bare, installed, old file in the current folder", nullptr, "",
         runningFrom(linuxUser({"quorcli.cfg"}), "/usr/bin/"), "quorcli.cfg", ""},
        // where the user's folder is
        {"XDG_CONFIG_HOME", nullptr, "/opt/q/", with(linuxUser(), {{"XDG_CONFIG_HOME", "/x/cfg"}, {"HOME", "/h"}}),
         "/x/cfg/quorcli/quorcli.cfg", "/x/cfg/quorcli/"},
        {"XDG_CONFIG_HOME with a slash", nullptr, "/opt/q/", with(linuxUser(), {{"XDG_CONFIG_HOME", "/x/"}}),
         "/x/quorcli/quorcli.cfg", "/x/quorcli/"},
        {"relative XDG_CONFIG_HOME", nullptr, "/opt/q/",
         with(linuxUser(), {{"XDG_CONFIG_HOME", "rel/cfg"}, {"HOME", "/home/u"}}), userCfg, userDir},
        {"empty XDG_CONFIG_HOME", nullptr, "/opt/q/", with(linuxUser(), {{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/u"}}),
         userCfg, userDir},
        {"HOME unset", nullptr, "/opt/q/", with(linuxUser(), {}), "/var/account/.config/quorcli/quorcli.cfg",
         "/var/account/.config/quorcli/"},
        {"HOME relative", nullptr, "/opt/q/", with(linuxUser(), {{"HOME", "u"}}),
         "/var/account/.config/quorcli/quorcli.cfg", "/var/account/.config/quorcli/"},
        {"no home at all", nullptr, "/opt/q/", with(linuxUser(), {}, ""), "/opt/q/quorcli.cfg", "",
         "no home folder is known and /opt/q/ may not be written"},
        {"no home, a system folder root may write", nullptr, "/usr/bin/", with(linuxUser({}, {"/usr/bin/"}), {}, ""),
         "/usr/bin/quorcli.cfg", "", ""},
        {"user's folder cannot be made", nullptr, "/opt/q/", linuxUser({"/", "/home/u/"}), userCfg, userDir,
         "/home/u/.config/quorcli/ cannot be made"},
        // Windows
        {"Program Files", nullptr, "C:\\Program Files\\quorcli\\",
         windowsUser(appData, {"C:\\Program Files\\quorcli\\"}), "C:\\Users\\u\\AppData\\Roaming\\quorcli\\quorcli.cfg",
         "C:\\Users\\u\\AppData\\Roaming\\quorcli\\"},
        {"unpacked into a folder of its own", nullptr, "D:\\tools\\q\\", windowsUser(appData, {"D:\\tools\\q\\"}),
         "D:\\tools\\q\\quorcli.cfg", ""},
        {"APPDATA unset", nullptr, "C:\\ro\\", windowsUser({{"USERPROFILE", "C:\\Users\\u"}}),
         "C:\\Users\\u\\AppData\\Roaming\\quorcli\\quorcli.cfg", "C:\\Users\\u\\AppData\\Roaming\\quorcli\\"},
        {"APPDATA relative", nullptr, "C:\\ro\\", windowsUser({{"APPDATA", "Roaming"}, {"USERPROFILE", "E:/u/"}}),
         "E:/u/AppData\\Roaming\\quorcli\\quorcli.cfg", "E:/u/AppData\\Roaming\\quorcli\\"},
        {"APPDATA on a share", nullptr, "C:\\ro\\", windowsUser({{"APPDATA", "\\\\srv\\p\\u\\"}}),
         "\\\\srv\\p\\u\\quorcli\\quorcli.cfg", "\\\\srv\\p\\u\\quorcli\\"},
    };
    for (const placeCase& c : cases) {
        const cfgPlace place = cfgChoosePlace(c.option, c.programFolder, "quorcli.cfg", c.sys.system());
        EXPECT_EQ(place.path, c.path) << c.what;
        EXPECT_EQ(place.userFolder, c.userFolder) << c.what;
        EXPECT_TRUE(!c.unsaveable || place.unsaveable == c.unsaveable) << c.what << ": " << place.unsaveable;
    }
}

// This system's answers, on real folders.
class NativePlace : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override
    {
        char tmpl[] = "/tmp/quorcliplaceXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { fs::remove_all(dir); }
};

TEST_F(NativePlace, SystemFoldersExistenceAndTheRunningProgram)
{
    const cfgPlaceSystem& s = cfgNativeSystem();
    for (const char* f : {"/usr/bin/", "/usr/bin", "/usr/local/bin/", "/usr/bin/../bin/"})
        EXPECT_TRUE(s.isSystemFolder(f)) << f;
    EXPECT_FALSE(s.isSystemFolder(dir.string() + "/"));
    EXPECT_FALSE(s.isSystemFolder("/usr/"));
    EXPECT_FALSE(s.isSystemFolder(dir.string() + "/gone/"));

    fs::create_symlink(dir / "nowhere", dir / "dangling");
    EXPECT_TRUE(s.exists((dir / "dangling").string()));
    EXPECT_FALSE(s.exists((dir / "nowhere").string()));

    const std::string real = s.realProgramFolder();
    ASSERT_FALSE(real.empty());
    EXPECT_EQ(real.back(), '/');
    EXPECT_EQ(fs::canonical(real), fs::canonical(QUOR_BINARY_DIR "/tests"));
}

} // namespace
