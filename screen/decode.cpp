#include "screen/decode.h"

#include <cstdint>

// Decoding of the run-encoded screen data the server sends, into a session's
// model of the remote screen. The data comes from the network: every length
// is checked before a byte is read, rows past the screen end the drawing, and
// columns past the screen are never drawn.

namespace {

constexpr unsigned char kindMask = 0xC0;
constexpr unsigned char countMask = 0x3F;
constexpr unsigned char kindCopy = 0x00;
constexpr unsigned char kindFill = 0x40;
constexpr unsigned char kindSkip = 0x80;
constexpr unsigned char fullRow = 0xC0;

// Writes items of one plane into the model: characters (low byte of a cell)
// or attributes (high byte). Runs are cut at the right edge.
struct Target {
    remoteScreen& model;
    bool* rows;   // rows touched, or null

    template <class Put>
    void put(int x, int y, int n, Put each) {
        if (x < 0 || y < 0 || y >= screenRows || n <= 0) return;
        const int end = n < screenCols - x ? x + n : screenCols;
        if (x >= end) return;
        uint16_t* row = model.cells[y];
        for (int c = x; c < end; ++c) row[c] = each(row[c], c - x);
        if (rows) rows[y] = true;
    }
};

struct CharPlane {
    static void copy(Target& t, int x, int y, const unsigned char* bytes, int n) {
        t.put(x, y, n, [&](uint16_t cell, int i) { return static_cast<uint16_t>((cell & 0xFF00) | bytes[i]); });
    }
    static void fill(Target& t, int x, int y, int n, unsigned char b) {
        t.put(x, y, n, [&](uint16_t cell, int) { return static_cast<uint16_t>((cell & 0xFF00) | b); });
    }
};

struct AttrPlane {
    static void copy(Target& t, int x, int y, const unsigned char* bytes, int n) {
        t.put(x, y, n, [&](uint16_t cell, int i) { return static_cast<uint16_t>((cell & 0x00FF) | (bytes[i] << 8)); });
    }
    static void fill(Target& t, int x, int y, int n, unsigned char b) {
        t.put(x, y, n, [&](uint16_t cell, int) { return static_cast<uint16_t>((cell & 0x00FF) | (b << 8)); });
    }
};

// Walks the items of `length` bytes of run data and draws each with one call.
template <class Plane>
void paintRunData(Target& target, const unsigned char* data, int32_t length)
{
    if (data == nullptr || length <= 0)
        return;
    int32_t pos = 0;
    int col = 0;
    int row = 0;
    while (pos < length) {
        const unsigned char control = data[pos++];
        const int n = control & countMask;
        const int32_t left = length - pos;
        // Only cells on the screen are drawn; a column at or past the right
        // edge stays there until the next row item moves back to column 0.
        const bool visible = col < screenCols;
        switch (control & kindMask) {
        case kindCopy:
            if (left < n)
                return;   // the run is cut short by the end of the data
            if (visible)
                Plane::copy(target, col, row, data + pos, n);
            pos += n;
            col += n;
            break;
        case kindFill:
            if (left < 1)
                return;
            if (visible)
                Plane::fill(target, col, row, n, data[pos]);
            pos += 1;
            col += n;
            break;
        case kindSkip:
            col += n;
            break;
        default:
            if (control == fullRow) {
                if (left < screenCols)
                    return;
                if (visible)
                    Plane::copy(target, col, row, data + pos, screenCols);
                pos += screenCols;
            } else {
                row += n;
                if (row >= screenRows)
                    return;   // nothing below the last row can be drawn
            }
            col = 0;
            break;
        }
        // Keeps the column from growing without bound on long skip chains.
        if (col > screenCols)
            col = screenCols;
    }
}

int32_t readLe32(const unsigned char* p)
{
    const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return static_cast<int32_t>(v);
}

int clampTo(int v, int low, int high)
{
    return v < low ? low : (v > high ? high : v);
}

// Reads one number of 7-bit groups, most significant first; false when the
// data ends inside it or the value does not fit 31 bits.
bool readGroupNumber(const unsigned char* src, int32_t length, int32_t& pos, int32_t& value)
{
    uint32_t v = 0;
    while (pos < length) {
        const unsigned char b = src[pos++];
        if (v > (0x7FFFFFFFu >> 7))
            return false;   // another group would not fit
        v = (v << 7) | (b & 0x7Fu);
        if (!(b & 0x80)) {
            value = static_cast<int32_t>(v);
            return true;
        }
    }
    return false;
}

}   // namespace

void paintCharData(remoteScreen& model, const unsigned char* data, int32_t length, bool* rows)
{
    Target target{model, rows};
    paintRunData<CharPlane>(target, data, length);
}

void paintAttrData(remoteScreen& model, const unsigned char* data, int32_t length, bool* rows)
{
    Target target{model, rows};
    paintRunData<AttrPlane>(target, data, length);
}

// Paints one screen update: cursor word, character data, attribute data.
// A cursor outside the screen is pulled to its nearest edge; lengths that do
// not fit the payload are cut to it and reported as malformed.
int paintScreenUpdate(remoteScreen& model, const unsigned char* payload, int32_t length, bool* rows)
{
    if (payload == nullptr || length < 4)
        return -1;
    const auto cursor = static_cast<uint32_t>(readLe32(payload));
    model.cursorX = clampTo(static_cast<int16_t>(cursor & 0xFFFF), 0, screenCols - 1);
    model.cursorY = clampTo(static_cast<int16_t>(cursor >> 16), 0, screenRows - 1);

    if (length < 8)
        return -1;
    const int32_t charLength = readLe32(payload + 4);
    if (charLength < 0)
        return -1;
    const int32_t charRoom = length - 8;
    if (charLength > charRoom) {
        paintCharData(model, payload + 8, charRoom, rows);
        return -1;
    }
    paintCharData(model, payload + 8, charLength, rows);

    const int32_t attrAt = 8 + charLength;
    if (length - attrAt < 4)
        return -1;
    const int32_t attrLength = readLe32(payload + attrAt);
    if (attrLength < 0)
        return -1;
    const int32_t attrRoom = length - attrAt - 4;
    if (attrLength > attrRoom) {
        paintAttrData(model, payload + attrAt + 4, attrRoom, rows);
        return -1;
    }
    paintAttrData(model, payload + attrAt + 4, attrLength, rows);
    return 0;
}

// Expands a compressed update: bytes other than the marker are literals, the
// marker and 0 is the marker itself, the marker and two numbers (count and
// distance) repeat earlier output byte by byte.
int32_t unpackScreenData(const unsigned char* src, unsigned char* dest, int32_t length, int32_t destLen)
{
    if (length == 0)
        return 0;
    if (src == nullptr || dest == nullptr || length < 0 || destLen < 0)
        return -1;
    const unsigned char marker = src[0];
    int32_t pos = 1;
    int32_t out = 0;
    while (pos < length) {
        const unsigned char b = src[pos++];
        if (b != marker) {
            if (out >= destLen)
                return -1;
            dest[out++] = b;
            continue;
        }
        if (pos >= length)
            return -1;   // a marker with nothing after it
        if (src[pos] == 0) {
            ++pos;
            if (out >= destLen)
                return -1;
            dest[out++] = marker;
            continue;
        }
        int32_t count = 0;
        int32_t distance = 0;
        if (!readGroupNumber(src, length, pos, count) || !readGroupNumber(src, length, pos, distance))
            return -1;
        if (distance < 1 || distance > out || count > destLen - out)
            return -1;
        // Byte by byte on purpose: a distance below the count repeats a pattern.
        for (int32_t k = 0; k < count; ++k, ++out)
            dest[out] = dest[out - distance];
    }
    return out;
}
