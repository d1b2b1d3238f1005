// The checks of a share's requests, and its token from the system's random
// bytes.
#include "share/token.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/random.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "net/sutil.h"
#include "share/webshare.h"

namespace {

// The OS's random bytes; false when it gives none.
bool randomBytes(unsigned char* out, size_t n) {
    size_t got = 0;
    while (got < n) {
        const ssize_t r = getrandom(out + got, n - got, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

shareToken::~shareToken() { wipeMemory(text_, sizeof text_); }

bool shareToken::make() {
    unsigned char raw[bytes];
    if (!randomBytes(raw, sizeof raw)) return false;
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < bytes; ++i) {
        text_[2 * i] = hex[raw[i] >> 4];
        text_[2 * i + 1] = hex[raw[i] & 15];
    }
    text_[2 * bytes] = 0;
    wipeMemory(raw, sizeof raw);
    return true;
}

bool shareToken::take(const std::string_view hex) {
    if (hex.size() != 2 * bytes) return false;
    for (size_t i = 0; i < hex.size(); ++i) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(hex[i])));
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        text_[i] = c;
    }
    text_[2 * bytes] = 0;
    return true;
}

const char* shareToken::below(const char* path) const {
    if (!path || path[0] != '/') return nullptr;
    const size_t n = 2 * bytes;
    if (strnlen(path + 1, n + 1) < n + 1) return nullptr;
    unsigned char diff = 0;
    for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(path[1 + i] ^ text_[i]);
    const bool opens = (diff == 0) & (path[1 + n] == '/');
    return opens ? path + 2 + n : nullptr;
}

bool shareHostAllowed(const char* value) {
    if (!value) return false;
    const std::string_view host(value);
    std::string_view port;
    if (!host.empty() && host[0] == '[') {
        const size_t close = host.find(']');
        if (close == std::string_view::npos || close > 64) return false;
        char v6[65] = {};
        host.copy(v6, close - 1, 1);
        in6_addr unused;
        if (inet_pton(AF_INET6, v6, &unused) != 1) return false;
        port = host.substr(close + 1);
    } else {
        const size_t colon = host.find(':');
        const std::string_view name = host.substr(0, colon);
        if (!ipv4Literal(name) && !equalNoCase(name, "localhost")) return false;
        if (colon != std::string_view::npos) port = host.substr(colon);
    }
    return port.empty() || (port.size() >= 2 && port.size() <= 6 && port[0] == ':' &&
                            port.find_first_not_of("0123456789", 1) == std::string_view::npos);
}

bool shareOriginAllowed(const char* origin, const char* host) {
    return !origin || (host && equalNoCase(origin, std::string("http://") + host));
}
