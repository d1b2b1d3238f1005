// The server screen list: parsing the screen list message and moving the
// current screen along it, with the select screen message checked as the
// server would decrypt it.

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "client/outbox.h"
#include "client/scrlist.h"
#include "crypto/ccomm.h"
#include "crypto/rc4.h"

namespace {

// The list of screens the tests fill and step through.
serverScreenList screens;

using Bytes = std::vector<unsigned char>;

void putLe32(Bytes& out, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

void addEntry(Bytes& payload, uint32_t id, const std::string& name, int32_t declared = -1)
{
    putLe32(payload, id);
    putLe32(payload, static_cast<uint32_t>(declared >= 0 ? declared : static_cast<int32_t>(name.size())));
    payload.insert(payload.end(), name.begin(), name.end());
}

std::vector<std::pair<uint32_t, std::string>> listed()
{
    std::vector<std::pair<uint32_t, std::string>> out;
    for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s))
        out.emplace_back(s->getId(), s->getName());
    return out;
}

class ScreenListParseTest : public ::testing::Test {
protected:
    void SetUp() override { screens.free(); }
    void TearDown() override { screens.free(); }

    int read(const Bytes& payload) { return readScreenList(screens, payload.data(), static_cast<int32_t>(payload.size())); }
};

TEST_F(ScreenListParseTest, EntriesAreAppendedInOrder)
{
    Bytes p(4, 0xAA);
    EXPECT_EQ(read(p), 0);
    EXPECT_EQ(screens.count, 0);
    addEntry(p, 7, "Consol");
    addEntry(p, 9, "");
    EXPECT_EQ(read(p), 2);
    const auto got = listed();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(7u, std::string("Consol")));
    EXPECT_EQ(got[1], std::make_pair(9u, std::string()));
    EXPECT_EQ(screens.count, 2);
    // The caller replaces the list by emptying it first.
    screens.free();
    EXPECT_EQ(screens.count, 0);
    EXPECT_EQ(screens.first, nullptr);
}

TEST_F(ScreenListParseTest, LongNamesAreCutButFullyCounted)
{
    Bytes p(4, 0);
    const std::string longName(120, 'n');
    addEntry(p, 1, longName);
    addEntry(p, 2, "after");
    EXPECT_EQ(read(p), 2);
    const auto got = listed();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].second, std::string(80, 'n'));
    EXPECT_EQ(got[1], std::make_pair(2u, std::string("after")));
}

TEST_F(ScreenListParseTest, DamagedEntriesEndTheParsing)
{
    Bytes p(4, 0);
    addEntry(p, 1, "one");
    Bytes cutName = p;
    addEntry(cutName, 2, "tw", 10);               // name shorter than declared
    EXPECT_EQ(read(cutName), 1);
    screens.free();

    Bytes cutHeader = p;
    cutHeader.insert(cutHeader.end(), {2, 0, 0, 0, 3, 0, 0});   // 7 bytes of an entry
    EXPECT_EQ(read(cutHeader), 1);
    screens.free();

    Bytes negative = p;
    putLe32(negative, 3);
    putLe32(negative, 0xFFFFFFFEu);
    addEntry(negative, 4, "four");
    EXPECT_EQ(read(negative), 1);
    ASSERT_EQ(listed().size(), 1u);
    EXPECT_EQ(listed()[0].first, 1u);
    screens.free();

    EXPECT_EQ(readScreenList(screens, p.data(), 3), 0);
    EXPECT_EQ(readScreenList(screens, nullptr, 100), 0);
    EXPECT_EQ(screens.count, 0);
}

TEST(ServerScreenRecordTest, InitCutsAndTerminates)
{
    serverScreen s;
    EXPECT_EQ(s.getId(), 0u);
    EXPECT_STREQ(s.getName(), "");
    const std::string name(100, 'q');
    EXPECT_EQ(s.init(42, name.c_str()), 0);
    EXPECT_EQ(s.getId(), 42u);
    EXPECT_EQ(std::string(s.getName()), std::string(80, 'q'));
    s.init(5, nullptr);
    EXPECT_STREQ(s.getName(), "");
}

// A connected pair, non-blocking as in a session: the session's end, and
// the server's end that decrypts.
class ScreenSelectTest : public ScreenListParseTest {
protected:
    int fds[2] = {-1, -1};
    bool paired = socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) == 0;
    rc4Cipher sendCipher;
    rc4Cipher serverCipher;
    sessionOutbox out{sendCipher, fds[0]};
    int32_t current = 0;
    int32_t previous = 0;

    void SetUp() override
    {
        ScreenListParseTest::SetUp();
        ASSERT_TRUE(paired);
        const unsigned char key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        sendCipher.setKey(key, 16);
        serverCipher.setKey(key, 16);
    }
    void TearDown() override
    {
        close(fds[0]);
        close(fds[1]);
        ScreenListParseTest::TearDown();
    }
    void list(std::initializer_list<uint32_t> ids)
    {
        Bytes p(4, 0);
        for (uint32_t id : ids)
            addEntry(p, id, "s" + std::to_string(id));
        read(p);
    }
    // The next message the server would read, decrypted; empty when none waits.
    Bytes received()
    {
        unsigned char buffer[64];
        const ssize_t n = recv(fds[1], buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return {};
        serverCipher.crypt(buffer, static_cast<int32_t>(n), 0);
        return Bytes(buffer, buffer + n);
    }
    static Bytes selectMessage(uint32_t id)
    {
        Bytes m{2, 0, 0, 0};
        putLe32(m, id);
        return m;
    }
};

// A reader that always lags 64 messages behind: what the outbox holds
// follows what waits, not what went through it.
TEST_F(ScreenSelectTest, TheOutboxHoldsWhatWaitsNotWhatWentThrough)
{
    const int small = 4096;
    setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    Bytes message(1024);
    for (int i = 0; i < 10000; ++i) {
        out.post(message.data(), 1024);   // sends what the reader made room for
        ASSERT_TRUE(i < 64 || recv(fds[1], message.data(), 1024, MSG_DONTWAIT) == 1024) << i;
    }
    EXPECT_GT(out.backlog(), 32u * 1024) << "the reader did lag";
    EXPECT_LT(out.held(), 512u * 1024) << "10 MiB went through";
}

TEST_F(ScreenSelectTest, NextAndPreviousWrapAround)
{
    list({3, 7, 9});
    current = 9;
    EXPECT_EQ(selectNextScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 3);
    EXPECT_EQ(previous, 9);
    EXPECT_EQ(received(), selectMessage(3));
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 9);
    EXPECT_EQ(previous, 3);
    EXPECT_EQ(received(), selectMessage(9));
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 7);
    EXPECT_EQ(received(), selectMessage(7));
}

TEST_F(ScreenSelectTest, UnknownCurrentGoesToTheEnds)
{
    list({3, 7, 9});
    current = 0;
    EXPECT_EQ(selectNextScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 3);
    EXPECT_EQ(received(), selectMessage(3));
    current = 42;
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 9);
    EXPECT_EQ(previous, 42);
    EXPECT_EQ(received(), selectMessage(9));
}

TEST_F(ScreenSelectTest, NothingIsSentWhenTheScreenStays)
{
    current = 5;
    EXPECT_EQ(selectNextScreen(screens, current, previous, out), 0);
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 0);
    EXPECT_EQ(current, 5);
    EXPECT_EQ(previous, 5);

    list({5});
    EXPECT_EQ(selectNextScreen(screens, current, previous, out), 0);
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 0);
    EXPECT_EQ(current, 5);
    EXPECT_EQ(received(), Bytes{});

    // Both ciphers still agree: nothing went through the send cipher.
    EXPECT_EQ(selectScreen(8, current, previous, out), 1);
    EXPECT_EQ(received(), selectMessage(8));
}

TEST_F(ScreenSelectTest, DuplicateIdsStartFromTheFirst)
{
    list({4, 6, 4, 8});
    current = 4;
    EXPECT_EQ(selectNextScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 6);
    current = 4;
    EXPECT_EQ(selectPreviousScreen(screens, current, previous, out), 1);
    EXPECT_EQ(current, 8);   // the first 4 has no predecessor: the last screen
    received();
}

TEST_F(ScreenSelectTest, SelectGivenScreen)
{
    current = 3;
    EXPECT_EQ(selectScreen(3, current, previous, out), 0);
    EXPECT_EQ(previous, 3);
    EXPECT_EQ(received(), Bytes{});
    EXPECT_EQ(selectScreen(0xFEDCBA98u, current, previous, out), 1);
    EXPECT_EQ(previous, 3);
    EXPECT_EQ(static_cast<uint32_t>(current), 0xFEDCBA98u);
    EXPECT_EQ(received(), selectMessage(0xFEDCBA98u));
}

}   // namespace
