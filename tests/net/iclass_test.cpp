#include "net/iclass.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstring>
#include <algorithm>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

#ifdef _WIN32
// Winsock sockets count as blocking from the start, and accepted ones are
// switched to blocking mode.
const int B = Socket::Blocking;
const int kNoAccept = -2;
#else
const int B = 0;
const int kNoAccept = -1;
#endif

// wine reports a refused blocking connect as aborted.
bool wasRefused(int err) {
#ifdef _WIN32
    return err == WSAECONNREFUSED || err == WSAECONNABORTED;
#else
    return err == ECONNREFUSED;
#endif
}

unsigned int loopback() { return inet_addr("127.0.0.1"); }

bool waitReadable(int fd, int ms = 2000) { return sockWait(fd, sockReadable, ms) == sockReadable; }

bool waitWritable(int fd, int ms = 2000) { return sockWait(fd, sockWritable, ms) == sockWritable; }

bool descriptorOpen(int fd) {
    int type = 0;
    SockLen len = sizeof type;
    return getsockopt(fd, SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &len) == 0;
}

// The O_NONBLOCK flag itself, where the system lets it be read.
void expectNonBlocking(int fd, bool on) {
#ifndef _WIN32
    EXPECT_EQ((fcntl(fd, F_GETFL) & O_NONBLOCK) != 0, on);
#endif
}

// A listening socket on 127.0.0.1 and a free port, plus one connected pair.
struct Loop {
    ServerSocket server{0, loopback(), 4};
    unsigned short port = server.local.address.sin_port;
    Socket* client = nullptr;
    Socket* peer = nullptr;

    void connectPair() {
        client = new ClientSocket(loopback(), port);
        ASSERT_TRUE(waitReadable(server.sock));
        peer = server.accept();
        ASSERT_NE(peer, nullptr);
    }
    ~Loop() {
        delete client;
        delete peer;
    }
};

// A stream that plays a script: chunks of bytes, pauses (available() says
// 0 once) and an end (available() says -1 from then on).
class ScriptedStream : public IOStream {
public:
    enum Kind { Chunk, Pause, End };
    struct Step {
        Kind kind;
        std::string bytes;
    };
    std::deque<Step> steps;
    std::vector<int> asked;   // len of every read()
    std::string written;
    int overstate = 0;        // added to every read's result
    int failReads = 0;        // that many reads answer -1

    ScriptedStream& chunk(const std::string& s) { steps.push_back({Chunk, s}); return *this; }
    ScriptedStream& pause() { steps.push_back({Pause, ""}); return *this; }
    ScriptedStream& end() { steps.push_back({End, ""}); return *this; }

    using IOStream::write;
    int available() override {
        if (steps.empty())
            return 0;
        if (steps.front().kind == Pause) {
            steps.pop_front();
            return 0;
        }
        if (steps.front().kind == End)
            return -1;
        return static_cast<int>(steps.front().bytes.size());
    }
    int read(void* buffer, int len) override {
        asked.push_back(len);
        if (failReads > 0) {
            failReads--;
            return -1;
        }
        if (steps.empty() || steps.front().kind != Chunk)
            return 0;
        std::string& b = steps.front().bytes;
        int n = std::min<int>(len, static_cast<int>(b.size()));
        std::memcpy(buffer, b.data(), static_cast<size_t>(n));
        b.erase(0, static_cast<size_t>(n));
        if (b.empty())
            steps.pop_front();
        return n + overstate;
    }
    int write(const void* buffer, int len) override {
        written.append(static_cast<const char*>(buffer), static_cast<size_t>(len));
        return len;
    }
};

std::string ringBytes(const AccuStream& a, std::initializer_list<int> offsets) {
    std::string s;
    for (int o : offsets)
        s += static_cast<char>(a.buffer[o]);
    return s;
}

} // namespace

// ---------------------------------------------------------------------------

TEST(InternetAddress, ResolvesDottedTextAndNames) {
    EXPECT_EQ(InternetAddress::resolve("10.1.2.3"), htonl(0x0A010203));
    EXPECT_EQ(InternetAddress::resolve("127.0.0.1"), loopback());
    EXPECT_EQ(InternetAddress::resolve("no-such-host.invalid"), INADDR_NONE);
#ifndef _WIN32
    // Winsock looks the empty name up as the local host.
    EXPECT_EQ(InternetAddress::resolve(""), INADDR_NONE);
#endif
    EXPECT_EQ(InternetAddress::resolve(nullptr), INADDR_NONE);
    // 0.0.0.0 is not taken as dotted text; the lookup still gives 0.
    EXPECT_EQ(InternetAddress::resolve("0.0.0.0"), 0u);
}

TEST(InternetAddress, ConstructorsFillTheWholeAddress) {
    InternetAddress empty;
    EXPECT_EQ(empty.address.sin_family, AF_INET);
    EXPECT_EQ(empty.address.sin_port, 0);
    EXPECT_EQ(empty.getIP(), 0u);
    EXPECT_EQ(empty.next, nullptr);

    InternetAddress a("10.1.2.3", htons(4242));
    EXPECT_EQ(a.address.sin_family, AF_INET);
    EXPECT_EQ(a.address.sin_port, htons(4242));   // taken as given, not converted
    EXPECT_EQ(a.getIP(), htonl(0x0A010203));
    for (unsigned char z : a.address.sin_zero)
        EXPECT_EQ(z, 0);
    EXPECT_EQ(reinterpret_cast<void*>(a.getAddress()), reinterpret_cast<void*>(&a.address));
}

// Literals are read without a lookup (the two dotted texts that always went
// to the lookup still do); names go to the resolver; every address carries
// the port, taken modulo 65536 as htons takes it.
TEST(Addresses, LiteralsAndLookups) {
    sockAddress a;
    for (const char* name : {"localhost", "0.0.0.0", "255.255.255.255", "[::1]"})
        EXPECT_FALSE(sockLiteralAddress(name, 1, a)) << name;
    ASSERT_TRUE(sockLiteralAddress("2001:0db8:0:0::1", 65536 + 80, a));
    EXPECT_EQ(a.family(), AF_INET6);
    EXPECT_EQ(sockAddressText(a), "2001:db8::1");
    EXPECT_EQ(sockAddressPort(a), 80);

    const std::vector<sockAddress> local = sockResolveAll("localhost", 4242);
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(sockAddressText(local[0]) + ":" + std::to_string(sockAddressPort(local[0])), "127.0.0.1:4242");
    EXPECT_TRUE(sockResolveAll("no-such-host.invalid", 1).empty());
}

// ---------------------------------------------------------------------------

TEST(Socket, FlagWordsFollowTheLifecycle) {
    Loop l;
    EXPECT_EQ(l.server.state, 11 | B);
    EXPECT_NE(l.port, 0);
    sockaddr_in bound{};
    SockLen len = sizeof bound;
    ASSERT_EQ(getsockname(l.server.sock, reinterpret_cast<sockaddr*>(&bound), &len), 0);
    EXPECT_EQ(bound.sin_port, l.port);

    ClientSocket unconnected;
    EXPECT_EQ(unconnected.state, 3 | B);
    EXPECT_EQ(unconnected.connected(), 0);

    l.connectPair();
    EXPECT_EQ(l.client->state, 7 | B);
    EXPECT_EQ(l.peer->state, 7 | B);
    EXPECT_EQ(l.client->connected(), 1);
    // Each end knows the other's address.
    EXPECT_EQ(l.peer->remote.address.sin_port, l.client->local.address.sin_port);
    EXPECT_EQ(l.client->remote.address.sin_port, l.port);
    EXPECT_EQ(l.peer->local.address.sin_port, l.port);

    EXPECT_EQ(l.client->blocking(), B ? 1 : 0);
    EXPECT_EQ(l.client->noblock(), 0);
    EXPECT_EQ(l.client->state, 7);
    expectNonBlocking(l.client->sock, true);
    EXPECT_EQ(l.client->block(), 0);
    EXPECT_EQ(l.client->state, 23);
    expectNonBlocking(l.client->sock, false);

    // close drops open and bound only.
    EXPECT_EQ(l.server.close(), 0);
    EXPECT_EQ(l.server.state, 8 | B);
    EXPECT_EQ(l.server.close(), -1);
    EXPECT_EQ(l.server.listen(1), -1);
}

TEST(Socket, ConnectNeedsABoundSocketAndAResolvedHost) {
    Loop l;
    Socket bare;
    EXPECT_EQ(bare.state, 0);
    EXPECT_EQ(bare.sock, -1);
    EXPECT_EQ(bare.connect(loopback(), l.port), -1);

    Socket openOnly;
    openOnly.assignSocket(sockOpenTcp(), Socket::Open);
    ASSERT_EQ(openOnly.state, 1);
    sockSetLastError(0);
    EXPECT_EQ(openOnly.connect(loopback(), l.port), -1);
    EXPECT_EQ(sockLastError(), 0);   // refused before any system call
    EXPECT_EQ(openOnly.listen(1), -1);

    ClientSocket c;
    sockSetLastError(0);
    EXPECT_EQ(c.connect(INADDR_NONE, l.port), -1);
    EXPECT_EQ(sockLastError(), 0);
    EXPECT_EQ(c.connect("no-such-host.invalid", l.port), -1);
    EXPECT_EQ(c.connected(), 0);

    // Nobody knocked.
    l.server.noblock();
    Socket* none = l.server.accept();
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->state, 0);
    delete none;
}

// open() gives a socket of either family in place of the old one, and
// connectTo connects it to an address of that family.
TEST(Socket, OpenAndConnectToEitherFamily) {
    for (const char* host : {"127.0.0.1", "::1"}) {
        sockAddress to;
        ASSERT_TRUE(sockLiteralAddress(host, 0, to));
        const int listener = sockOpenTcp(to.family());
        ASSERT_EQ(::bind(listener, to.get(), to.length), 0) << host;
        ASSERT_EQ(::listen(listener, 1), 0);
        SockLen len = sizeof to.storage;
        ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&to.storage), &len), 0);

        ClientSocket c;
        const int old = c.sock;
        ASSERT_EQ(c.open(to.family()), 0) << host;
        EXPECT_FALSE(descriptorOpen(old));
        EXPECT_EQ(c.state, 3 | B);
        EXPECT_EQ(c.connectTo(to), 0) << host << " " << sockLastError();
        EXPECT_EQ(c.state, 7 | B);
        EXPECT_EQ(std::memcmp(c.remote.getAddress(), to.get(), static_cast<size_t>(to.length)), 0);
        sockClose(listener);
    }
}

TEST(Socket, ConnectByNameAndRefusedPort) {
    Loop l;
    ClientSocket byName("127.0.0.1", l.port);
    EXPECT_EQ(byName.state, 7 | B);

    unsigned short deadPort;
    {
        ServerSocket gone(0, loopback(), 1);
        deadPort = gone.local.address.sin_port;
    }
    ClientSocket refused(loopback(), deadPort);
    EXPECT_EQ(refused.state, 3 | B);
    EXPECT_EQ(refused.connect(loopback(), deadPort), -1);
    EXPECT_TRUE(wasRefused(sockLastError())) << sockLastError();
}

TEST(Socket, NonBlockingConnectCompletesOnTheSecondCall) {
    Loop l;
    ClientSocket c;
    ASSERT_EQ(c.noblock(), 0);
    int first = c.connect(loopback(), l.port);
    if (first == -1) {
        EXPECT_TRUE(sockInProgress(sockLastError())) << sockLastError();
        ASSERT_TRUE(waitWritable(c.sock));
        // "Already connected" on a non-blocking socket counts as success.
        EXPECT_EQ(c.connect(loopback(), l.port), 0);
    }
    EXPECT_EQ(c.state, 7);
    ASSERT_EQ(c.block(), 0);
    EXPECT_EQ(c.state, 23);
}

TEST(Socket, SendRecvAndAvailable) {
    Loop l;
    l.connectPair();
    char buf[16] = {};
    EXPECT_EQ(l.peer->available(), 0);
    EXPECT_EQ(l.client->send("ping", 4), 4);
    ASSERT_TRUE(waitReadable(l.peer->sock));
    EXPECT_EQ(l.peer->available(), 1);
    // available() leaves the socket blocking.
    EXPECT_EQ(l.peer->blocking(), 1);
    expectNonBlocking(l.peer->sock, false);
    EXPECT_EQ(l.peer->recv(buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "ping");
    EXPECT_EQ(l.peer->recv(buf, -1), -1);
    EXPECT_EQ(l.peer->send(buf, -1), -1);

    delete l.client;
    l.client = nullptr;
    ASSERT_TRUE(waitReadable(l.peer->sock));
    EXPECT_EQ(l.peer->available(), 0);   // closed peer looks like "nothing waiting"
    EXPECT_EQ(l.peer->recv(buf, sizeof buf), 0);
}

TEST(Socket, TransfersNeedAConnection) {
    ClientSocket c;
    char buf[4];
    EXPECT_EQ(c.send("x", 1), 0);
    EXPECT_EQ(c.recv(buf, sizeof buf), 0);
    EXPECT_EQ(c.available(), 0);
    EXPECT_EQ(c.getIOStream(), nullptr);
    int len = sizeof(sockaddr_in);
    sockaddr_in from{};
    EXPECT_EQ(c.accept(reinterpret_cast<sockaddr*>(&from), &len), kNoAccept);
}

TEST(Socket, SendToAClosedPeerFailsWithoutSignal) {
    Loop l;
    l.connectPair();
    delete l.peer;
    l.peer = nullptr;
    char block[4096] = {};
    int result = 0;
    for (int i = 0; i < 200 && result >= 0; i++) {
        result = l.client->send(block, sizeof block);
        if (result >= 0)
            waitReadable(l.client->sock, 5);
    }
    EXPECT_EQ(result, -1);
    EXPECT_TRUE(sockPeerGone(sockLastError())) << sockLastError();
}

TEST(Socket, DeletingClosesTheDescriptorAndCountsObjects) {
    int before = socketObjects;
    int fd;
    {
        Loop l;
        EXPECT_EQ(socketObjects, before + 1);
        l.connectPair();
        EXPECT_EQ(socketObjects, before + 3);
        fd = l.client->sock;
        EXPECT_TRUE(descriptorOpen(fd));
        Socket* s = new Socket();
        EXPECT_EQ(socketObjects, before + 4);
        delete s;
        EXPECT_EQ(socketObjects, before + 3);
        delete l.client;
        l.client = nullptr;
        EXPECT_FALSE(descriptorOpen(fd));
        EXPECT_EQ(socketObjects, before + 2);
    }
    EXPECT_EQ(socketObjects, before);
}

TEST(Socket, RawAcceptAndCustomFactory) {
    struct CountingImp : SocketImp {
        int* built;
        explicit CountingImp(int* b) : built(b) {}
        Socket* buildSocket(int socket, int flags) override {
            ++*built;
            return SocketImp::buildSocket(socket, flags);
        }
    };
    Loop l;
    int built = 0;
    l.server.setSocketImp(new CountingImp(&built));
    l.connectPair();
    EXPECT_EQ(built, 1);
    EXPECT_EQ(l.peer->state, 7 | B);

    ClientSocket second(loopback(), l.port);
    ASSERT_TRUE(waitReadable(l.server.sock));
    sockaddr_in from{};
    int len = sizeof from;
    int fd = l.server.accept(reinterpret_cast<sockaddr*>(&from), &len);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(len, static_cast<int>(sizeof from));
    EXPECT_EQ(from.sin_port, second.local.address.sin_port);
    sockClose(fd);
}

TEST(Socket, StreamOverTheSocket) {
    Loop l;
    l.connectPair();
    IOStream* s = l.client->getIOStream();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(l.client->getIOStream(), s);
    EXPECT_EQ(s->ioFlags, 7);
    EXPECT_EQ(s->ready(), 1);
    EXPECT_EQ(s->write("hello"), 5);
    EXPECT_EQ(s->write(static_cast<const char*>(nullptr)), 0);

    IOStream* p = l.peer->getIOStream();
    ASSERT_TRUE(waitReadable(l.peer->sock));
    EXPECT_EQ(p->available(), 1);
    char buf[8] = {};
    EXPECT_EQ(p->read(buf, 7), 5);
    EXPECT_STREQ(buf, "hello");

    // Closing the stream closes the socket under it.
    s->close();
    EXPECT_EQ(l.client->state & 3, 0);
    EXPECT_EQ(s->ready(), 1);   // still marked connected
    s->ioFlags = 0;
    EXPECT_EQ(s->write("x"), 0);

    TCPStream detached(nullptr);
    EXPECT_EQ(detached.ioFlags, 0);
    EXPECT_EQ(detached.ready(), 0);
    EXPECT_EQ(detached.read(buf, 4), 0);
}

// ---------------------------------------------------------------------------

namespace {
struct Counted : Object {
    int* deaths;
    explicit Counted(int* d) : deaths(d) {}
    ~Counted() override { ++*deaths; }
};
} // namespace

TEST(List, LinksAddsAppendsAndRemoves) {
    int deaths = 0;
    List list;
    EXPECT_EQ(list.isEmpty(), 1);
    EXPECT_EQ(list.size(), 0);
    Counted* a = new Counted(&deaths);
    Counted* b = new Counted(&deaths);
    Counted* c = new Counted(&deaths);
    Counted* d = new Counted(&deaths);
    list.append(a);
    list.append(b);
    list.add(nullptr);
    list.append(nullptr);
    list.append(c);
    ASSERT_EQ(list.size(), 3);
    list.append(d);
    EXPECT_EQ(c->next, d);
    EXPECT_EQ(d->next, nullptr);

    list.remove(d);
    EXPECT_EQ(c->next, nullptr);
    list.remove(c);
    EXPECT_EQ(list.first(), a);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->next, nullptr);
    list.remove(c);   // not in the list any more
    EXPECT_EQ(list.size(), 2);

    list.add(c);
    EXPECT_EQ(list.first(), c);
    EXPECT_EQ(c->next, a);
    list.remove(a);   // from the middle
    EXPECT_EQ(c->next, b);
    EXPECT_EQ(list.size(), 2);

    list.deleteAll();
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(list.isEmpty(), 1);
    delete a;
    delete d;
}

TEST(List, DestructorDeletesWhatIsLeft) {
    int deaths = 0;
    {
        List list;
        for (int i = 0; i < 5; i++)
            list.add(new Counted(&deaths));
        EXPECT_EQ(list.size(), 5);
    }
    EXPECT_EQ(deaths, 5);
}

// ---------------------------------------------------------------------------

TEST(IOStream, BaseBehaviour) {
    IOStream base;
    char buf[4];
    EXPECT_EQ(base.read(buf, 4), 0);
    EXPECT_EQ(base.write("abc"), 0);
    EXPECT_EQ(base.available(), 0);
    EXPECT_EQ(base.ready(), 0);
    EXPECT_EQ(base.allow(1), 1);
    EXPECT_EQ(base.allow(4), 5);
    base.close();
    EXPECT_EQ(base.ioFlags, 0);

    ScriptedStream s;
    EXPECT_EQ(s.write("line\r\n"), 6);
    EXPECT_EQ(s.written, "line\r\n");
}

// ---------------------------------------------------------------------------

// Brings an 8-byte ring to 6 bytes "ABCDEF" at offsets 5, 6, 7, 0, 1, 2.
static void wrapSixAtFive(ScriptedStream& s, AccuStream& a) {
    char sink[8];
    s.chunk("01234");
    ASSERT_EQ(a.read(), 5);
    ASSERT_EQ(a.read(sink, 5, 0), 5);
    ASSERT_EQ(a.dataStart, 5);
    s.chunk("ABCDEF");
    s.asked.clear();
    ASSERT_EQ(a.read(), 6);   // free space wraps: two stream reads
    EXPECT_EQ(s.asked, (std::vector<int>{3, 5}));
    ASSERT_EQ(a.dataLen, 6);
    ASSERT_EQ(a.dataStart, 5);
}

TEST(AccuStream, WrappedRingSearchAndRead) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    EXPECT_EQ(a.ready(), 1);
    wrapSixAtFive(s, a);
    EXPECT_EQ(ringBytes(a, {5, 6, 7, 0, 1, 2}), "ABCDEF");
    EXPECT_EQ(a.indexOfChar('A'), 0);
    EXPECT_EQ(a.indexOfChar('C'), 2);
    EXPECT_EQ(a.indexOfChar('D'), 3);
    EXPECT_EQ(a.indexOfChar('F'), 5);
    EXPECT_EQ(a.indexOfChar('Z'), -1);

    char out[8] = {};
    EXPECT_EQ(a.read(out, 6, 0), 6);
    EXPECT_EQ(std::string(out, 6), "ABCDEF");
    EXPECT_EQ(a.dataStart, 3);
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.read(out, 6, 0), 0);
}

TEST(AccuStream, PartialReadsAcrossTheEnd) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    wrapSixAtFive(s, a);
    char out[8] = {};
    EXPECT_EQ(a.read(out, 3, 0), 3);   // ends exactly at the buffer's end
    EXPECT_EQ(std::string(out, 3), "ABC");
    EXPECT_EQ(a.dataStart, 8);
    EXPECT_EQ(a.indexOfChar('E'), 1);
    // Room now lies between the end of the data and dataStart.
    s.chunk("GHIJKLMN");
    s.asked.clear();
    EXPECT_EQ(a.read(), 5);
    EXPECT_EQ(s.asked, (std::vector<int>{5}));
    EXPECT_EQ(a.dataLen, 8);
    EXPECT_EQ(a.read(), 0);   // full: nothing asked for
    EXPECT_EQ(s.asked.size(), 1u);
    EXPECT_EQ(a.read(out, 8, 0), 8);
    EXPECT_EQ(std::string(out, 8), "DEFGHIJK");
}

TEST(AccuStream, FillBetweenDataEndAndStart) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    wrapSixAtFive(s, a);
    s.chunk("xyz");
    s.asked.clear();
    EXPECT_EQ(a.read(), 2);   // w = 3, two bytes of room before offset 5
    EXPECT_EQ(s.asked, (std::vector<int>{2}));
    char out[8];
    EXPECT_EQ(a.read(out, 8, 0), 8);
    EXPECT_EQ(std::string(out, 8), "ABCDEFxy");
}

TEST(AccuStream, WrappingFillStopsWhenTheFirstPartIsShort) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    char sink[8];
    s.chunk("01234");
    a.read();
    a.read(sink, 5, 0);
    s.chunk("AB").chunk("CD");
    s.asked.clear();
    EXPECT_EQ(a.read(), 2);
    EXPECT_EQ(s.asked, (std::vector<int>{3}));
    EXPECT_EQ(a.read(), 2);   // w = 7: one byte to the end, then one at 0
    EXPECT_EQ(s.asked, (std::vector<int>{3, 1, 5}));
    EXPECT_EQ(a.indexOfChar('D'), 3);
}

TEST(AccuStream, FillReportsStreamState) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    EXPECT_EQ(a.read(), 0);   // nothing waiting
    s.failReads = 1;
    s.chunk("abc");
    EXPECT_EQ(a.read(), -1);
    EXPECT_EQ(a.dataLen, 0);
    s.steps.clear();
    s.end();
    EXPECT_EQ(a.read(), -1);

    AccuStream noStream(nullptr, 8);
    EXPECT_EQ(noStream.state, 2);
    EXPECT_EQ(noStream.read(), 0);
    EXPECT_EQ(noStream.write("abc"), 0);
    char out[4];
    EXPECT_EQ(noStream.read(out, 4, 1), 0);
}

TEST(AccuStream, StreamClaimingTooMuchIsClamped) {
    ScriptedStream s;
    s.overstate = 100;
    AccuStream a(&s, 8);
    s.chunk("abcdefghijkl");
    EXPECT_EQ(a.read(), 8);
    EXPECT_EQ(a.dataLen, 8);
    char out[4];
    a.skip(8);
    s.steps.clear();
    s.chunk("zz");
    EXPECT_EQ(a.read(out, 4, 1), 4);   // bypass read clamped to the request
}

TEST(AccuStream, ReadOptions) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    char out[8] = {};
    s.chunk("direct");
    EXPECT_EQ(a.read(out, 8, 0), 0);   // opt 0 never touches the stream
    EXPECT_TRUE(s.asked.empty());
    EXPECT_EQ(a.read(out, 3, 1), 3);   // nothing buffered: straight from the stream
    EXPECT_EQ(std::string(out, 3), "dir");
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.read(), 3);
    EXPECT_EQ(a.read(out, 2, 1), 2);   // buffered bytes come first
    EXPECT_EQ(std::string(out, 2), "ec");
    EXPECT_EQ(a.read(out, 8, 2), 0);
    EXPECT_EQ(a.read(out, -4, 0), 0);
    EXPECT_EQ(a.read(nullptr, 4, 0), 0);
    EXPECT_EQ(a.available(), 1);
    EXPECT_EQ(a.read(out, 8, 1), 1);
    EXPECT_EQ(out[0], 't');
}

TEST(AccuStream, SkipAndReinitialise) {
    ScriptedStream s;
    AccuStream a(&s, 8);
    wrapSixAtFive(s, a);
    a.skip(4);
    EXPECT_EQ(a.dataStart, 1);
    EXPECT_EQ(a.dataLen, 2);
    EXPECT_EQ(a.indexOfChar('E'), 0);
    a.skip(0);
    EXPECT_EQ(a.dataLen, 2);
    a.skip(3);   // more than buffered
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.dataStart, 0);

    wrapSixAtFive(s, a);
    a.skip(-1);
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.dataStart, 0);
    wrapSixAtFive(s, a);
    a.skip(-7);   // other negatives drop everything as well
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.dataStart, 0);

    wrapSixAtFive(s, a);
    unsigned char* ring = a.buffer;
    a.initBuffer(0);   // keeps the ring, drops the data
    EXPECT_EQ(a.buffer, ring);
    EXPECT_EQ(a.bufferLen, 8);
    EXPECT_EQ(a.dataLen, 0);
    EXPECT_EQ(a.dataStart, 0);
    a.initBuffer(-5);
    EXPECT_EQ(a.ready(), 1);
    a.initBuffer(3);
    EXPECT_EQ(a.bufferLen, 3);
    s.chunk("abcdef");
    EXPECT_EQ(a.read(), 3);

    AccuStream noRing(&s, 0);
    EXPECT_EQ(noRing.state, 1);
    EXPECT_EQ(noRing.ready(), 0);
    EXPECT_EQ(noRing.indexOfChar('a'), -1);
    noRing.skip(0);
    noRing.skip(5);
    EXPECT_EQ(noRing.read(), 0);
    EXPECT_EQ(noRing.dataLen, 0);
}

TEST(AccuStream, WritesGoStraightToTheStream) {
    ScriptedStream s;
    AccuStream a(&s, 4);
    EXPECT_EQ(a.write("abc", 2), 2);
    EXPECT_EQ(a.write("def"), 3);
    EXPECT_EQ(s.written, "abdef");
}

// ---------------------------------------------------------------------------

namespace {
std::vector<int> naps;
void recordNap(int ms) { naps.push_back(ms); }

class TelnetTest : public ::testing::Test {
protected:
    Telnet::SleepFn saved = Telnet::sleepMs;
    ScriptedStream s;
    AccuStream a{&s, 64};
    char line[64];
    void SetUp() override {
        naps.clear();
        Telnet::sleepMs = recordNap;
        std::memset(line, '#', sizeof line);
    }
    void TearDown() override { Telnet::sleepMs = saved; }
};
} // namespace

TEST_F(TelnetTest, ReadsCrLfLinesOneAtATime) {
    s.chunk("hello\r\nworld\r\n");
    EXPECT_EQ(Telnet::read(&a, line, 32), 7);
    EXPECT_STREQ(line, "hello\r\n");
    EXPECT_EQ(Telnet::read(&a, line, 32), 7);
    EXPECT_STREQ(line, "world\r\n");
    EXPECT_TRUE(naps.empty());
}

TEST_F(TelnetTest, LongLineIsCutAndItsRestDropped) {
    s.chunk("abcdefg\nxy\n");
    EXPECT_EQ(Telnet::read(&a, line, 4), 4);
    EXPECT_STREQ(line, "abcd");
    EXPECT_EQ(a.available(), 3);   // only the next line is left
    EXPECT_EQ(Telnet::read(&a, line, 4), 3);
    EXPECT_STREQ(line, "xy\n");
    EXPECT_EQ(a.available(), 0);
}

TEST_F(TelnetTest, LineSplitAcrossFills) {
    s.chunk("hel").pause().chunk("lo wo").pause().pause().chunk("rld\r\n");
    EXPECT_EQ(Telnet::read(&a, line, 32), 13);
    EXPECT_STREQ(line, "hello world\r\n");
    // The first wait after data is short, later ones long.
    EXPECT_EQ(naps, (std::vector<int>{10, 10, 100}));
}

TEST_F(TelnetTest, LongLineSplitAcrossFills) {
    s.chunk("abcdef").pause().chunk("ghij").chunk("k\nnext\n");
    EXPECT_EQ(Telnet::read(&a, line, 4), 4);
    EXPECT_STREQ(line, "abcd");
    EXPECT_EQ(Telnet::read(&a, line, 10), 5);
    EXPECT_STREQ(line, "next\n");
}

TEST_F(TelnetTest, LineLongerThanTheRing) {
    AccuStream small(&s, 4);
    s.chunk("abcdefghij\nrest");
    EXPECT_EQ(Telnet::read(&small, line, 32), 11);
    EXPECT_STREQ(line, "abcdefghij\n");
}

TEST_F(TelnetTest, PeerClosingEndsWithoutALine) {
    s.chunk("part").end();
    EXPECT_EQ(Telnet::read(&a, line, 32), 0);
    EXPECT_STREQ(line, "part");   // what came stays in Line
}

TEST_F(TelnetTest, GivesUpAfterPatienceRunsOut) {
    EXPECT_EQ(Telnet::read(&a, line, 32), 0);
    EXPECT_STREQ(line, "");
    ASSERT_EQ(naps.size(), 1200u);
    EXPECT_EQ(naps.front(), 10);
    EXPECT_EQ(naps[1], 100);
    EXPECT_EQ(naps.back(), 100);
}

TEST_F(TelnetTest, RefusesBadArguments) {
    s.chunk("abc\n");
    EXPECT_EQ(Telnet::read(nullptr, line, 32), 0);
    EXPECT_EQ(Telnet::read(&a, nullptr, 32), 0);
    EXPECT_EQ(Telnet::read(&a, line, -1), 0);
    EXPECT_EQ(line[0], '#');
    AccuStream notReady(nullptr, 8);
    EXPECT_EQ(Telnet::read(&notReady, line, 32), 0);
    // Nothing was consumed by the refused calls.
    EXPECT_EQ(Telnet::read(&a, line, 32), 4);
    EXPECT_STREQ(line, "abc\n");

    EXPECT_EQ(Telnet::write(&a, "hi\r\n"), 4);
    EXPECT_EQ(s.written, "hi\r\n");
    EXPECT_EQ(Telnet::write(&a, nullptr), 0);
    EXPECT_EQ(Telnet::write(&notReady, "x"), 0);
}

TEST_F(TelnetTest, NoRoomStillConsumesTheLine) {
    // maxLen 0: the line is read and dropped; Line holds only its terminator.
    s.chunk("ab").pause().chunk("c\nxy\n");
    EXPECT_EQ(Telnet::read(&a, line, 0), 0);
    EXPECT_EQ(line[0], 0);
    EXPECT_EQ(line[1], '#');
    EXPECT_EQ(naps, (std::vector<int>{10}));
    EXPECT_EQ(Telnet::read(&a, line, 32), 3);
    EXPECT_STREQ(line, "xy\n");
}

TEST_F(TelnetTest, LinesOverARealConnection) {
    Loop l;
    l.connectPair();
    AccuStream in(l.client->getIOStream(), 16);
    const char text[] = "one\r\ntwo\npart";
    ASSERT_EQ(Telnet::write(&in, "hello\n"), 6);
    ASSERT_EQ(l.peer->send(text, sizeof text - 1), static_cast<int>(sizeof text - 1));
    ASSERT_TRUE(waitReadable(l.client->sock));
    // A short real nap keeps the bounded polling honest over loopback.
    Telnet::sleepMs = [](int ms) {
        naps.push_back(ms);
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    };
    EXPECT_EQ(Telnet::read(&in, line, 32), 5);
    EXPECT_STREQ(line, "one\r\n");
    EXPECT_EQ(Telnet::read(&in, line, 32), 4);
    EXPECT_STREQ(line, "two\n");

    ASSERT_TRUE(waitReadable(l.peer->sock));
    char got[8] = {};
    EXPECT_EQ(l.peer->recv(got, 7), 6);
    EXPECT_STREQ(got, "hello\n");

    // The peer goes away: the partial line stays, no line is reported.
    delete l.peer;
    l.peer = nullptr;
    naps.clear();
    EXPECT_EQ(Telnet::read(&in, line, 32), 0);
    EXPECT_STREQ(line, "part");
    EXPECT_EQ(naps.size(), 1200u);
}

TEST(TelnetSleep, DefaultSleepWaits) {
    auto start = std::chrono::steady_clock::now();
    Telnet::sleepMs(10);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(9));
}
