#pragma once
// The bytes of the QUORVEX session as a server sends them, for the scripted
// peers of the Linux and the Windows tests: words, screen lists, screen
// updates and their compressed form, and the server's end of a connection.

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "crypto/md5c.h"
#include "crypto/rc4.h"
#include "net/sysnet.h"

namespace peer {

inline uint32_t word(uint16_t type, uint16_t value) { return type | (uint32_t{value} << 16); }

inline void putWord(std::vector<unsigned char>& v, uint32_t w) {
    for (int b = 0; b < 4; ++b) v.push_back(static_cast<unsigned char>(w >> (8 * b)));
}

inline uint32_t getWord(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Screen list payload: 4 unused bytes, then id, name length, name.
inline std::vector<unsigned char> screenList(const std::vector<std::pair<uint32_t, std::string>>& list) {
    std::vector<unsigned char> v;
    putWord(v, 0);
    for (const auto& [id, name] : list) {
        putWord(v, id);
        putWord(v, static_cast<uint32_t>(name.size()));
        v.insert(v.end(), name.begin(), name.end());
    }
    return v;
}

// A screen update of a cursor word and the two run-encoded parts.
inline std::vector<unsigned char> screenUpdate(int cursorCol, int cursorRow, const std::vector<unsigned char>& chars,
                                               const std::vector<unsigned char>& attrs) {
    std::vector<unsigned char> v;
    putWord(v, static_cast<uint32_t>(cursorCol) | (static_cast<uint32_t>(cursorRow) << 16));
    putWord(v, static_cast<uint32_t>(chars.size()));
    v.insert(v.end(), chars.begin(), chars.end());
    putWord(v, static_cast<uint32_t>(attrs.size()));
    v.insert(v.end(), attrs.begin(), attrs.end());
    return v;
}

// A screen update that writes text (at most 63 characters) at (col, row) in
// attr, cursor after it.
inline std::vector<unsigned char> textUpdate(int col, int row, const std::string& text, unsigned char attr) {
    auto runs = [&](bool attrs) {
        std::vector<unsigned char> d;
        if (row > 0) d.push_back(static_cast<unsigned char>(0xC0 | row));
        if (col > 0) d.push_back(static_cast<unsigned char>(0x80 | col));
        if (attrs) {
            d.push_back(static_cast<unsigned char>(0x40 | text.size()));
            d.push_back(attr);
        } else {
            d.push_back(static_cast<unsigned char>(text.size()));
            d.insert(d.end(), text.begin(), text.end());
        }
        return d;
    };
    return screenUpdate(col + static_cast<int>(text.size()), row, runs(false), runs(true));
}

// A screen update that rewrites row `row` (1 to 24) with the 80 characters
// of text (a full-row run), the left half in attr1 and the right in attr2.
inline std::vector<unsigned char> rowUpdate(int row, const std::string& text, unsigned char attr1,
                                            unsigned char attr2) {
    std::vector<unsigned char> chars = {static_cast<unsigned char>(0xC0 | row), 0xC0};
    chars.insert(chars.end(), text.begin(), text.begin() + 80);
    const std::vector<unsigned char> attrs = {static_cast<unsigned char>(0xC0 | row), 0x40 | 40, attr1, 0x40 | 40,
                                              attr2};
    return screenUpdate(0, row, chars, attrs);
}

// The compressed form of data with the given marker: bytes as they are (the
// marker itself as marker, 0), and each run of four or more equal bytes as
// its first byte and a back-reference of distance 1 (marker, count,
// distance; numbers in 7-bit groups, most significant first).
inline std::vector<unsigned char> compressed(const std::vector<unsigned char>& data, unsigned char marker) {
    std::vector<unsigned char> out = {marker};
    auto number = [&out](size_t n) {
        unsigned char groups[5];
        int k = 0;
        do {
            groups[k++] = static_cast<unsigned char>(n & 0x7F);
            n >>= 7;
        } while (n);
        while (k > 1) out.push_back(static_cast<unsigned char>(groups[--k] | 0x80));
        out.push_back(groups[0]);
    };
    for (size_t i = 0; i < data.size();) {
        size_t run = 1;
        while (i + run < data.size() && data[i + run] == data[i]) ++run;
        out.push_back(data[i]);
        if (data[i] == marker) out.push_back(0);
        if (run < 4) {
            ++i;
            continue;
        }
        out.push_back(marker);
        number(run - 1);
        number(1);
        i += run;
    }
    return out;
}

// One accepted connection seen from the server's side, with its two ciphers.
class PeerLink {
public:
    using Clock = std::chrono::steady_clock;
    int fd = -1;
    rc4Cipher in;
    rc4Cipher out;

    void keyWith(const char* password) {
        unsigned char digest[16];
        passwordDigest(digest, password);
        in.setKey(digest, 16);
        out.setKey(digest, 16);
    }
    // Exactly n bytes, decrypted; false on timeout, close or error.
    bool recvExact(void* buffer, int n, int timeoutMs = 5000) {
        auto* p = static_cast<unsigned char*>(buffer);
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int got = 0; got < n;) {
            const int left = msUntil(deadline);
            if (left <= 0) return false;
            if (sockWait(fd, sockReadable, left) <= 0) continue;
            const int r = sockRecv(fd, p + got, n - got);
            if (r <= 0) return false;
            in.crypt(p + got, r, 0);
            got += r;
        }
        return true;
    }
    bool recvWord(uint32_t& w, int timeoutMs = 5000) {
        unsigned char b[4];
        if (!recvExact(b, 4, timeoutMs)) return false;
        w = getWord(b);
        return true;
    }
    // The next n bytes, decrypted (none when they did not come).
    std::vector<unsigned char> recvBytes(int n) {
        std::vector<unsigned char> v(static_cast<size_t>(n));
        if (!recvExact(v.data(), n)) v.clear();
        return v;
    }
    bool sendRaw(const void* data, size_t n) {
        const auto* p = static_cast<const char*>(data);
        while (n > 0) {
            const int r = sockSend(fd, p, static_cast<int>(n));
            if (r <= 0) return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    bool send(std::vector<unsigned char> data) {
        out.crypt(data.data(), static_cast<int32_t>(data.size()), 0);
        return sendRaw(data.data(), data.size());
    }
    bool sendWord(uint32_t w) {
        std::vector<unsigned char> v;
        putWord(v, w);
        return send(v);
    }
    // A message: header with type and length, then the payload.
    bool sendMessage(uint16_t type, const std::vector<unsigned char>& payload) {
        std::vector<unsigned char> v;
        putWord(v, word(type, static_cast<uint16_t>(payload.size())));
        v.insert(v.end(), payload.begin(), payload.end());
        return send(v);
    }
    bool sendScreenId(uint32_t id) {
        std::vector<unsigned char> v;
        putWord(v, id);
        return sendMessage(2, v);
    }
    // True when nothing (not even a close) arrives for ms.
    bool quiet(int ms) { return sockWait(fd, sockReadable, ms) == 0; }
    // True when the client closes its end within timeoutMs (pending bytes are
    // counted into *extra).
    bool closedByClient(int timeoutMs, int* extra = nullptr) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int bytes = 0;
        for (;;) {
            const int left = msUntil(deadline);
            if (left <= 0) return false;
            if (sockWait(fd, sockReadable, left) <= 0) continue;
            char b[256];
            const int r = sockRecv(fd, b, sizeof b);
            if (r <= 0) {
                if (extra) *extra = bytes;
                return true;
            }
            bytes += r;
        }
    }
    // True when the client closes its end within ms having sent nothing more.
    bool closedSilently(int ms = 5000) {
        int extra = -1;
        return closedByClient(ms, &extra) && extra == 0;
    }

private:
    static int msUntil(Clock::time_point deadline) {
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    }
};

}  // namespace peer
