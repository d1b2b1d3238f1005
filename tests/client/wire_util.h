#pragma once
// The bytes of the QUORVEX session as a server sends them, for the scripted
// peers of the Linux and the Windows tests: words, screen lists, screen
// updates and their compressed form.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

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

}  // namespace peer
