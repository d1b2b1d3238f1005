// The server's update encoder against the client's decoder: whatever the
// encoder makes of two screens, painting it over the first gives the second.

#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "screen/decode.h"
#include "sim/encoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The client's model of the screen that the updates paint.
remoteScreen shown;

void showOnCellScreen(const ScreenImage& s)
{
    for (int y = 0; y < simRows; ++y)
        for (int x = 0; x < simCols; ++x)
            shown.cells[y][x] = static_cast<uint16_t>(s.chars[y][x] | (s.attrs[y][x] << 8));
}

// Cells that differ between the cell screen and the image (0 = identical).
int mismatches(const ScreenImage& s)
{
    int n = 0;
    for (int y = 0; y < simRows; ++y)
        for (int x = 0; x < simCols; ++x)
            n += shown.cells[y][x] != static_cast<uint16_t>(s.chars[y][x] | (s.attrs[y][x] << 8));
    return n;
}

int32_t getLe32(const Bytes& b, size_t at)
{
    return static_cast<int32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24));
}

// Screens with the kinds of content real screens have: blank areas, runs of
// one value, text, random cells; `next` changes a random part of `base`.
class ScreenMaker {
public:
    explicit ScreenMaker(uint32_t seed) : rng_(seed) {}

    ScreenImage fresh()
    {
        ScreenImage s;
        for (int y = 0; y < simRows; ++y)
            paintRow(s, y);
        s.cursorX = static_cast<int16_t>(pick(0, 79));
        s.cursorY = static_cast<int16_t>(pick(0, 24));
        return s;
    }

    ScreenImage next(const ScreenImage& base)
    {
        ScreenImage s = base;
        switch (pick(0, 3)) {
        case 0:   // a few single cells
            for (int k = pick(1, 10); k > 0; --k) {
                const int y = pick(0, 24), x = pick(0, 79);
                s.chars[y][x] = static_cast<unsigned char>(pick(0, 255));
                if (pick(0, 1))
                    s.attrs[y][x] = static_cast<unsigned char>(pick(0, 255));
            }
            break;
        case 1:   // some whole rows
            for (int k = pick(1, 6); k > 0; --k)
                paintRow(s, pick(0, 24));
            break;
        case 2:   // stretches within rows
            for (int k = pick(1, 12); k > 0; --k) {
                const int y = pick(0, 24), from = pick(0, 79), to = pick(from, 79);
                const auto ch = static_cast<unsigned char>(pick(0, 255));
                for (int x = from; x <= to; ++x) {
                    s.chars[y][x] = pick(0, 3) ? ch : static_cast<unsigned char>(pick(0, 255));
                    s.attrs[y][x] = static_cast<unsigned char>(pick(0, 1) ? 0x1F : pick(0, 255));
                }
            }
            break;
        default:
            s = fresh();
            break;
        }
        s.cursorX = static_cast<int16_t>(pick(0, 79));
        s.cursorY = static_cast<int16_t>(pick(0, 24));
        return s;
    }

    int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

private:
    void paintRow(ScreenImage& s, int y)
    {
        const int kind = pick(0, 3);
        const auto a = static_cast<unsigned char>(pick(0, 255));
        for (int x = 0; x < simCols; ++x) {
            unsigned char ch = ' ';
            if (kind == 1)
                ch = static_cast<unsigned char>('A' + (x + y) % 26);
            else if (kind == 2)
                ch = static_cast<unsigned char>(pick(0, 255));
            else if (kind == 3)
                ch = static_cast<unsigned char>(x / 8 % 2 ? 0xDB : 0xB0);
            s.chars[y][x] = ch;
            s.attrs[y][x] = kind == 2 ? static_cast<unsigned char>(pick(0, 255)) : a;
        }
    }

    std::mt19937 rng_;
};

class EncoderRoundTrip : public ::testing::Test {};

TEST_F(EncoderRoundTrip, DifferencePaintedOverTheOldScreenGivesTheNewOne)
{
    ScreenMaker maker(20240611);
    for (int round = 0; round < 400; ++round) {
        const ScreenImage before = maker.fresh();
        const ScreenImage after = maker.next(before);
        const Bytes u = encodeScreenUpdate(&before, after);
        showOnCellScreen(before);
        ASSERT_EQ(paintScreenUpdate(shown, u.data(), static_cast<int32_t>(u.size())), 0);
        ASSERT_EQ(mismatches(after), 0) << "round " << round;
        ASSERT_EQ(shown.cursorX, after.cursorX);
        ASSERT_EQ(shown.cursorY, after.cursorY);
    }
}

TEST_F(EncoderRoundTrip, FullUpdateReplacesWhateverWasShown)
{
    ScreenMaker maker(7);
    for (int round = 0; round < 100; ++round) {
        const ScreenImage target = maker.fresh();
        showOnCellScreen(maker.fresh());
        const Bytes u = encodeScreenUpdate(nullptr, target);
        ASSERT_EQ(paintScreenUpdate(shown, u.data(), static_cast<int32_t>(u.size())), 0);
        ASSERT_EQ(mismatches(target), 0) << "round " << round;
    }
}

TEST_F(EncoderRoundTrip, CompressedUpdatesExpandToTheSameBytes)
{
    ScreenMaker maker(99);
    std::vector<unsigned char> expanded(unpackBufferSize);
    int smaller = 0;
    for (int round = 0; round < 200; ++round) {
        const ScreenImage before = maker.fresh();
        const ScreenImage after = maker.next(before);
        const Bytes u = encodeScreenUpdate(round % 4 ? &before : nullptr, after);
        if (u.size() > static_cast<size_t>(unpackBufferSize))
            continue;   // the server sends those uncompressed
        const Bytes packed = compressScreenData(u.data(), u.size());
        smaller += packed.size() < u.size();
        const int32_t n = unpackScreenData(packed.data(), expanded.data(), static_cast<int32_t>(packed.size()),
                                           unpackBufferSize);
        ASSERT_EQ(n, static_cast<int32_t>(u.size())) << "round " << round;
        ASSERT_TRUE(std::equal(u.begin(), u.end(), expanded.begin())) << "round " << round;
        showOnCellScreen(before);
        ASSERT_EQ(paintScreenUpdate(shown, expanded.data(), n), 0);
        if (round % 4) {
            ASSERT_EQ(mismatches(after), 0);
        }
    }
    EXPECT_GT(smaller, 100);
}

TEST(Compressor, ArbitraryBytesRoundTrip)
{
    std::mt19937 rng(5);
    for (int round = 0; round < 300; ++round) {
        const size_t length = rng() % 3000;
        Bytes data(length);
        // Few distinct values and repeated stretches, so that every value
        // (the marker too) and overlapping repeats occur.
        const unsigned alphabet = 1 + rng() % 256;
        for (size_t k = 0; k < length; ++k) {
            if (k > 8 && rng() % 4 == 0) {
                const size_t back = 1 + rng() % std::min<size_t>(k, 300);
                data[k] = data[k - back];
            } else {
                data[k] = static_cast<unsigned char>(rng() % alphabet);
            }
        }
        const Bytes packed = compressScreenData(data.data(), data.size());
        Bytes out(length + 1);
        const int32_t n = unpackScreenData(packed.data(), out.data(), static_cast<int32_t>(packed.size()),
                                           static_cast<int32_t>(out.size()));
        ASSERT_EQ(n, static_cast<int32_t>(length)) << "round " << round;
        ASSERT_TRUE(std::equal(data.begin(), data.end(), out.begin())) << "round " << round;
    }
    EXPECT_TRUE(compressScreenData(nullptr, 0).empty());
}

TEST(Compressor, LongRepeatsUseLongNumbers)
{
    Bytes data(5000, 'r');
    data[0] = 'x';
    const Bytes packed = compressScreenData(data.data(), data.size());
    EXPECT_LT(packed.size(), 12u);
    Bytes out(5000);
    ASSERT_EQ(unpackScreenData(packed.data(), out.data(), static_cast<int32_t>(packed.size()), 5000), 5000);
    EXPECT_EQ(out, data);
}

TEST(Encoder, ChoosesTheShortItems)
{
    ScreenImage blank;
    std::memset(blank.chars, ' ', sizeof blank.chars);
    std::memset(blank.attrs, 0x07, sizeof blank.attrs);

    // Nothing changed: empty character and attribute data.
    Bytes u = encodeScreenUpdate(&blank, blank);
    EXPECT_EQ(u.size(), 12u);

    // One character at (40, 10): next rows, skip, a one-cell item; no attributes.
    ScreenImage one = blank;
    one.chars[10][40] = 'X';
    u = encodeScreenUpdate(&blank, one);
    EXPECT_EQ(getLe32(u, 4), 4);
    EXPECT_EQ(Bytes(u.begin() + 8, u.begin() + 10), (Bytes{0xCA, 0x80 | 40}));
    EXPECT_TRUE(u[10] == 0x01 || u[10] == 0x41);
    EXPECT_EQ(u[11], 'X');
    EXPECT_EQ(getLe32(u, 12), 0);
    EXPECT_EQ(u.size(), 16u);

    // A uniform screen in full: one fill pair per 63 cells, rows joined by 0xC1.
    u = encodeScreenUpdate(nullptr, blank);
    EXPECT_EQ(getLe32(u, 4), 25 * 4 + 24);

    // A random screen in full: a full-row item for each row.
    ScreenImage noise;
    for (int y = 0; y < simRows; ++y)
        for (int x = 0; x < simCols; ++x)
            noise.chars[y][x] = static_cast<unsigned char>(x + y * 80);   // no two neighbours equal
    u = encodeScreenUpdate(nullptr, noise);
    EXPECT_EQ(getLe32(u, 4), 25 * 81 + 24);
    EXPECT_EQ(u[8], 0xC0);
}

}   // namespace
