#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// Screen updates as the stand-in server produces them: the run encoding of
// the difference between two 80 x 25 screens, and the compressed form that
// a client expands with unpackScreenData.

constexpr int simCols = 80;
constexpr int simRows = 25;

// One server screen: a character plane, an attribute plane and the cursor.
struct ScreenImage {
    unsigned char chars[simRows][simCols] = {};
    unsigned char attrs[simRows][simCols] = {};
    int16_t cursorX = 0;
    int16_t cursorY = 0;

    bool operator==(const ScreenImage&) const = default;
};

// Appends the run-encoded items that turn plane `before` into plane `after`.
// With no `before` every cell is written (a full update).
void encodePlane(const unsigned char (*before)[simCols], const unsigned char (*after)[simCols],
                 std::vector<unsigned char>& out);

// The screen update payload (cursor word, Lc, character data, La, attribute
// data) that turns `before` into `after`; null `before` gives a full update.
std::vector<unsigned char> encodeScreenUpdate(const ScreenImage* before, const ScreenImage& after);

// Compresses data so that unpackScreenData gives it back exactly: a marker
// byte first, then literals, the marker and 0 for a literal marker, and the
// marker with two numbers of 7-bit groups (count, distance) for a repeat.
std::vector<unsigned char> compressScreenData(const unsigned char* data, size_t length);
