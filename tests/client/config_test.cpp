// The configuration file: reading rules, the exact bytes written, stored
// passwords under the master password, and saving that never loses the old file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "client/cfgfile.h"
#include "client/cmain.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/keyboard_curses.h"
#include "console/term.h"
#include "list_util.h"

namespace {

namespace fs = std::filesystem;

using lists::proxyHeader;
using lists::serverHeader;
using lists::storedField;

class ConfigFile : public ::testing::Test, protected lists::ProgramFolder {
protected:
    std::unique_ptr<consoleMain> app;

    void SetUp() override { ASSERT_TRUE(makeFolder()); }
    void TearDown() override
    {
        app.reset();
        removeFolder();
    }

    // A fresh application object with its lists prepared as the main loop
    // does, then the file loaded.
    consoleMain& load()
    {
        app = std::make_unique<consoleMain>();
        app->servers.init(nullptr);
        app->proxies.init(nullptr);
        app->proxies.add(directConnectionText, app->proxies.getItemCount() + 1, nullptr);
        app->loadConfig("quorcli.cfg", app->servers, app->proxies);
        return *app;
    }
    std::string saved()
    {
        app->saveConfig();
        EXPECT_EQ(app->configError, "");
        return readFile();
    }
    serverInfo* server(int index) { return static_cast<serverInfo*>(app->servers.getItem(index)->data); }
    proxyInfo* proxy(int index) { return static_cast<proxyInfo*>(app->proxies.getItem(index)->data); }

    // Names in the directory other than the configuration file itself.
    int strayFiles() const
    {
        int n = 0;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != "quorcli.cfg") ++n;
        return n;
    }
};

TEST_F(ConfigFile, MissingFileGivesEmptyListsAndIsCreatedWithOnlyTheComments)
{
    load();
    EXPECT_EQ(app->servers.getItemCount(), 0);
    ASSERT_EQ(app->proxies.getItemCount(), 1);
    EXPECT_EQ(app->proxies.getItem(0)->data, nullptr);
    EXPECT_STREQ(app->configPath, cfg().c_str());
    EXPECT_EQ(saved(), serverHeader + proxyHeader);
}

TEST_F(ConfigFile, ServerLinesReadAndWriteBackSortedWithPortsSpelledOut)
{
    writeFile("; my servers\n"
              "server=b.example,Beta\n"
              "  server = 10.1.2.3:5000 \r\n"
              "server=x.example:77,\r\n"                 // empty description: dropped
              "Server=upper.example:1,Upper\r\n"         // keys are case-sensitive here
              "other=1\n"
              "\n"
              "server=a.example:80,Alpha, ,\n"           // stored-password field of the wrong length
              "server=c.example:-3x,Gamma\n"             // text after the port: kept as it is,
              "server=[::1]:1]:4242,Delta\n");           // listed so, and connected to nowhere
    load();
    ASSERT_EQ(app->servers.getItemCount(), 5);
    EXPECT_STREQ(server(0)->hostName, "10.1.2.3");
    EXPECT_EQ(server(0)->port, 5000);
    EXPECT_STREQ(server(0)->description, "10.1.2.3:5000");
    EXPECT_EQ(server(1)->port, 80);
    EXPECT_EQ(server(1)->hasPassword(), 0);
    EXPECT_EQ(server(2)->port, 4242);
    char line[81];
    serverList::makeLine(line, server(3));
    EXPECT_STREQ(line + 35, " - [::1]:1]:4242");
    app->quietFailures = true;
    EXPECT_EQ(app->connect(server(3), nullptr), 4007);
    EXPECT_EQ(saved(), serverHeader +
                           "server=10.1.2.3:5000,10.1.2.3:5000\r\n"
                           "server=a.example:80,Alpha\r\n"
                           "server=b.example:4242,Beta\r\n"
                           "server=[::1]:1]:4242,Delta\r\n"
                           "server=c.example:-3x,Gamma\r\n" +
                           proxyHeader);
}

TEST_F(ConfigFile, DescriptionsAreCutTo80ThenTrimmedAndCommasEndThem)
{
    const std::string d79(79, 'd');
    writeFile("server=h1:1, " + d79 + "xyz\n"      // 80 characters after the comma: " " + 79 d
              "server=h2:2," + d79 + " tail\n"     // cut inside the blank, which the trim removes
              "server=h3:3,Two, parts\n"           // a comma ends a server description
              "proxy=p:1,Office, 2nd floor\n");    // but not a proxy description
    load();
    ASSERT_EQ(app->servers.getItemCount(), 3);
    EXPECT_STREQ(server(0)->description, d79.c_str());
    EXPECT_STREQ(server(1)->description, d79.c_str());
    EXPECT_STREQ(server(2)->description, "Two");
    EXPECT_STREQ(proxy(1)->description, "Office, 2nd floor");
}

TEST_F(ConfigFile, ProxyLinesKeepTheirCredentialFormsAndSortAroundTheDirectEntry)
{
    writeFile("proxy=user:pw:x@10.0.0.9:3128,Office\n"
              "proxy=anon@p.example,Anonymous\n"
              "proxy=u:@q.example:81,Empty password\n"
              "proxy=r.example:82,mail@desc\n"
              "proxy=s.example:83,1st floor\n"
              "proxy=t.example:84,\n");
    load();
    ASSERT_EQ(app->proxies.getItemCount(), 6);
    EXPECT_STREQ(proxy(0)->description, "1st floor");
    EXPECT_EQ(app->proxies.getItem(1)->data, nullptr);   // "[Direct Connection]"
    proxyInfo* office = nullptr;
    for (int i = 2; i < 6; ++i)
        if (!strcmp(proxy(i)->description, "Office")) office = proxy(i);
    ASSERT_NE(office, nullptr);
    EXPECT_STREQ(office->userName, "user");
    EXPECT_STREQ(office->password, "pw:x");
    EXPECT_STREQ(office->hostName, "10.0.0.9");
    EXPECT_EQ(office->port, 3128);
    EXPECT_EQ(saved(), serverHeader + proxyHeader +
                           "proxy=s.example:83,1st floor\r\n"
                           "proxy=anon@p.example:8080,Anonymous\r\n"
                           "proxy=u:@q.example:81,Empty password\r\n"
                           "proxy=r.example:82,mail@desc\r\n"
                           "proxy=user:pw:x@10.0.0.9:3128,Office\r\n");
}

// Tunnel lines are items of the proxy list: written in its order among the
// proxy lines. The command ends at the first comma; both texts are trimmed,
// and a line without either is dropped.
TEST_F(ConfigFile, TunnelLinesReadAndWriteBackAmongTheProxies)
{
    const std::string d80(80, 'd');
    writeFile("proxy=p.example:3128,Office\n"
              " tunnel = ssh -W %h:%p 'jump host' , Bastion, east \r\n"
              "tunnel=relay %h %p\n"                   // no description: dropped
              "tunnel= ,Empty command\n"
              "tunnel=nc %h %p,\n"
              "Tunnel=nc %h %p,Upper\n"                // keys are case-sensitive here
              "tunnel=nc %h %p,   " + d80 + "x\n"      // cut to 80, then trimmed
              "tunnel=a=b,%%,Percent\n");
    load();
    ASSERT_EQ(app->proxies.getItemCount(), 5);
    EXPECT_STREQ(proxy(0)->command, "a=b");
    EXPECT_STREQ(proxy(0)->description, "%%,Percent");
    EXPECT_STREQ(proxy(2)->command, "ssh -W %h:%p 'jump host'");
    EXPECT_STREQ(proxy(2)->description, "Bastion, east");
    EXPECT_EQ(proxy(2)->hostName, nullptr);
    EXPECT_EQ(std::string(proxy(3)->description), std::string(77, 'd'));
    EXPECT_EQ(saved(), serverHeader + proxyHeader +
                           "tunnel=a=b,%%,Percent\r\n"
                           "tunnel=ssh -W %h:%p 'jump host',Bastion, east\r\n"
                           "tunnel=nc %h %p," + std::string(77, 'd') + "\r\n"
                           "proxy=p.example:3128,Office\r\n");
}

// IPv6 literals read from brackets and are written in them; one without
// brackets has text after its "port", and is kept as it was written.
TEST_F(ConfigFile, IPv6LiteralsAreReadAndWrittenInBrackets)
{
    writeFile("server=[2001:db8::1]:4243,Lab\n"
              "server=2001:db8::2,Bare\n"
              "proxy=user:pw@[2001:db8::2]:8081,Desk\n"
              "proxy=[::1],Local\n");
    load();
    EXPECT_STREQ(server(1)->hostName, "2001:db8::1");
    EXPECT_STREQ(proxy(1)->hostName, "2001:db8::2");
    EXPECT_EQ(saved(), serverHeader +
                           "server=2001:db8::2,Bare\r\n"
                           "server=[2001:db8::1]:4243,Lab\r\n" +
                           proxyHeader +
                           "proxy=user:pw@[2001:db8::2]:8081,Desk\r\n"
                           "proxy=[::1]:8080,Local\r\n");
}

TEST_F(ConfigFile, EqualItemTextsComeOutInReverseOrder)
{
    // The item texts compare equal (case folded; the description is shown
    // only up to 40 characters), so each newly read entry goes first.
    const std::string long40(40, 'L');
    writeFile("server=h:1,Twin\n"
              "server=h:1,TWIN\n"
              "server=h:9," + long40 + "-one\n"
              "server=h:9," + long40 + "-two\n");
    load();
    EXPECT_EQ(saved(), serverHeader +
                           "server=h:9," + long40 + "-two\r\n"
                           "server=h:9," + long40 + "-one\r\n"
                           "server=h:1,TWIN\r\n"
                           "server=h:1,Twin\r\n" +
                           proxyHeader);
}

TEST_F(ConfigFile, StoredPasswordFieldNeedsExactly42HexDigits)
{
    const std::string good = storedField("secret", "master");
    std::string upper = good;
    for (char& c : upper) c = static_cast<char>(toupper(c));
    std::string damaged = good;
    damaged.replace(4, 2, "zq");
    writeFile("server=h:1,Upper," + upper + "\n"
              "server=h:2,Short," + good.substr(0, 41) + "\n"
              "server=h:3,Long," + good + "0\n"
              "server=h:4,Padded,  " + good + "  \n"
              "server=h:5,Damaged," + damaged + "\n");
    load();
    ASSERT_EQ(app->servers.getItemCount(), 5);
    EXPECT_EQ(server(0)->hasPassword(), 1);   // Damaged
    EXPECT_EQ(server(0)->password[2], 0xFF);
    EXPECT_EQ(server(1)->hasPassword(), 0);   // Long
    EXPECT_EQ(server(2)->hasPassword(), 1);   // Padded
    EXPECT_EQ(server(3)->hasPassword(), 0);   // Short
    EXPECT_EQ(server(4)->hasPassword(), 1);   // Upper
    std::string expectDamaged = good;
    expectDamaged.replace(4, 2, "ff");
    // No master password: the bytes go back as they were read, in lower case.
    EXPECT_EQ(saved(), serverHeader +
                           "server=h:5,Damaged," + expectDamaged + "\r\n"
                           "server=h:3,Long\r\n"
                           "server=h:4,Padded," + good + "\r\n"
                           "server=h:2,Short\r\n"
                           "server=h:1,Upper," + good + "\r\n" +
                           proxyHeader);
}

TEST_F(ConfigFile, StoredPasswordsAreEncryptedUnderTheMasterPasswordAndBack)
{
    writeFile("server=a:1,Alpha\nserver=b:2,Beta\nserver=c:3,Gamma\n");
    load();
    server(0)->setPassword("one");
    server(1)->setPassword("one");
    app->servers.setMasterPassword("m1");
    const std::string file = saved();
    // A fresh cipher per entry: equal passwords give equal fields.
    const std::string field = storedField("one", "m1");
    EXPECT_EQ(file, serverHeader + "server=a:1,Alpha," + field + "\r\nserver=b:2,Beta," + field +
                        "\r\nserver=c:3,Gamma\r\n" + proxyHeader);

    app->servers.setMasterPassword(nullptr);
    load();
    ASSERT_EQ(app->servers.hasPasswords(), 1);
    unsigned char before[storedPasswordLen];
    memcpy(before, server(0)->password, sizeof before);
    EXPECT_EQ(app->servers.decrypt("m2"), 1);
    EXPECT_EQ(memcmp(before, server(0)->password, sizeof before), 0);
    EXPECT_EQ(server(1)->hasPassword(), 1);

    EXPECT_EQ(app->servers.decrypt("m1"), 0);
    unsigned char digest[16];
    serverInfo::makePassword(digest, "one");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(server(i)->hasPassword(), 1);
        EXPECT_EQ(memcmp(server(i)->password, digest, 16), 0);
        EXPECT_EQ(memcmp(server(i)->password + 16, "40981", 5), 0);
    }
    // Saved again under the same master password, the file is unchanged.
    app->servers.setMasterPassword("m1");
    EXPECT_EQ(saved(), file);
}

TEST_F(ConfigFile, OnlyTheFirstStoredPasswordJudgesTheMasterPassword)
{
    writeFile("server=a:1,Alpha," + storedField("pa", "first") + "\n" + "server=b:2,Beta," +
              storedField("pb", "second") + "\n");
    load();
    EXPECT_EQ(app->servers.decrypt("second"), 1);
    EXPECT_EQ(server(1)->hasPassword(), 1);
    EXPECT_EQ(app->servers.decrypt("first"), 0);
    EXPECT_EQ(server(0)->hasPassword(), 1);
    EXPECT_EQ(server(1)->hasPassword(), 0);
    const unsigned char zeros[storedPasswordLen] = {};
    EXPECT_EQ(memcmp(server(1)->password, zeros, storedPasswordLen), 0);
    app->servers.setMasterPassword("first");
    EXPECT_EQ(saved(), serverHeader + "server=a:1,Alpha," + storedField("pa", "first") + "\r\nserver=b:2,Beta\r\n" +
                           proxyHeader);
}

TEST_F(ConfigFile, NothingToDecryptAcceptsAnyKey)
{
    writeFile("server=a:1,Alpha\n");
    load();
    EXPECT_EQ(app->servers.hasPasswords(), 0);
    EXPECT_EQ(app->servers.decrypt("anything"), 0);
    EXPECT_EQ(app->servers.decrypt(nullptr), 0);
    EXPECT_EQ(server(0)->hasPassword(), 0);
}

// A line longer than 3999 characters (without its end) is left out whole,
// with what its rest would have begun (here a tunnel line), and the end of
// the run says so; a line of 3999 characters is read.
TEST_F(ConfigFile, LinesLongerThan3999CharactersAreLeftOutWhole)
{
    std::string line = "proxy=p:1," + std::string(3989, 'd') + "tunnel=touch x,Hidden\n";
    std::string big = "server=" + std::string(3992, 'h') + "\r\n";
    writeFile(line + big + "server=" + std::string(3993, 'h') + "\r\nproxy=p:2,Rest");
    load();
    ASSERT_EQ(app->servers.getItemCount(), 1);
    EXPECT_EQ(strlen(server(0)->hostName), 3992u);
    EXPECT_EQ(strlen(server(0)->description), 80u);
    ASSERT_EQ(app->proxies.getItemCount(), 2);
    EXPECT_STREQ(proxy(1)->description, "Rest");
    EXPECT_EQ(app->configNote, cfg().string() + ": 2 lines longer than 3999 characters left out (the first: line 1)");
}

TEST_F(ConfigFile, BinaryJunkAndNulBytesNeverBreakTheReader)
{
    std::string junk;
    unsigned state = 12345;
    for (int i = 0; i < 200000; ++i) {
        state = state * 1103515245u + 12345u;
        junk += static_cast<char>(state >> 16);
    }
    junk += std::string("\nserver=nul\0hidden:1,X\n", 23);
    junk += "\nproxy=\xff\xfe:1,\x80\x81\n";
    writeFile(junk);
    load();
    bool foundNul = false;
    for (int i = 0; i < app->servers.getItemCount(); ++i)
        if (!strcmp(server(i)->hostName, "nul")) foundNul = true;
    EXPECT_TRUE(foundNul);
    const std::string out = saved();
    EXPECT_EQ(out.rfind(serverHeader, 0), 0u);
    EXPECT_NE(out.find("server=nul:4242,nul\r\n"), std::string::npos);
    EXPECT_NE(out.find("proxy=\xff\xfe:1,\x80\x81\r\n"), std::string::npos);
}

TEST_F(ConfigFile, NewFileIsPrivateAndAnExistingFileKeepsItsMode)
{
    load();
    saved();
    struct stat st;
    ASSERT_EQ(stat(cfg().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(chmod(cfg().c_str(), 0644), 0);
    saved();
    ASSERT_EQ(stat(cfg().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    EXPECT_EQ(strayFiles(), 0);
}

TEST_F(ConfigFile, SymbolicLinksKeepPointingWhereTheyPointedEvenWhenDangling)
{
    // quorcli.cfg -> links/next -> ../data/real.cfg, each relative to its own
    // link's folder; real.cfg does not exist yet.
    fs::create_directory(dir / "links");
    fs::create_directory(dir / "data");
    fs::create_symlink("links/next", cfg());
    fs::create_symlink("../data/real.cfg", dir / "links" / "next");
    load();
    EXPECT_EQ(app->configError, "");
    app->servers.parse(std::string("a:1,Alpha").data());
    const std::string expected = serverHeader + "server=a:1,Alpha\r\n" + proxyHeader;
    EXPECT_EQ(saved(), expected);
    EXPECT_EQ(fs::read_symlink(cfg()), "links/next");
    EXPECT_EQ(fs::read_symlink(dir / "links" / "next"), "../data/real.cfg");
    EXPECT_EQ(readFile(dir / "data" / "real.cfg"), expected);
    load();   // through the links again, now to an existing file
    EXPECT_EQ(app->servers.getItemCount(), 1);
    EXPECT_EQ(saved(), expected);
    EXPECT_TRUE(fs::is_symlink(cfg()));
}

TEST_F(ConfigFile, AFileWithOtherLinksIsWrittenInPlaceAndEveryFileKeepsOwnerAndMode)
{
    writeFile("server=a:1,Alpha\n");
    ASSERT_EQ(link(cfg().c_str(), (dir / "other.cfg").c_str()), 0);
    ASSERT_EQ(chmod(cfg().c_str(), 0640), 0);
    struct stat before, after;
    ASSERT_EQ(stat(cfg().c_str(), &before), 0);
    load();
    const std::string expected = serverHeader + "server=a:1,Alpha\r\n" + proxyHeader;
    EXPECT_EQ(saved(), expected);
    EXPECT_EQ(readFile(dir / "other.cfg"), expected);
    ASSERT_EQ(stat(cfg().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode & 07777, 0640u);

    // A replaced file gets the old one's owner and mode (a test run as root
    // can give it another owner first).
    fs::remove(dir / "other.cfg");
    const uid_t owner = geteuid() == 0 ? 65534 : geteuid();
    const gid_t group = geteuid() == 0 ? 65534 : getegid();
    ASSERT_EQ(chown(cfg().c_str(), owner, group), 0);
    ASSERT_EQ(chmod(cfg().c_str(), 0604), 0);
    writeFile("server=b:2,Beta\n");
    load();
    EXPECT_EQ(saved(), serverHeader + "server=b:2,Beta\r\n" + proxyHeader);
    ASSERT_EQ(stat(cfg().c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, owner);
    EXPECT_EQ(after.st_gid, group);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    EXPECT_EQ(strayFiles(), 0);
}

TEST_F(ConfigFile, AKilledSaveLeavesAPrivateTemporaryFileThatTheNextStartRemoves)
{
    std::string many;
    for (int i = 0; i < 50; ++i) many += "server=h" + std::to_string(i) + ":1,Server number " + std::to_string(i) + "\n";
    writeFile(many);
    ASSERT_EQ(chmod(cfg().c_str(), 0644), 0);
    // A child whose save is killed half-way: its file size limit sends it
    // SIGXFSZ, whose default action ends it on the spot.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        struct rlimit none = {0, 0}, small = {300, 300};
        setrlimit(RLIMIT_CORE, &none);
        signal(SIGXFSZ, SIG_DFL);
        load();
        setrlimit(RLIMIT_FSIZE, &small);
        app->saveConfig();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ);
    EXPECT_EQ(readFile(), many);
    fs::path leftover;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("quorcli.cfg.tmp.", 0) == 0) leftover = e.path();
    ASSERT_FALSE(leftover.empty());
    struct stat st;
    ASSERT_EQ(stat(leftover.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    // Names that only look alike, and what is not a regular file of ours, stay.
    const std::vector<std::string> keep = {"quorcli.cfg.tmp.abc12", "quorcli.cfg.tmp.abc1234", "quorcli.cfg.tmp.ab-123",
                                           "quorcli.cfgx.tmp.abc123", "quorcli.cfg.tmp.dir123", "quorcli.cfg.tmp.lnk123",
                                           "quorcli.cfg.tmp.oth123"};
    for (size_t i = 0; i < 4; ++i) writeFile("x", dir / keep[i]);
    fs::create_directory(dir / keep[4]);
    fs::create_symlink("quorcli.cfg", dir / keep[5]);
    writeFile("x", dir / keep[6]);
    const bool asRoot = geteuid() == 0;
    if (asRoot) {
        ASSERT_EQ(chown((dir / keep[6]).c_str(), 65534, 65534), 0);
    }
    load();
    EXPECT_EQ(app->servers.getItemCount(), 50);
    EXPECT_FALSE(fs::exists(leftover));
    for (size_t i = 0; i < keep.size(); ++i)
        EXPECT_EQ(fs::exists(fs::symlink_status(dir / keep[i])), i < 6 || asRoot) << keep[i];
}

// Who may change the configuration, and what then comes of it: refused at
// start, tunnels that may not start, or a save that does not follow a link.
// The folder t holds the file, or a link to real.cfg beside it, or is the
// user's folder (XDG_CONFIG_HOME) of a program in a system folder.
TEST_F(ConfigFile, FilesFoldersAndLinksThatOthersControl)
{
    if (geteuid() != 0) GTEST_SKIP() << "needs root to hand files to another user";
    enum kind { plain, link, othersLink, big, user };
    struct row {
        const char* what;
        mode_t folderMode, fileMode;
        uid_t folderOwner, fileOwner;
        kind k;
        const char *refused, *notPrivate;   // after the work folder's path; "" none
        bool saves;
    };
    const uid_t other = 65534;
    const row rows[] = {
        {"private", 0700, 0600, 0, 0, plain, "", "", true},
        {"sticky folder", 01777, 0600, 0, 0, plain, "", "", true},
        {"group may write the file", 0755, 0620, 0, 0, plain, "", "/t/quorcli.cfg: writable by group (mode 0620)", true},
        {"another's file", 0755, 0644, 0, other, plain, "", "/t/quorcli.cfg: owned by nobody", true},
        {"another's folder", 0755, 0600, other, 0, plain, "", "/t: owned by nobody", true},
        {"others may write the folder", 0777, 0600, 0, 0, plain, "", "/t: writable by others (mode 0777)", true},
        {"others may write the file", 0755, 0646, 0, 0, plain, "/t/quorcli.cfg: writable by others (mode 0646)", "", 0},
        {"over 16 MB", 0755, 0600, 0, 0, big, "/t/quorcli.cfg: larger than 16 MB", "", false},
        {"private link", 0755, 0600, 0, 0, link, "", "", true},
        {"link in a group's folder", 0775, 0600, 0, 0, link, "", "/t: writable by group (mode 0775)", false},
        {"another's link", 0755, 0600, 0, 0, othersLink, "", "/t/quorcli.cfg: owned by nobody", false},
        {"link to a file others may write", 0755, 0666, 0, 0, link, "/real.cfg: writable by others (mode 0666)", "", 0},
        {"another's user folder", 0755, 0, other, 0, user, "/t: configuration folder owned by nobody", "", false},
        {"open user folder", 0777, 0, 0, 0, user, "/t: configuration folder writable by others (mode 0777)", "", 0},
        {"sticky user folder", 01777, 0, 0, 0, user, "", "", true},
    };
    const std::string content = "server=a:1,Alpha\n";
    for (const row& r : rows) {
        const fs::path t = dir / "t", file = r.k == link || r.k == othersLink ? dir / "real.cfg" : t / "quorcli.cfg";
        fs::remove_all(t);
        fs::create_directory(t);
        if (r.k != user) writeFile(content, file);
        if (r.k == big) fs::resize_file(file, static_cast<uintmax_t>(cfgMaxBytes) + 1);
        if (r.k == link || r.k == othersLink) fs::create_symlink("../real.cfg", t / "quorcli.cfg");
        ASSERT_TRUE(r.k != othersLink || lchown((t / "quorcli.cfg").c_str(), other, other) == 0);
        ASSERT_TRUE(r.k == user || (chown(file.c_str(), r.fileOwner, 0) == 0 && chmod(file.c_str(), r.fileMode) == 0));
        ASSERT_TRUE(chown(t.c_str(), r.folderOwner, 0) == 0 && chmod(t.c_str(), r.folderMode) == 0);
        setenv("XDG_CONFIG_HOME", t.c_str(), 1);
        setGlobalString(&modulePath, r.k == user ? "/usr/bin/" : (t.string() + "/").c_str());

        load();
        const std::string refused = *r.refused ? dir.string() + r.refused : "";
        EXPECT_EQ(app->configError, refused) << r.what;
        EXPECT_EQ(app->servers.getItemCount(), r.k == user || *r.refused ? 0 : 1) << r.what;
        if (*r.refused) continue;
        const std::string notPrivate = *r.notPrivate ? dir.string() + r.notPrivate : "";
        EXPECT_EQ(app->tunnelRefusal, notPrivate) << r.what;
        app->saveConfig();
        EXPECT_EQ(app->configError, r.saves ? "" : "cannot write " + std::string(app->configPath) +
                                                       ": symbolic link not followed: " + notPrivate) << r.what;
        EXPECT_TRUE(r.saves || readFile(file) == content) << r.what;
    }
    unsetenv("XDG_CONFIG_HOME");
}

// A start while another instance saves waits for that save (the folder's
// lock) instead of removing its temporary file, and reads what it wrote.
TEST_F(ConfigFile, AStartWaitsForASaveGoingOn)
{
    writeFile("server=old:1,Old\n");
    writeFile("server=new:1,New\n", dir / "quorcli.cfg.tmp.abc123");
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    std::thread saver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        EXPECT_EQ(rename((dir / "quorcli.cfg.tmp.abc123").c_str(), cfg().c_str()), 0);
        close(fd);
    });
    load();
    saver.join();
    EXPECT_EQ(saved(), serverHeader + "server=new:1,New\r\n" + proxyHeader);
}

// Answers the dialogs of the list screens as they come: Enter at a refusal,
// and at every input box, after emptying its field, Esc now and then or a
// random text from a small alphabet full of what the file format treats
// specially.
class DialogAnswerer : public MemoryTerminal {
public:
    std::mt19937 rng{20240607};
    int refusals = 0;

    int readKey(int timeoutMs, INPUT_RECORD& record) override
    {
        if (keys.empty()) answer();
        return MemoryTerminal::readKey(timeoutMs, record);
    }

private:
    bool shows(const char* text) const
    {
        for (int r = 0; r < 25; ++r)
            if (rowText(r).find(text) != std::string::npos) return true;
        return false;
    }
    void answer()
    {
        if (shows("cannot be used here.")) {
            ++refusals;
            pushKey(13);
            return;
        }
        for (int i = 0; i < 64; ++i) pushKey(KEY_DC);   // the caret starts at the beginning
        if (rng() % 12 == 0) {
            pushKey(27);
            return;
        }
        static const char alphabet[] = " ,:@a1\xE9[]";
        std::string text;
        for (unsigned n = rng() % 7; n > 0; --n) text += alphabet[rng() % (sizeof alphabet - 1)];
        pushText(text);
        pushKey(13);
    }
};

// Every entry of both lists as text, sorted: what a save and a load must keep.
std::vector<std::string> entriesOf(consoleMain& app)
{
    std::vector<std::string> all;
    auto opt = [](const char* t) { return t ? "[" + std::string(t) + "]" : std::string("none"); };
    for (menuItem* it = app.servers.items.first; it; it = it->next)
        if (auto* s = static_cast<serverInfo*>(it->data))
            all.push_back("server " + opt(s->hostName) + " " + std::to_string(s->port) + " " + opt(s->description));
    for (menuItem* it = app.proxies.items.first; it; it = it->next)
        if (auto* p = static_cast<proxyInfo*>(it->data))
            all.push_back("proxy " + opt(p->userName) + " " + opt(p->password) + " " + opt(p->hostName) + " " +
                          std::to_string(p->port) + " " + opt(p->description));
    std::sort(all.begin(), all.end());
    return all;
}

TEST_F(ConfigFile, EveryTextTheDialogsAcceptSurvivesASaveAndALoad)
{
    DialogAnswerer term;
    setTerminal(&term);
    keyboardInputInit(nullptr);
    load();
    for (int step = 0; step < 600; ++step) {
        consoleMenu& list = term.rng() % 2 ? static_cast<consoleMenu&>(app->servers) : app->proxies;
        if (list.getItemCount() > 0 && term.rng() % 3 == 0) {
            list.active = static_cast<int32_t>(term.rng() % static_cast<unsigned>(list.getItemCount()));
            if (&list == &app->servers) app->servers.onEditItem();
            else app->proxies.onEditItem();
        } else {
            list.onInsert();
        }
    }
    setTerminal(nullptr);
    const std::vector<std::string> before = entriesOf(*app);
    saved();
    load();
    EXPECT_EQ(entriesOf(*app), before);
    EXPECT_GT(before.size(), 200u);
    EXPECT_GT(term.refusals, 50);
}

// A file that is there but cannot be read is reported and must not be saved
// over; one that cannot be written is reported at the save.
TEST_F(ConfigFile, ADirectoryInThePlaceOfTheFileIsReportedAndKept)
{
    fs::create_directory(cfg());
    writeFile("keep me", cfg() / "inside");
    load();
    EXPECT_EQ(app->servers.getItemCount(), 0);
    EXPECT_EQ(app->configError, "cannot read " + cfg().string() + ": " + strerror(EISDIR));
    app->saveConfig();
    EXPECT_EQ(app->configError, "cannot write " + cfg().string() + ": " + strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(cfg()));
    EXPECT_EQ(readFile(cfg() / "inside"), "keep me");
    EXPECT_EQ(strayFiles(), 0);
}

TEST_F(ConfigFile, AFifoInThePlaceOfTheFileIsReportedWithoutHoldingTheStart)
{
    ASSERT_EQ(mkfifo(cfg().c_str(), 0600), 0);
    // Loaded in a child, so that a reader stuck on the FIFO can be ended.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        load();
        _exit(app->configError == "cannot read " + cfg().string() + ": Not a regular file" ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 2000 && done == 0; ++i) {   // 20 s and more
        done = waitpid(pid, &status, WNOHANG);
        if (done == 0) usleep(10000);
    }
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        FAIL() << "loading a FIFO did not return";
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(ConfigFile, AMissingDirectoryIsReportedWithThePath)
{
    setGlobalString(&startupConfig, (dir.string() + "/gone/quorcli.cfg").c_str());
    load();
    EXPECT_EQ(app->configError, "");
    app->saveConfig();
    EXPECT_EQ(app->configError, "cannot write " + dir.string() + "/gone/quorcli.cfg: " + strerror(ENOENT));
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

TEST_F(ConfigFile, AVeryLongProgramDirectoryIsHandled)
{
    std::string longDir = dir.string() + "/" + std::string(5000, 'p') + "/";
    setGlobalString(&startupConfig, (longDir + "quorcli.cfg").c_str());
    load();
    EXPECT_EQ(std::string(app->configPath), longDir + "quorcli.cfg");
    EXPECT_EQ(app->configError, "cannot read " + longDir + "quorcli.cfg: " + strerror(ENAMETOOLONG));
}

TEST_F(ConfigFile, AWriteThatFailsHalfwayLeavesTheOldFileAsItWas)
{
    std::string old = "server=keep:1,Keep\n";
    writeFile(old);
    load();
    for (int i = 0; i < 50; ++i) {
        char line[64];
        snprintf(line, sizeof line, "h%d:1,Server number %d", i, i);
        app->servers.parse(line);
    }
    // Files of this process may not grow past 200 bytes for the moment.
    struct rlimit before, small = {200, 200};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    small.rlim_max = before.rlim_max;
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    app->saveConfig();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(app->configError, "cannot write " + cfg().string() + ": " + strerror(EFBIG));
    EXPECT_EQ(readFile(), old);
    EXPECT_EQ(strayFiles(), 0);
}

}  // namespace
