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
    bool open;
};

const addressCase addressCases[] = {
    {"127.0.0.1:8080", "127.0.0.1", 8080, "", false}, {":8081", "127.0.0.1", 8081, "", false},
    {"0.0.0.0", "0.0.0.0", 0, "", true},               {"192.168.1.20:65535", "192.168.1.20", 65535, "", true},
    {"8081,0.0.0.0:8765", nullptr, 0, "not ADDR", false}, {"localhost:8080", nullptr, 0, "not ADDR", false},
    {"", nullptr, 0, "not ADDR", false},                {"127.0.0.1:", nullptr, 0, "not ADDR", false},
    {"127.0.0.1:65536", nullptr, 0, "not ADDR", false}, {"127.0.0.1:80:81", nullptr, 0, "not ADDR", false},
    {"127.0.0.01", nullptr, 0, "not ADDR", false},      {"127.1", nullptr, 0, "not ADDR", false},
    {"256.0.0.1 ", nullptr, 0, "not ADDR", false},      {"[::1]:8080", nullptr, 0, "without IPv6", false},
    {"fe80::1", nullptr, 0, "without IPv6", false},
};

TEST(ShareAddress, OneIpv4AddressAndOnePortOrWhyNot) {
    for (const addressCase& c : addressCases) {
        std::string host;
        int port = -1;
        const std::string wrong = parseShareAddress(c.text, host, port);
        EXPECT_NE(wrong.find(c.wrong), std::string::npos) << c.text << ": " << wrong;
        if (!c.host) continue;
        EXPECT_EQ(wrong + host + ":" + std::to_string(port), std::string(c.host) + ":" + std::to_string(c.port));
        EXPECT_EQ(!shareAddressWarning(host).empty(), c.open) << c.text;
    }
}

}  // namespace
