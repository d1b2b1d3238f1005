// Address resolution and address texts: the same getaddrinfo and inet_ntop
// calls on both builds (Winsock 2 from ws2tcpip.h on Windows).
#include "net/sysnet.h"

#include <cstring>

namespace {

// Puts the port (host order) into an IPv4 or IPv6 address.
void setPort(sockAddress& a, int port) {
    const auto net = htons(static_cast<unsigned short>(port));
    if (a.family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&a.storage)->sin6_port = net;
    else
        reinterpret_cast<sockaddr_in*>(&a.storage)->sin_port = net;
}

} // namespace

bool sockLiteralAddress(const char* host, int port, sockAddress& out) {
    if (!host) return false;
    out = sockAddress{};
    // inet_addr, not inet_pton: short forms such as 10.1 read as they always did.
    const unsigned int dotted = static_cast<unsigned int>(inet_addr(host));
    if (dotted != INADDR_NONE && dotted != 0) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&out.storage);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = dotted;
        out.length = sizeof(sockaddr_in);
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&out.storage);
        if (inet_pton(AF_INET6, host, &v6->sin6_addr) != 1) return false;
        v6->sin6_family = AF_INET6;
        out.length = sizeof(sockaddr_in6);
    }
    setPort(out, port);
    return true;
}

std::vector<sockAddress> sockResolveAll(const char* host, int port) {
    std::vector<sockAddress> found;
    if (!host) return found;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    // The port is set afterwards: any number the entry holds is taken as
    // the socket calls take it, not refused as a service name.
    if (getaddrinfo(host, nullptr, &hints, &list) != 0) return found;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || !a->ai_addr || a->ai_addrlen <= 0 ||
            static_cast<size_t>(a->ai_addrlen) > sizeof(sockaddr_storage))
            continue;
        sockAddress one;
        std::memcpy(&one.storage, a->ai_addr, static_cast<size_t>(a->ai_addrlen));
        one.length = static_cast<SockLen>(a->ai_addrlen);
        setPort(one, port);
        found.push_back(one);
    }
    freeaddrinfo(list);
    return found;
}

std::string sockAddressText(const sockAddress& address) {
    char text[64] = "";
    if (address.family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr, text, sizeof text);
    else if (address.family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr, text, sizeof text);
    return text;
}

int sockAddressPort(const sockAddress& address) {
    if (address.family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_port);
}
