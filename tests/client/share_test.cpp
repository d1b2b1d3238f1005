// The address of --share: what is taken, what is refused and why, and which
// addresses are said to be open to the network.

#include <gtest/gtest.h>

#include "share/webshare.h"

namespace {

struct addressCase {
    const char* text;
    const char* host;   // null: refused, with wrong in the reason
    int port;
    const char* wrong;
    bool open;          // the share would be open to the network
};

const addressCase addressCases[] = {
    {"127.0.0.1:8080", "127.0.0.1", 8080, "", false},
    {":8081", "127.0.0.1", 8081, "", false},
    {"127.0.0.2", "127.0.0.2", 0, "", false},
    {"0.0.0.0", "0.0.0.0", 0, "", true},
    {"192.168.1.20:0", "192.168.1.20", 0, "", true},
    {"255.255.255.255:65535", "255.255.255.255", 65535, "", true},
    {"8081,0.0.0.0:8765", nullptr, 0, "not ADDR", false},
    {"foo", nullptr, 0, "not ADDR", false},
    {"localhost:8080", nullptr, 0, "not ADDR", false},
    {"", nullptr, 0, "not ADDR", false},
    {":", nullptr, 0, "not ADDR", false},
    {"127.0.0.1:", nullptr, 0, "not ADDR", false},
    {"127.0.0.1:65536", nullptr, 0, "not ADDR", false},
    {"127.0.0.1:+80", nullptr, 0, "not ADDR", false},
    {"127.0.0.1:80:81", nullptr, 0, "not ADDR", false},
    {"127.0.0.01", nullptr, 0, "not ADDR", false},
    {"127.1", nullptr, 0, "not ADDR", false},
    {"256.0.0.1", nullptr, 0, "not ADDR", false},
    {"1.2.3.4.5", nullptr, 0, "not ADDR", false},
    {"127.0.0.1 ", nullptr, 0, "not ADDR", false},
    {"[::1]:8080", nullptr, 0, "without IPv6", false},
    {"::1", nullptr, 0, "without IPv6", false},
    {"fe80::1", nullptr, 0, "without IPv6", false},
};

TEST(ShareAddress, OneIpv4AddressAndOnePortOrWhyNot) {
    for (const addressCase& c : addressCases) {
        std::string host = "unset";
        int port = -1;
        const std::string wrong = parseShareAddress(c.text, host, port);
        EXPECT_NE(wrong.find(c.wrong), std::string::npos) << c.text << ": " << wrong;
        if (c.host) {
            EXPECT_EQ(wrong, "") << c.text;
            EXPECT_EQ(host, c.host) << c.text;
            EXPECT_EQ(port, c.port) << c.text;
            EXPECT_EQ(!shareAddressWarning(host).empty(), c.open) << c.text;
        }
    }
}

}  // namespace
