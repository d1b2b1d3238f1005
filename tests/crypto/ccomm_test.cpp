#include "crypto/ccomm.h"
#include "crypto/rc4.h"

#include <gtest/gtest.h>

#include "net/sysnet.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

namespace {

const unsigned char sessionKey[16] = {0x35, 0x5f, 0xb1, 0x28, 0x61, 0x65, 0x90, 0x05,
                                      0x74, 0xdc, 0x09, 0x2b, 0x9a, 0xdc, 0xe1, 0x32};

rc4Cipher keyed()
{
    rc4Cipher c;
    c.setKey(sessionKey, 16);
    return c;
}

bool sameState(const rc4Cipher& a, const rc4Cipher& b)
{
    return a.i == b.i && a.j == b.j && std::memcmp(a.permutation, b.permutation, 256) == 0;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        sockClose(fd);
    fd = -1;
}

// A connected TCP pair on the loopback interface.
struct TcpPair {
    int a = -1, b = -1;

    TcpPair()
    {
        int lst = sockOpenTcp();
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        SockLen alen = sizeof addr;
        if (lst < 0 || ::bind(lst, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(lst, 1) != 0 || ::getsockname(lst, reinterpret_cast<sockaddr*>(&addr), &alen) != 0) {
            closeFd(lst);
            return;
        }
        a = sockOpenTcp();
        if (a >= 0 && ::connect(a, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            b = static_cast<int>(::accept(lst, nullptr, nullptr));
        closeFd(lst);
    }
    ~TcpPair()
    {
        closeFd(a);
        closeFd(b);
    }
    bool ok() const { return a >= 0 && b >= 0; }
};

#ifdef _WIN32
// Winsock has no socketpair: the same cases run over TCP.
using UnixPair = TcpPair;
#else
struct UnixPair {
    int a = -1, b = -1;
    UnixPair()
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) == 0) {
            a = fds[0];
            b = fds[1];
        }
    }
    ~UnixPair()
    {
        closeFd(a);
        closeFd(b);
    }
};
#endif

#ifdef _WIN32
const int kNotASocket = WSAENOTSOCK;
#else
const int kNotASocket = EBADF;
#endif

bool readable(int fd, int ms = 2000)
{
    return sockWait(fd, sockReadable, ms) == sockReadable;
}

// Receives exactly want bytes through c_recv in pieces of at most piece bytes.
std::vector<unsigned char> recvAll(rc4Cipher& c, int fd, size_t want, int32_t piece)
{
    std::vector<unsigned char> out;
    std::vector<unsigned char> buf(static_cast<size_t>(piece));
    while (out.size() < want && readable(fd)) {
        auto room = static_cast<int32_t>(std::min(want - out.size(), buf.size()));
        int32_t n = c_recv(c, fd, buf.data(), room);
        if (n <= 0)
            break;
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    }
    return out;
}

std::vector<unsigned char> pattern(size_t n, unsigned seed)
{
    std::vector<unsigned char> v(n);
    for (size_t k = 0; k < n; ++k)
        v[k] = static_cast<unsigned char>(k * seed + (k >> 8));
    return v;
}

} // namespace

TEST(EncryptedChannel, RoundTripOverTcp)
{
    TcpPair p;
    ASSERT_TRUE(p.ok());
    rc4Cipher send = keyed(), recv = keyed();

    std::vector<unsigned char> expected;
    for (size_t len : {1u, 26u, 128u, 8000u, 3u}) {
        auto msg = pattern(len, static_cast<unsigned>(len) | 1u);
        expected.insert(expected.end(), msg.begin(), msg.end());
        auto buf = msg;
        ASSERT_EQ(c_send(send, p.a, buf.data(), static_cast<int32_t>(buf.size())),
                  static_cast<int32_t>(len));
        if (len > 8) {
            EXPECT_NE(buf, msg); // the caller's buffer now holds ciphertext
        }
    }
    // The receiver reads in pieces that do not line up with the messages.
    auto got = recvAll(recv, p.b, expected.size(), 37);
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(sameState(send, recv));
}

TEST(EncryptedChannel, WireCarriesTheKeystreamXor)
{
    UnixPair p;
    ASSERT_GE(p.a, 0);
    rc4Cipher send = keyed();
    const char text[] = "QUORCLI Ready";
    unsigned char buf[sizeof text];
    std::memcpy(buf, text, sizeof text);
    ASSERT_EQ(c_send(send, p.a, buf, sizeof text), static_cast<int32_t>(sizeof text));

    unsigned char wire[64];
    ASSERT_TRUE(readable(p.b));
    ASSERT_EQ(sockRecv(p.b, wire, sizeof wire), static_cast<int>(sizeof text));
    EXPECT_EQ(std::memcmp(wire, buf, sizeof text), 0);

    rc4Cipher ref = keyed();
    std::vector<unsigned char> ks(sizeof text, 0);
    ref.crypt(ks.data(), static_cast<int32_t>(ks.size()), 0);
    for (size_t k = 0; k < sizeof text; ++k)
        EXPECT_EQ(wire[k], static_cast<unsigned char>(text[k]) ^ ks[k]) << k;
}

TEST(EncryptedChannel, RecvAdvancesByBytesReceived)
{
    UnixPair p;
    ASSERT_GE(p.a, 0);
    rc4Cipher send = keyed(), recv = keyed();
    auto msg = pattern(50, 11), buf = msg;
    ASSERT_EQ(c_send(send, p.a, buf.data(), 50), 50);

    // Ask for more than is there: only the 50 bytes that arrive move the cipher.
    unsigned char in[200];
    ASSERT_TRUE(readable(p.b));
    ASSERT_EQ(c_recv(recv, p.b, in, 20), 20);
    ASSERT_TRUE(readable(p.b));
    ASSERT_EQ(c_recv(recv, p.b, in + 20, 180), 30);
    EXPECT_EQ(std::vector<unsigned char>(in, in + 50), msg);

    rc4Cipher stepped = keyed();
    for (int k = 0; k < 50; ++k)
        stepped.nextState();
    EXPECT_TRUE(sameState(recv, stepped));
}

TEST(EncryptedChannel, ClosedOrFailedRecvLeavesCipherAlone)
{
    rc4Cipher c = keyed();
    c.nextState();
    const rc4Cipher before = c;
    unsigned char buf[32];
    std::memset(buf, 0xAB, sizeof buf);

    {
        UnixPair p;
        ASSERT_GE(p.a, 0);
        closeFd(p.a);
        ASSERT_TRUE(readable(p.b));
        EXPECT_EQ(c_recv(c, p.b, buf, sizeof buf), 0);
        EXPECT_TRUE(sameState(c, before));
    }
    {
        TcpPair p;
        ASSERT_TRUE(p.ok());
        closeFd(p.a);
        ASSERT_TRUE(readable(p.b));
        EXPECT_EQ(c_recv(c, p.b, buf, sizeof buf), 0);
        EXPECT_TRUE(sameState(c, before));
    }
    {
        int fd = sockOpenTcp();
        ASSERT_GE(fd, 0);
        sockClose(fd); // fd now names nothing
        sockSetLastError(0);
        EXPECT_EQ(c_recv(c, fd, buf, sizeof buf), -1);
        EXPECT_EQ(sockLastError(), kNotASocket);
        EXPECT_TRUE(sameState(c, before));
    }
    {
        // Nothing to read on a non-blocking socket is an error, not data.
        UnixPair p;
        ASSERT_GE(p.a, 0);
        ASSERT_EQ(sockSetNonBlocking(p.b, true), 0);
        sockSetLastError(0);
        EXPECT_EQ(c_recv(c, p.b, buf, sizeof buf), -1);
        EXPECT_TRUE(sockWouldBlock(sockLastError()));
        EXPECT_TRUE(sameState(c, before));
    }
    for (unsigned char b : buf)
        EXPECT_EQ(b, 0xAB);
}

TEST(EncryptedChannel, EmptyLengthsDoNothing)
{
    UnixPair p;
    ASSERT_GE(p.a, 0);
    rc4Cipher c = keyed();
    const rc4Cipher before = c;
    unsigned char buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};

    EXPECT_EQ(c_send(c, p.a, buf, 0), 0);
    EXPECT_EQ(c_send(c, p.a, buf, -5), 0);
    EXPECT_TRUE(sameState(c, before));
    EXPECT_EQ(buf[0], 1);
    EXPECT_FALSE(readable(p.b, 50)); // nothing went out

    unsigned char raw[3] = {9, 9, 9};
    ASSERT_EQ(sockSend(p.a, raw, 3), 3);
    EXPECT_EQ(c_recv(c, p.b, buf, 0), 0);
    EXPECT_EQ(c_recv(c, p.b, buf, -1), 0);
    EXPECT_TRUE(sameState(c, before));
    EXPECT_EQ(buf[0], 1);
    EXPECT_TRUE(readable(p.b, 50)); // the waiting bytes were not consumed

    sockSetLastError(0);
    EXPECT_EQ(c_send(c, p.a, nullptr, 4), -1);
    EXPECT_EQ(c_recv(c, p.b, nullptr, 4), -1);
    EXPECT_EQ(sockLastError(), sockErrFault);
    EXPECT_TRUE(sameState(c, before));
}

// Sending to a peer that has gone must fail with -1, not raise SIGPIPE.
TEST(EncryptedChannel, SendToClosedPeerFailsWithoutSignal)
{
#ifndef _WIN32
    // Make sure the default action (terminate) is what a missing flag would hit.
    auto* old = std::signal(SIGPIPE, SIG_DFL);
    {
        UnixPair p;
        ASSERT_GE(p.a, 0);
        closeFd(p.b);
        rc4Cipher c = keyed();
        unsigned char buf[16] = {};
        errno = 0;
        EXPECT_EQ(c_send(c, p.a, buf, sizeof buf), -1);
        EXPECT_EQ(errno, EPIPE);
    }
#endif
    {
        // Over TCP the first sends may still be accepted; the reset shows soon after.
        TcpPair p;
        ASSERT_TRUE(p.ok());
        closeFd(p.b);
        rc4Cipher c = keyed();
        std::vector<unsigned char> buf(1000, 0x42);
        int32_t r = 0;
        for (int attempt = 0; attempt < 2000 && r != -1; ++attempt) {   // 10 s and more
            r = c_send(c, p.a, buf.data(), static_cast<int32_t>(buf.size()));
            if (r != -1)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(r, -1);
        EXPECT_TRUE(sockPeerGone(sockLastError())) << sockLastError();
    }
#ifndef _WIN32
    std::signal(SIGPIPE, old);
#endif
}
