#pragma once
#include <cstddef>
#include <string_view>

// What a request to a share must show before it is answered: the share's
// secret token at the start of its path, a Host that names this machine by
// address, and an Origin (when it has one) of the page itself.

class shareToken {
public:
    static constexpr size_t bytes = 16;   // 128 random bits, written as hex

    shareToken() = default;
    ~shareToken();   // wiped
    shareToken(const shareToken&) = delete;
    shareToken& operator=(const shareToken&) = delete;

    // A new token from the system's random bytes; false when it gives none.
    bool make();
    // The token as given (32 hex digits, kept in lower case); false for
    // anything else.
    bool take(const std::string_view hex);
    const char* text() const { return text_; }
    // What follows "/<token>/" in path, or null when path does not begin
    // so; the token is compared in constant time.
    const char* below(const char* path) const;

private:
    char text_[2 * bytes + 1] = {};
};

// Whether a Host names this machine by address, never by a name that
// someone's DNS could point here: an IP literal or "localhost", with an
// optional port of any number, since a page may come through a forwarded
// port (ssh -L).
bool shareHostAllowed(const char* host);

// Whether a request may be answered as coming from the share's own page:
// it carries no Origin, or "http://" and the request's Host.
bool shareOriginAllowed(const char* origin, const char* host);
