// The proxy list screen driven by scripted keys, and the proxy entry itself.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "client/pxylist.h"
#include "console/keyboard.h"
#include "console/term.h"
#include "list_util.h"

namespace {

class ProxyScreen : public lists::ListScreenTest<proxyList, proxyInfo> {
protected:
    void SetUp() override
    {
        ListScreenTest::SetUp();
        list.add(directConnectionText, list.getItemCount() + 1, nullptr);
    }
    // Makes the item with this description the active one.
    void activate(const char* desc)
    {
        for (int i = 0; i < list.getItemCount(); ++i)
            if (entry(i) && !strcmp(entry(i)->description, desc)) list.active = i;
    }
};

TEST_F(ProxyScreen, InsertTakesCredentialsFromTheAddressWhenTheUserNamePromptIsLeft)
{
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type("Office");
    term.type("me:pa:ss@10.0.0.9:3128");
    term.pushKey(27);
    EXPECT_EQ(run(), 1);
    ASSERT_EQ(list.getItemCount(), 2);
    proxyInfo* p = entry(1);
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->userName, "me");
    EXPECT_STREQ(p->password, "pa:ss");
    EXPECT_STREQ(p->hostName, "10.0.0.9");
    EXPECT_EQ(p->port, 3128);
    EXPECT_EQ(text(1), "Office" + std::string(29, ' ') + " - 10.0.0.9:3128");
    EXPECT_EQ(term.firstShown("Enter HTTPS proxy password:"), -1);
}

TEST_F(ProxyScreen, InsertAsksForUserNameAndPassword)
{
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type("Gate");
    term.type("gate.example");
    term.type("  bob  ");
    term.type("sesame");
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type("Inn");
    term.type("inn.example:82");
    term.type("x");
    term.type("");   // an empty password is a password
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type("Hall");
    term.type("u:p@hall.example:81");
    term.type("   ");   // an empty user name removes both
    run();
    ASSERT_EQ(list.getItemCount(), 4);
    proxyInfo* gate = entry(1);
    EXPECT_EQ(gate->port, 8080);
    EXPECT_STREQ(gate->userName, "bob");
    EXPECT_STREQ(gate->password, "sesame");
    proxyInfo* hall = entry(2);
    EXPECT_EQ(hall->userName, nullptr);
    EXPECT_EQ(hall->password, nullptr);
    EXPECT_EQ(hall->port, 81);
    proxyInfo* inn = entry(3);
    EXPECT_STREQ(inn->userName, "x");
    ASSERT_NE(inn->password, nullptr);
    EXPECT_STREQ(inn->password, "");
    EXPECT_GE(term.firstShown("Enter HTTPS proxy username (if required):"), 0);
    EXPECT_EQ(term.trimmedFieldWhile("Enter HTTPS proxy password:"), "");
    // The proxy password is shown in clear while it is typed.
    EXPECT_GE(term.firstShown("sesam"), 0);
}

// Every proxy dialog is yellow on blue and takes at most its own number of
// characters: 256 for an address, 40 for a user name and a password.
TEST_F(ProxyScreen, DialogsAreYellowOnBlueAndKeepToTheirLengths)
{
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type("Gate");
    term.type(std::string(300, 'h'));
    term.type(std::string(50, 'u'));
    term.type(std::string(50, 'p'));
    term.pushKey(KEY_DOWN);
    term.pushKey(KEY_F(3));
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(27);
    run();
    ASSERT_EQ(list.getItemCount(), 2);
    proxyInfo* p = entry(1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(strlen(p->hostName), 256u);
    EXPECT_EQ(std::string(p->userName), std::string(40, 'u'));
    EXPECT_EQ(std::string(p->password), std::string(40, 'p'));
    for (const char* prompt : {"Enter description:", "Enter server address (hostname:port).",
                               "Enter HTTPS proxy username (if required):", "Enter HTTPS proxy password:",
                               "Change description:", "Change proxy address (hostname:port)."})
        EXPECT_EQ(term.attrOf(prompt), 0x1E) << prompt;
}

TEST_F(ProxyScreen, DescriptionsAreLimitedTo40WhenTypedAndWhenEdited)
{
    add(("h:1," + std::string(80, 'w')).c_str());
    ASSERT_EQ(strlen(entry(1)->description), 80u);
    list.active = 1;
    term.pushKey(KEY_F(3));
    term.pushKey(13);
    term.pushKey(13);
    term.pushKey(27);
    run();
    EXPECT_EQ(std::string(entry(1)->description), std::string(40, 'w'));
    EXPECT_EQ(term.trimmedFieldWhile("Change proxy address (hostname:port)."), "h:1");
}

TEST_F(ProxyScreen, EditKeepsThePortAndOffersTheCurrentCredentials)
{
    add("ann:pw@p.example:3128,Proxy");
    activate("Proxy");
    term.pushKey(KEY_F(3));
    term.erase(5);
    term.type("Renamed");
    term.erase(20);
    term.type("q.example");
    term.pushKey(KEY_END);
    term.type("x");
    term.pushKey(KEY_END);
    term.type("2");
    run();
    proxyInfo* p = entry(1);
    EXPECT_STREQ(p->description, "Renamed");
    EXPECT_STREQ(p->hostName, "q.example");
    EXPECT_EQ(p->port, 3128);
    EXPECT_STREQ(p->userName, "annx");
    EXPECT_STREQ(p->password, "pw2");
    EXPECT_EQ(term.trimmedFieldWhile("Change description:"), "Proxy");
    EXPECT_EQ(term.trimmedFieldWhile("Change proxy address (hostname:port)."), "p.example:3128");
    EXPECT_EQ(term.trimmedFieldWhile("Enter HTTPS proxy username (if required):"), "ann");
    EXPECT_EQ(term.trimmedFieldWhile("Enter HTTPS proxy password:"), "pw");
    EXPECT_EQ(text(1), "Renamed" + std::string(28, ' ') + " - q.example:3128");
}

// A comma may stay in a proxy description but not in the address; the
// credentials keep no second '@', no ':' in the user name and no ',' or '@'
// in the password. Blanks at the ends of the texts and of the host go.
TEST_F(ProxyScreen, CharactersTheProxyLineCannotKeepAreRefused)
{
    term.pushKey(KEY_IC);
    term.pushKey(13);   // the kind: HTTPS proxy
    term.type(" [direct connection] 2");
    term.pushKey(13);
    term.erase(22);
    term.type(" Office, 2nd ");
    term.type("u@h@x");
    term.pushKey(13);
    term.erase(5);
    term.type(" u:p@ h:81 ");
    term.type("a:b");
    term.pushKey(13);
    term.erase(3);
    term.type("ann");
    term.type("p,ss");
    term.pushKey(13);
    term.erase(4);
    term.type("pa:ss");
    run();
    ASSERT_EQ(list.getItemCount(), 2);
    proxyInfo* p = entry(1);
    EXPECT_STREQ(p->description, "Office, 2nd");
    EXPECT_STREQ(p->hostName, "h");
    EXPECT_EQ(p->port, 81);
    EXPECT_STREQ(p->userName, "ann");
    EXPECT_STREQ(p->password, "pa:ss");
    for (const char* c : {"@", ":", ","}) {
        const std::string message = std::string("The character '") + c + "' cannot be used here.";
        EXPECT_EQ(term.attrOf(message), 0x4E) << message;
    }
    EXPECT_EQ(term.fieldAfter("The character '@' cannot be used here."), "u@h@x");
    EXPECT_EQ(term.attrOf("The description '[Direct Connection]' cannot be used here."), 0x4E);
}

// Insert asks for the kind first; a tunnel takes a description and a command,
// which may hold no comma (it would end the command of the tunnel line). F3
// offers both texts again; Esc at the kind menu adds nothing.
TEST_F(ProxyScreen, TunnelEntriesTakeACommandWithoutCommas)
{
    term.pushKey(KEY_IC);
    term.pushKey(27);
    term.pushKey(KEY_IC);
    term.pushKey(KEY_DOWN);
    term.pushKey(13);   // the kind: tunnel command
    term.type(" Jump ");
    term.type("ssh -W %h:%p,x");
    term.pushKey(13);
    term.erase(20);
    term.type("  ssh -W %h:%p jump  ");
    term.pushKey(KEY_DOWN);
    term.pushKey(KEY_F(3));
    term.type("Bastion", false);
    term.pushKey(13);
    term.pushKey(KEY_END);
    term.type(" -q");
    run();
    ASSERT_EQ(list.getItemCount(), 2);
    proxyInfo* t = entry(1);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->command, "ssh -W %h:%p jump -q");
    EXPECT_STREQ(t->description, "BastionJump");
    EXPECT_EQ(t->hostName, nullptr);
    EXPECT_EQ(text(1), "BastionJump" + std::string(24, ' ') + " - | ssh -W %h:%p jump -q");
    EXPECT_EQ(term.attrOf("The character ',' cannot be used here."), 0x4E);
    EXPECT_EQ(term.fieldAfter("The character ',' cannot be used here."), "ssh -W %h:%p,x");
    EXPECT_EQ(term.trimmedFieldWhile("Change tunnel command (%h=host, %p=port):"), "ssh -W %h:%p jump");
    for (const char* prompt : {"Enter tunnel command (%h=host, %p=port):", "Change tunnel command (%h=host, %p=port):"})
        EXPECT_EQ(term.attrOf(prompt), 0x1E) << prompt;
    EXPECT_EQ(term.firstShown("Enter HTTPS proxy username"), -1);

    char title[96];
    proxyList::makeTitle(title, sizeof title, t);
    EXPECT_STREQ(title, "Tunnel: BastionJump - | ssh -W %h:%p jump -q");
}

TEST_F(ProxyScreen, EscapeAtTheUserNamePromptKeepsTheCredentialsOfAnEdit)
{
    add("ann:pw@p.example:3128,Proxy");
    activate("Proxy");
    term.pushKey(KEY_F(3));
    term.pushKey(13);
    term.erase(30);
    term.type("z:pz@r.example");
    term.pushKey(27);
    run();
    proxyInfo* p = entry(1);
    EXPECT_STREQ(p->userName, "z");
    EXPECT_STREQ(p->password, "pz");
    EXPECT_STREQ(p->hostName, "r.example");
    EXPECT_EQ(p->port, 3128);
}

TEST_F(ProxyScreen, TheDirectEntryCannotBeEditedOrDeleted)
{
    add("p:1,Alpha");
    list.active = 0;
    ASSERT_EQ(list.getActiveItem()->data, nullptr);
    term.pushKey(KEY_F(3));
    term.pushKey(KEY_DC);
    term.pushKey(KEY_F(4));
    term.pushKey(KEY_F(5));
    run();
    EXPECT_EQ(list.getItemCount(), 2);
    EXPECT_EQ(term.firstShown("Change description:"), -1);
    EXPECT_EQ(term.firstShown("master password"), -1);

    term.pushKey(KEY_DOWN);
    term.pushKey(KEY_DC);
    term.pushKey(13);
    EXPECT_EQ(run(), 2);
    ASSERT_EQ(list.getItemCount(), 1);
    EXPECT_STREQ(list.getActiveItem()->text, directConnectionText);
}

TEST(ProxyEntry, AddressForms)
{
    char desc[81];
    proxyInfo p;
    char atInDescription[] = "h:1,mail@desc";
    ASSERT_EQ(p.init(atInDescription, desc, 80), 0);
    EXPECT_EQ(p.userName, nullptr);
    EXPECT_STREQ(p.hostName, "h");
    EXPECT_STREQ(p.description, "mail@desc");

    char userOnly[] = "anon@host";
    ASSERT_EQ(p.init(userOnly, userOnly + strlen(userOnly), "D"), 0);
    EXPECT_STREQ(p.userName, "anon");
    EXPECT_EQ(p.password, nullptr);
    EXPECT_EQ(p.port, 1);   // no ':' keeps the port

    char noDesc[] = "host:5";
    EXPECT_EQ(p.init(noDesc, desc, 80), 0);   // the whole value is the description
    EXPECT_STREQ(p.description, "host:5");
    char emptyDesc[] = "host:5,  ";
    EXPECT_EQ(p.init(emptyDesc, desc, 80), -4);
    EXPECT_EQ(p.init(nullptr, desc, 80), -1);

    p.setPassword("x");
    p.cleanPassword();
    EXPECT_EQ(p.password, nullptr);
    p.setUserName(nullptr);
    EXPECT_EQ(p.userName, nullptr);

    char line[80];
    p.port = 123456;
    proxyList::makeLine(line, &p);
    EXPECT_EQ(std::string(line), "host:5" + std::string(29, ' ') + " - host:123456");
    char v6[] = "u@[2001:db8::2]:3128";
    ASSERT_EQ(p.init(v6, v6 + strlen(v6), "D"), 0);
    proxyList::makeLine(line, &p);
    EXPECT_EQ(std::string(line), "D" + std::string(34, ' ') + " - [2001:db8::2]:3128");
}

}  // namespace
