// The configuration file: reading rules, the exact bytes written, stored
// passwords under the master password, and saving that never loses the old file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "client/cmain.h"
#include "console/global.h"
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
        EXPECT_EQ(app->saveError, "");
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
              "server=c.example:-3x,Gamma\n");
    load();
    ASSERT_EQ(app->servers.getItemCount(), 4);
    EXPECT_STREQ(server(0)->hostName, "10.1.2.3");
    EXPECT_EQ(server(0)->port, 5000);
    EXPECT_STREQ(server(0)->description, "10.1.2.3:5000");
    EXPECT_EQ(server(1)->port, 80);
    EXPECT_EQ(server(1)->hasPassword(), 0);
    EXPECT_EQ(server(2)->port, 4242);
    EXPECT_EQ(server(3)->port, -3);
    EXPECT_EQ(saved(), serverHeader +
                           "server=10.1.2.3:5000,10.1.2.3:5000\r\n"
                           "server=a.example:80,Alpha\r\n"
                           "server=b.example:4242,Beta\r\n"
                           "server=c.example:-3,Gamma\r\n" +
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
    setGlobalString(&masterPassword, "m1");
    const std::string file = saved();
    // A fresh cipher per entry: equal passwords give equal fields.
    const std::string field = storedField("one", "m1");
    EXPECT_EQ(file, serverHeader + "server=a:1,Alpha," + field + "\r\nserver=b:2,Beta," + field +
                        "\r\nserver=c:3,Gamma\r\n" + proxyHeader);

    setGlobalString(&masterPassword, nullptr);
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
    setGlobalString(&masterPassword, "m1");
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
    setGlobalString(&masterPassword, "first");
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

TEST_F(ConfigFile, LongLinesAreReadIn3999CharacterPieces)
{
    // The first piece of this line is a comment; its rest begins with a key.
    std::string line = "; " + std::string(3997, 'x') + "server=tail:1,Tail\n";
    // A server value that fills a whole piece, with no comma in it.
    std::string big = "server=" + std::string(3992, 'h') + "proxy=p:2,Rest\n";
    writeFile(line + big);
    load();
    ASSERT_EQ(app->servers.getItemCount(), 2);
    EXPECT_STREQ(server(1)->description, "Tail");
    EXPECT_EQ(strlen(server(0)->hostName), 3992u);
    EXPECT_EQ(strlen(server(0)->description), 80u);
    ASSERT_EQ(app->proxies.getItemCount(), 2);
    EXPECT_STREQ(proxy(1)->description, "Rest");
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

TEST_F(ConfigFile, ASymbolicLinkKeepsPointingAtTheWrittenFile)
{
    writeFile("server=a:1,Alpha\n", dir / "real.cfg");
    fs::create_symlink("real.cfg", cfg());
    load();
    ASSERT_EQ(app->servers.getItemCount(), 1);
    app->saveConfig();
    EXPECT_EQ(app->saveError, "");
    EXPECT_TRUE(fs::is_symlink(cfg()));
    EXPECT_EQ(readFile(dir / "real.cfg"), serverHeader + "server=a:1,Alpha\r\n" + proxyHeader);
}

TEST_F(ConfigFile, ADirectoryInThePlaceOfTheFileIsReportedAndKept)
{
    fs::create_directory(cfg());
    writeFile("keep me", cfg() / "inside");
    load();
    EXPECT_EQ(app->servers.getItemCount(), 0);
    app->saveConfig();
    EXPECT_EQ(app->saveError, cfg().string() + ": " + strerror(EISDIR));
    EXPECT_TRUE(fs::is_directory(cfg()));
    EXPECT_EQ(readFile(cfg() / "inside"), "keep me");
    EXPECT_EQ(strayFiles(), 0);
}

TEST_F(ConfigFile, AFifoInThePlaceOfTheFileDoesNotHoldTheStart)
{
    ASSERT_EQ(mkfifo(cfg().c_str(), 0600), 0);
    // Loaded in a child, so that a reader stuck on the FIFO can be ended.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        load();
        _exit(app->servers.getItemCount() == 0 ? 0 : 1);
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 500 && done == 0; ++i) {
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
    setGlobalString(&modulePath, (dir.string() + "/gone/").c_str());
    load();
    app->saveConfig();
    EXPECT_EQ(app->saveError, dir.string() + "/gone/quorcli.cfg: " + strerror(ENOENT));
    EXPECT_FALSE(fs::exists(dir / "gone"));
}

TEST_F(ConfigFile, AVeryLongProgramDirectoryIsHandled)
{
    std::string longDir = dir.string() + "/" + std::string(5000, 'p') + "/";
    setGlobalString(&modulePath, longDir.c_str());
    load();
    EXPECT_EQ(std::string(app->configPath), longDir + "quorcli.cfg");
    app->saveConfig();
    EXPECT_EQ(app->saveError.rfind(longDir + "quorcli.cfg: ", 0), 0u);
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
    EXPECT_EQ(app->saveError, cfg().string() + ": " + strerror(EFBIG));
    EXPECT_EQ(readFile(), old);
    EXPECT_EQ(strayFiles(), 0);
}

}  // namespace
