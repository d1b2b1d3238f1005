// The server list screen driven by scripted keys, and the server entry itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/srvlist.h"
#include "console/global.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "list_util.h"

namespace {

const char mismatch[] = "Entered passwords does not match, try it again please.";
const char mustSet[] = "You must set master password before saving server passwords.";
const char wasSet[] = "Master password has been succesfully set.";
const char wasCleared[] = "Master password has been succesfully cleared.";

class ServerScreen : public lists::ListScreenTest<serverList, serverInfo> {
protected:
    void SetUp() override
    {
        list.setMasterPassword(nullptr);
        ListScreenTest::SetUp();
    }
    void TearDown() override
    {
        ListScreenTest::TearDown();
        list.setMasterPassword(nullptr);
    }
    void pressF(int n) { term.pushKey(KEY_F(n)); }
};

std::string padded(const std::string& desc) { return desc + std::string(35 - desc.size(), ' '); }

TEST_F(ServerScreen, InsertShowsThePortOnlyWhenItIsNotTheDefault)
{
    term.pushKey(KEY_IC);
    term.type("Box");
    term.type("10.1.2.3");
    term.pushKey(KEY_IC);
    term.type("Cube");
    term.type("10.1.2.3:5000");
    term.pushKey(KEY_IC);
    term.type("Dome");
    term.type("10.1.2.3:4242");
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(list.getItemCount(), 3);
    EXPECT_EQ(text(0), padded("Box") + " - 10.1.2.3");
    EXPECT_EQ(text(1), padded("Cube") + " - 10.1.2.3:5000");
    EXPECT_EQ(text(2), padded("Dome") + " - 10.1.2.3");
    EXPECT_EQ(entry(1)->port, 5000);
    EXPECT_EQ(entry(2)->port, 4242);
    EXPECT_EQ(list.getItem(1)->id, 2);
    EXPECT_GE(term.firstShown("Enter description:"), 0);
    EXPECT_GE(term.firstShown("Enter server address (hostname:port)."), 0);
}

// An IPv6 literal is typed, shown and offered again in brackets; a long one
// keeps its brackets within the host's 30 columns.
TEST_F(ServerScreen, IPv6LiteralsAreTypedShownAndOfferedInBrackets)
{
    add("[2001:0db8:85a3:0000:0000:8a2e:0370:7334],Wide");
    term.pushKey(KEY_IC);
    term.type("Six");
    term.type("[2001:db8::1]:5000");
    pressF(3);   // on Six, the new active item
    term.pushKey(13);
    term.pushKey(13);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(text(0), padded("Six") + " - [2001:db8::1]:5000");
    EXPECT_EQ(text(1), padded("Wide") + " - [2001:0db8:85a3:0000:0000:8a2]");
    EXPECT_EQ(term.trimmedFieldWhile("Change server address (hostname:port)."), "[2001:db8::1]:5000");
}

TEST_F(ServerScreen, LongDescriptionsAreShownCutAndStoredUpTo80)
{
    const std::string typed(85, 'q');
    term.pushKey(KEY_IC);
    term.type(typed);
    term.type("a-very-long-host-name-that-goes-past-thirty.example:7");
    run();
    ASSERT_EQ(list.getItemCount(), 1);
    EXPECT_EQ(std::string(entry(0)->description), std::string(80, 'q'));
    EXPECT_EQ(text(0), std::string(40, 'q') + " - a-very-long-host-name-that-goe:7");
    EXPECT_LE(text(0).size(), 79u);
}

TEST_F(ServerScreen, EscapeAtEitherInsertPromptAddsNothing)
{
    term.pushKey(KEY_IC);
    term.pushKey(27);
    term.pushKey(KEY_IC);
    term.type("Box");
    term.pushText("host");
    term.pushKey(27);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(list.getItemCount(), 0);
}

// What the file cannot keep is refused and typed again; blanks at the ends
// go, and without a description nothing is added.
TEST_F(ServerScreen, ACommaIsRefusedAndTheBoxComesBackWithTheTextAsTyped)
{
    const char refused[] = "The character ',' cannot be used here.";
    term.pushKey(KEY_IC);
    term.type("  Two, parts ");
    term.pushKey(13);   // the message
    for (int i = 0; i < 5; ++i) term.pushKey(KEY_RIGHT);
    term.pushKey(KEY_DC);
    term.pushKey(13);
    term.type("h:5,x");
    term.pushKey(13);
    term.pushKey(KEY_END);
    term.pushKey(KEY_BACKSPACE);
    term.pushKey(KEY_BACKSPACE);
    term.pushKey(13);
    run();
    ASSERT_EQ(list.getItemCount(), 1);
    EXPECT_STREQ(entry(0)->description, "Two parts");
    EXPECT_STREQ(entry(0)->hostName, "h");
    EXPECT_EQ(entry(0)->port, 5);
    EXPECT_EQ(term.attrOf(refused), 0x4E);
    EXPECT_GE(term.firstShown("Press Enter to continue..."), 0);
    EXPECT_EQ(term.fieldAfter(refused), "  Two, parts");

    term.screens.clear();
    term.pushKey(KEY_IC);
    term.type("   ");
    run();
    EXPECT_EQ(list.getItemCount(), 1);
    EXPECT_EQ(term.firstShown("Enter server address (hostname:port)."), -1);
}

TEST_F(ServerScreen, EditKeepsThePlaceAndThePortAndOffersTheCurrentTexts)
{
    add("alpha.example:5000,Alpha");
    add("beta.example,Beta");
    // Replace "Alpha" by "Zulu" and drop the port from the address.
    pressF(3);
    term.erase(5);
    term.type("Zulu");
    term.pushKey(KEY_END);
    for (int i = 0; i < 5; ++i) term.pushKey(KEY_BACKSPACE);
    term.pushKey(13);
    run();
    ASSERT_EQ(list.getItemCount(), 2);
    EXPECT_STREQ(entry(0)->description, "Zulu");
    EXPECT_STREQ(entry(0)->hostName, "alpha.example");
    EXPECT_EQ(entry(0)->port, 5000);
    EXPECT_EQ(text(0), padded("Zulu") + " - alpha.example:5000");
    EXPECT_EQ(term.fieldWhile("Change description:").rfind("Alpha", 0), 0u);
    EXPECT_EQ(term.fieldWhile("Change server address (hostname:port).").rfind("alpha.example:5000 ", 0), 0u);

    // The default port is not offered.
    term.screens.clear();
    list.active = 1;
    pressF(3);
    term.pushKey(13);
    run();
    EXPECT_EQ(term.fieldWhile("Change server address (hostname:port).").rfind("beta.example ", 0), 0u);
}

TEST_F(ServerScreen, EditWithABlankTextChangesNothing)
{
    add("alpha.example:5000,Alpha");
    pressF(3);
    term.erase(5);
    term.type("   ");
    term.pushKey(13);
    pressF(3);
    term.pushKey(13);
    term.pushKey(27);   // Esc at the address prompt
    run();
    EXPECT_STREQ(entry(0)->description, "Alpha");
    EXPECT_STREQ(entry(0)->hostName, "alpha.example");
}

TEST_F(ServerScreen, DeleteKeepsThePositionWithinTheList)
{
    add("a:1,Alpha");
    add("b:1,Beta");
    add("c:1,Gamma");
    term.pushKey(KEY_END);
    term.pushKey(KEY_DC);
    run();
    ASSERT_EQ(list.getItemCount(), 2);
    EXPECT_EQ(list.active, 1);
    EXPECT_STREQ(entry(1)->description, "Beta");
    term.pushKey(KEY_HOME);
    term.pushKey(KEY_DC);
    term.pushKey(KEY_DC);
    term.pushKey(KEY_DC);   // on an empty list
    run();
    EXPECT_EQ(list.getItemCount(), 0);
    EXPECT_EQ(list.getActiveItem(), nullptr);
}

TEST_F(ServerScreen, MasterPasswordIsSetOnlyWhenBothTextsMatch)
{
    pressF(5);
    term.type("one");
    term.type("two");
    term.pushKey(13);   // closes the message
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(list.masterPassword(), nullptr);
    EXPECT_GE(term.firstShown(mismatch), 0);
    EXPECT_GE(term.firstShown("New master password:"), 0);
    EXPECT_GE(term.firstShown("Retype master password:"), 0);
    EXPECT_EQ(term.firstShown("one"), -1);   // the texts are masked

    pressF(5);
    term.type("secret");
    term.type("secret");
    term.pushKey(13);
    run();
    ASSERT_NE(list.masterPassword(), nullptr);
    EXPECT_STREQ(list.masterPassword(), "secret");
    EXPECT_GE(term.firstShown(wasSet), 0);
}

TEST_F(ServerScreen, EmptyMasterPasswordClearsEveryStoredPassword)
{
    add("a:1,Alpha");
    add("b:1,Beta");
    entry(0)->setPassword("x");
    entry(1)->setPassword("y");
    list.setMasterPassword("old");
    pressF(5);
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(13);
    run();
    EXPECT_EQ(list.masterPassword(), nullptr);
    EXPECT_EQ(list.hasPasswords(), 0);
    EXPECT_GE(term.firstShown(wasCleared), 0);
}

TEST_F(ServerScreen, StorePasswordAsksForTheMasterPasswordFirst)
{
    add("a:1,A description longer than twenty");
    pressF(4);
    term.type("m");
    term.type("m");
    term.pushKey(13);        // "set" message
    term.type("remote");     // the server's password
    run();
    EXPECT_STREQ(list.masterPassword(), "m");
    ASSERT_EQ(entry(0)->hasPassword(), 1);
    unsigned char digest[16];
    serverInfo::makePassword(digest, "remote");
    EXPECT_EQ(memcmp(entry(0)->password, digest, 16), 0);
    EXPECT_EQ(memcmp(entry(0)->password + 16, "40981", 5), 0);
    EXPECT_GE(term.firstShown("Enter password for A description longer:"), 0);

    // With a master password set, only the server's password is asked for;
    // Esc keeps it, an empty text removes it.
    const int before = static_cast<int>(term.screens.size());
    pressF(4);
    term.pushKey(27);
    run();
    EXPECT_EQ(entry(0)->hasPassword(), 1);
    for (size_t i = before; i < term.screens.size(); ++i)
        EXPECT_EQ(term.screens[i].find("New master password:"), std::string::npos);
    pressF(4);
    term.pushKey(13);
    run();
    EXPECT_EQ(entry(0)->hasPassword(), 0);
}

TEST_F(ServerScreen, StorePasswordWithoutAMasterPasswordEndsWithTheMustSetMessage)
{
    add("a:1,Alpha");
    entry(0)->setPassword("kept until cleared");
    pressF(4);
    term.pushKey(13);   // empty
    term.pushKey(13);   // empty again: stored passwords cleared, no message
    term.pushKey(13);   // the must-set message
    run();
    EXPECT_EQ(entry(0)->hasPassword(), 0);
    EXPECT_EQ(term.firstShown(wasCleared), -1);
    EXPECT_GE(term.firstShown(mustSet), 0);
    EXPECT_EQ(term.firstShown("Enter password for"), -1);

    term.screens.clear();
    pressF(4);
    term.type("a");
    term.type("b");
    term.pushKey(13);
    term.pushKey(13);
    run();
    const int first = term.firstShown(mismatch);
    const int second = term.firstShown(mustSet);
    ASSERT_GE(first, 0);
    ASSERT_GT(second, first);
    EXPECT_EQ(term.screens[second].find(mismatch), std::string::npos);
}

TEST_F(ServerScreen, OnAnEmptyListOnlyTheMasterPasswordDialogRuns)
{
    pressF(3);
    term.pushKey(KEY_DC);
    run();
    EXPECT_EQ(term.firstShown("Change description:"), -1);
    list.setMasterPassword("m");
    pressF(4);
    run();
    EXPECT_EQ(term.firstShown("Enter password for"), -1);
    EXPECT_EQ(term.firstShown("New master password:"), -1);
    pressF(5);
    term.pushKey(27);
    run();
    EXPECT_GE(term.firstShown("New master password:"), 0);
    EXPECT_STREQ(list.masterPassword(), "m");
}

// Ordinary prompts and good news are yellow on blue, master password prompts
// and bad news yellow on red; only password texts are masked; every box
// takes at most its own number of characters.
TEST_F(ServerScreen, DialogsUseTheirColoursMasksAndLengths)
{
    add("a:1,Alpha");
    term.pushKey(KEY_IC);
    term.type("Box");
    term.type(std::string(300, 'h'));
    pressF(5);
    term.type("one");
    term.type("two");
    term.pushKey(13);
    pressF(5);
    term.type(std::string(60, 'm'));
    term.type(std::string(60, 'm'));
    term.pushKey(13);
    pressF(4);
    term.type(std::string(60, 'r'));
    run();

    EXPECT_EQ(term.attrOf("Enter description:"), 0x1E);
    EXPECT_EQ(term.attrOf("Enter server address (hostname:port)."), 0x1E);
    EXPECT_GE(term.firstShown(std::string(40, 'h')), 0);   // the address is shown as typed
    ASSERT_EQ(list.getItemCount(), 2);
    EXPECT_EQ(strlen(entry(1)->hostName), 256u);

    EXPECT_EQ(term.attrOf("New master password:"), 0x4E);
    EXPECT_EQ(term.attrOf("Retype master password:"), 0x4E);
    EXPECT_EQ(term.attrOf(mismatch), 0x4E);
    EXPECT_EQ(term.attrOf(wasSet), 0x1E);
    ASSERT_NE(list.masterPassword(), nullptr);
    EXPECT_EQ(std::string(list.masterPassword()), std::string(50, 'm'));

    EXPECT_EQ(term.attrOf("Enter password for Alpha:"), 0x1E);
    EXPECT_EQ(term.firstShown("mmm"), -1);
    EXPECT_EQ(term.firstShown("rrr"), -1);
    unsigned char digest[16];
    serverInfo::makePassword(digest, std::string(50, 'r').c_str());
    ASSERT_EQ(entry(0)->hasPassword(), 1);
    EXPECT_EQ(memcmp(entry(0)->password, digest, 16), 0);

    term.screens.clear();
    pressF(5);
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(13);
    pressF(4);
    term.pushKey(27);
    term.pushKey(13);
    run();
    EXPECT_EQ(term.attrOf(wasCleared), 0x1E);
    EXPECT_EQ(term.attrOf(mustSet), 0x4E);
}

TEST_F(ServerScreen, EnterChoosesTheActiveServer)
{
    add("a:1,Alpha");
    add("b:1,Beta");
    term.pushText("b");
    term.pushKey(13);
    EXPECT_EQ(run(), 2);
    EXPECT_STREQ(static_cast<serverInfo*>(list.getActiveItem()->data)->description, "Beta");
}

TEST(ServerEntry, PasswordsAndAddresses)
{
    unsigned char digest[16];
    serverInfo::makePassword(digest, nullptr);
    const unsigned char zeros[16] = {};
    EXPECT_EQ(memcmp(digest, zeros, 16), 0);
    // MD5 of the salt alone, and of "secret" followed by the salt.
    const unsigned char emptyDigest[16] = {0x35, 0x5f, 0xb1, 0x28, 0x61, 0x65, 0x90, 0x05,
                                           0x74, 0xdc, 0x09, 0x2b, 0x9a, 0xdc, 0xe1, 0x32};
    serverInfo::makePassword(digest, "");
    EXPECT_EQ(memcmp(digest, emptyDigest, 16), 0);
    const unsigned char secretDigest[16] = {0x58, 0x67, 0x8a, 0x21, 0x67, 0x5b, 0xcc, 0x0c,
                                            0x54, 0xd6, 0x20, 0xc7, 0xf5, 0xa7, 0x16, 0xf5};
    serverInfo s;
    EXPECT_EQ(s.port, 4242);
    s.setPassword("secret");
    EXPECT_EQ(s.hasPassword(), 1);
    EXPECT_EQ(memcmp(s.password, secretDigest, 16), 0);
    s.setPassword("");
    EXPECT_EQ(s.hasPassword(), 0);
    EXPECT_EQ(memcmp(s.password, zeros, 16), 0);

    char address[] = "host:5000";
    ASSERT_EQ(s.init(address, address + strlen(address), "Desc"), 0);
    EXPECT_EQ(s.port, 5000);
    char again[] = "other";
    ASSERT_EQ(s.init(again, again + 5, s.description), 0);
    EXPECT_STREQ(s.hostName, "other");
    EXPECT_STREQ(s.description, "Desc");
    EXPECT_EQ(s.port, 5000);
    // A ':' past the end of the address does not count.
    char value[] = "h,x:1";
    ASSERT_EQ(s.init(value, value + 1, "D"), 0);
    EXPECT_STREQ(s.hostName, "h");
    EXPECT_EQ(s.port, 5000);
    char big[] = "h:99999999999999";
    ASSERT_EQ(s.init(big, big + strlen(big), "D"), 0);
    EXPECT_EQ(s.port, 2147483647);

    // A host in brackets runs to the matching ']', blanks at its ends
    // dropped, and only ":N" right after it is a port; without the ']' the
    // first ':' ends the host, as ever.
    const struct {
        const char* address;
        const char* host;
        int port;
    } bracketed[] = {{"[::1]", "::1", 5000}, {"[::1]x:7", "::1", 5000}, {"[ ab\t]:7", "ab", 7},
                     {"[::1", "[", 0},       {"a[::1]:7", "a[", 0}};
    for (const auto& b : bracketed) {
        serverInfo e;
        e.port = 5000;
        std::string text = b.address;
        ASSERT_EQ(e.init(text.data(), text.data() + text.size(), "D"), 0);
        EXPECT_STREQ(e.hostName, b.host) << b.address;
        EXPECT_EQ(e.port, b.port) << b.address;
    }

    char line[] = "h:1,Desc,";
    char descBuf[81];
    serverInfo t;
    EXPECT_EQ(t.init(nullptr, descBuf, 80), -1);
    EXPECT_EQ(t.init(line, nullptr, 80), -1);
    char empty[] = "h:1,  ,pw";
    EXPECT_EQ(t.init(empty, descBuf, 80), -4);
}

}  // namespace
