// Decoding of screen updates into a session's model of the remote screen,
// and the expansion of compressed updates, including data that breaks the
// limits.

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "screen/decode.h"

namespace {

using Bytes = std::vector<unsigned char>;

void putLe32(Bytes& out, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

Bytes update(uint32_t cursor, const Bytes& chars, const Bytes& attrs)
{
    Bytes out;
    putLe32(out, cursor);
    putLe32(out, static_cast<uint32_t>(chars.size()));
    out.insert(out.end(), chars.begin(), chars.end());
    putLe32(out, static_cast<uint32_t>(attrs.size()));
    out.insert(out.end(), attrs.begin(), attrs.end());
    return out;
}

class ScreenDecodeTest : public ::testing::Test {
protected:
    remoteScreen model;
    uint16_t before[screenRows][screenCols];

    void SetUp() override
    {
        // Every cell distinct from what the tests write: 'z' on attribute 0x17.
        for (auto& row : model.cells)
            for (auto& cell : row)
                cell = static_cast<uint16_t>('z' | (0x17 << 8));
        std::memcpy(before, model.cells, sizeof before);
        model.cursorX = model.cursorY = 0;
    }
    unsigned char charAt(int x, int y) const { return static_cast<unsigned char>(model.cells[y][x] & 0xFF); }
    unsigned char attrAt(int x, int y) const { return static_cast<unsigned char>(model.cells[y][x] >> 8); }

    // Cells that differ from the starting picture.
    int changedCells() const
    {
        int n = 0;
        for (int y = 0; y < screenRows; ++y)
            for (int x = 0; x < screenCols; ++x)
                n += model.cells[y][x] != before[y][x];
        return n;
    }
    void paintChars(const Bytes& d) { paintCharData(model, d.data(), static_cast<int32_t>(d.size())); }
    void paintAttrs(const Bytes& d) { paintAttrData(model, d.data(), static_cast<int32_t>(d.size())); }
};

TEST_F(ScreenDecodeTest, CursorWordPlacesCursor)
{
    const Bytes u = update(3 | (5u << 16), {}, {});
    EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size())), 0);
    EXPECT_EQ(model.cursorX, 3);
    EXPECT_EQ(model.cursorY, 5);
    EXPECT_EQ(changedCells(), 0);
}

TEST_F(ScreenDecodeTest, CursorOutsideScreenIsPulledToTheEdge)
{
    Bytes u = update(200 | (30u << 16), {}, {});
    paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size()));
    EXPECT_EQ(model.cursorX, 79);
    EXPECT_EQ(model.cursorY, 24);
    u = update(0xFFFF | (0x8000u << 16), {}, {});
    paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size()));
    EXPECT_EQ(model.cursorX, 0);
    EXPECT_EQ(model.cursorY, 0);
}

TEST_F(ScreenDecodeTest, FillWritesCharactersAndKeepsAttributes)
{
    paintChars({0x43, 0x41});
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(charAt(x, 0), 0x41);
        EXPECT_EQ(attrAt(x, 0), 0x17);
    }
    EXPECT_EQ(changedCells(), 3);
}

TEST_F(ScreenDecodeTest, FullRowStaysOnItsRowUntilNextRows)
{
    Bytes d{0xC0};
    for (int k = 0; k < 80; ++k)
        d.push_back(static_cast<unsigned char>('A' + k % 26));
    d.insert(d.end(), {0x82, 0x01, 0x58, 0xC1, 0x01, 0x59});
    paintChars(d);
    EXPECT_EQ(charAt(0, 0), 'A');
    EXPECT_EQ(charAt(1, 0), 'B');
    EXPECT_EQ(charAt(2, 0), 0x58);   // the copy after the full row lands on row 0
    EXPECT_EQ(charAt(3, 0), 'D');
    EXPECT_EQ(charAt(79, 0), 'A' + 79 % 26);
    EXPECT_EQ(charAt(0, 1), 0x59);   // 0xC1 moved to column 0 of row 1
    EXPECT_EQ(changedCells(), 81);
}

TEST_F(ScreenDecodeTest, AttributeSkipLeavesCellsAlone)
{
    paintAttrs({0x81, 0x01, 0x1F});
    EXPECT_EQ(attrAt(0, 0), 0x17);
    EXPECT_EQ(attrAt(1, 0), 0x1F);
    EXPECT_EQ(charAt(1, 0), 'z');
    EXPECT_EQ(changedCells(), 1);
}

TEST_F(ScreenDecodeTest, ItemsMarkTheRowsTheyWrite)
{
    // fill, skip, copy, next rows, fill: rows 0 and 2 written, row 1 not.
    const Bytes d{0x42, 'a', 0x81, 0x02, 'b', 'c', 0xC2, 0x41, 'd'};
    bool rows[screenRows] = {};
    paintCharData(model, d.data(), static_cast<int32_t>(d.size()), rows);
    for (int r = 0; r < screenRows; ++r)
        EXPECT_EQ(rows[r], r == 0 || r == 2) << "row " << r;
    EXPECT_EQ(charAt(3, 0), 'b');
    EXPECT_EQ(charAt(4, 0), 'c');
    EXPECT_EQ(charAt(0, 2), 'd');
}

TEST_F(ScreenDecodeTest, RunsPastTheRightEdgeAreClippedAndDecodingGoesOn)
{
    // Skip to column 75, copy 10 bytes (5 visible), then a fill on row 1.
    Bytes d{0x80 | 63, 0x80 | 12, 10};
    for (int k = 0; k < 10; ++k)
        d.push_back(static_cast<unsigned char>('0' + k));
    d.insert(d.end(), {0xC1, 0x42, 'q'});
    paintChars(d);
    EXPECT_EQ(charAt(75, 0), '0');
    EXPECT_EQ(charAt(79, 0), '4');
    EXPECT_EQ(charAt(0, 1), 'q');
    EXPECT_EQ(charAt(1, 1), 'q');
    EXPECT_EQ(changedCells(), 7);

    // A column far past the edge draws nothing until the next row.
    SetUp();
    Bytes far(40, 0xBF);
    far.insert(far.end(), {0x45, 'x', 0xC0});
    far.insert(far.end(), 80, 'y');
    far.insert(far.end(), {0xC1, 0x41, 'w'});
    paintChars(far);
    EXPECT_EQ(charAt(0, 1), 'w');
    EXPECT_EQ(changedCells(), 1);
}

TEST_F(ScreenDecodeTest, RowsBelowTheScreenEndTheDrawing)
{
    paintChars({0xD8, 0x41, 'e', 0xC1, 0x41, 'f', 0xC0});
    EXPECT_EQ(charAt(0, 24), 'e');
    EXPECT_EQ(changedCells(), 1);
    SetUp();
    paintAttrs({0xFF, 0x41, 0x70, 0xFF, 0xFF, 0x41, 0x70});
    EXPECT_EQ(changedCells(), 0);
}

TEST_F(ScreenDecodeTest, RunsLongerThanTheDataAreDropped)
{
    paintChars({0x41, 'a', 10, 'b', 'c', 'd'});   // copy of 10 with 3 bytes left
    EXPECT_EQ(charAt(0, 0), 'a');
    EXPECT_EQ(changedCells(), 1);
    SetUp();
    paintChars({0x45});                           // fill without its byte
    EXPECT_EQ(changedCells(), 0);
    Bytes shortRow{0xC0};
    shortRow.insert(shortRow.end(), 79, 'r');    // full row one byte short
    paintChars(shortRow);
    EXPECT_EQ(changedCells(), 0);
    // The declared length is what counts, not the bytes behind it.
    const Bytes d{0x42, 'k', 0x42, 'm'};
    paintCharData(model, d.data(), 3);
    EXPECT_EQ(charAt(0, 0), 'k');
    EXPECT_EQ(charAt(2, 0), 'z');
    paintCharData(model, d.data(), -5);
    paintCharData(model, nullptr, 100);
    EXPECT_EQ(changedCells(), 2);
}

TEST_F(ScreenDecodeTest, UpdateLengthsThatDoNotFitAreCut)
{
    // Lc claims more than the payload holds: the characters present are
    // painted, no attribute data is looked for.
    Bytes u;
    putLe32(u, 0);
    putLe32(u, 1000);
    u.insert(u.end(), {0x42, 'h'});
    EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size())), -1);
    EXPECT_EQ(charAt(1, 0), 'h');
    EXPECT_EQ(changedCells(), 2);

    SetUp();
    u.clear();
    putLe32(u, 7);
    putLe32(u, 0x80000000u);   // negative Lc
    u.insert(u.end(), {0x42, 'h', 0, 0, 0, 0});
    EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size())), -1);
    EXPECT_EQ(model.cursorX, 7);
    EXPECT_EQ(changedCells(), 0);

    // Negative and oversized La: characters painted, attributes not.
    for (uint32_t la : {0xFFFFFFFCu, 50u}) {
        SetUp();
        u = update(0, {0x41, 'c'}, {});
        u.resize(u.size() - 4);
        putLe32(u, la);
        u.insert(u.end(), {0x41, 0x4E});
        EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size())), -1);
        EXPECT_EQ(charAt(0, 0), 'c');
        EXPECT_EQ(attrAt(0, 0), la == 50u ? 0x4E : 0x17);
    }

    // A payload ending before La.
    SetUp();
    u = update(0, {0x41, 'c'}, {});
    EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size()) - 2), -1);
    EXPECT_EQ(charAt(0, 0), 'c');
    EXPECT_EQ(paintScreenUpdate(model, u.data(), 3), -1);
    EXPECT_EQ(paintScreenUpdate(model, nullptr, 20), -1);
}

TEST_F(ScreenDecodeTest, WholeUpdatePaintsCharactersThenAttributes)
{
    const Bytes u = update(5 | (1u << 16), {0xC1, 3, 'a', 'b', 'c'}, {0xC1, 0x43, 0x4E});
    EXPECT_EQ(paintScreenUpdate(model, u.data(), static_cast<int32_t>(u.size())), 0);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(model.cells[1][x], static_cast<uint16_t>(("abc"[x]) | (0x4E << 8)));
    EXPECT_EQ(changedCells(), 3);
}

// --- compressed updates ---

int32_t unpack(const Bytes& src, Bytes& dest, int32_t destLen = unpackBufferSize)
{
    dest.assign(static_cast<size_t>(destLen) + 16, 0xEE);
    const int32_t n = unpackScreenData(src.data(), dest.data(), static_cast<int32_t>(src.size()), destLen);
    for (size_t k = static_cast<size_t>(destLen); k < dest.size(); ++k)
        EXPECT_EQ(dest[k], 0xEE) << "written past the end at " << k;
    return n;
}

TEST(ScreenUnpackTest, LiteralsEscapesAndOverlappingRepeats)
{
    const unsigned char m = 0x99;
    Bytes out;
    ASSERT_EQ(unpack({m, 0x41, m, 0x00, m, 0x03, 0x02}, out), 5);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0x41, m, 0x41, m, 0x41}));

    // Count 0x81 0x00 = 128 with distance 1: one byte repeated.
    ASSERT_EQ(unpack({m, 'a', m, 0x81, 0x00, 0x01}, out), 129);
    for (int k = 0; k < 129; ++k)
        ASSERT_EQ(out[static_cast<size_t>(k)], 'a');

    // Distance of a whole pattern.
    ASSERT_EQ(unpack({m, 'x', 'y', 'z', m, 0x06, 0x03}, out), 9);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 9), "xyzxyzxyz");

    EXPECT_EQ(unpack({m}, out), 0);
    EXPECT_EQ(unpackScreenData(nullptr, out.data(), 0, 10), 0);
}

TEST(ScreenUnpackTest, BackReferencesOutsideTheWrittenPartAreRejected)
{
    const unsigned char m = 0xF0;
    Bytes out;
    EXPECT_EQ(unpack({m, 'a', m, 0x02, 0x00}, out), -1);        // distance 0
    EXPECT_EQ(unpack({m, 'a', m, 0x02, 0x02}, out), -1);        // before the start
    EXPECT_EQ(unpack({m, m, 0x02, 0x01}, out), -1);             // nothing written yet
}

TEST(ScreenUnpackTest, TruncatedAndOverflowingNumbersAreRejected)
{
    const unsigned char m = 0xF0;
    Bytes out;
    EXPECT_EQ(unpack({m, 'a', m}, out), -1);                    // marker at the end
    EXPECT_EQ(unpack({m, 'a', m, 0x83}, out), -1);              // count cut off
    EXPECT_EQ(unpack({m, 'a', m, 0x03}, out), -1);              // distance missing
    EXPECT_EQ(unpack({m, 'a', m, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x01}, out), -1);
    EXPECT_EQ(unpack({m, 'a', m, 0x01, 0x90, 0x80, 0x80, 0x80, 0x80, 0x01}, out), -1);
    // Leading zero groups are harmless.
    EXPECT_EQ(unpack({m, 'a', m, 0x80, 0x80, 0x02, 0x01}, out), 3);
}

TEST(ScreenUnpackTest, ExpansionPastTheBufferIsRejectedWithoutWritingBeyond)
{
    const unsigned char m = 0xF0;
    Bytes out;
    EXPECT_EQ(unpack({m, 'a', m, 0x88, 0x00, 0x01}, out, 100), -1);   // 1 + 1024 > 100
    EXPECT_EQ(unpack({m, 'a', m, 0x63, 0x01}, out, 100), 100);         // exactly full
    Bytes literals{m};
    literals.insert(literals.end(), 101, 'l');
    EXPECT_EQ(unpack(literals, out, 100), -1);
    EXPECT_EQ(unpack({m, m, 0x00, m, 0x00}, out, 1), -1);
    EXPECT_EQ(unpack({m, 'a', m, 0x1F, 0x01}, out, unpackBufferSize), 32);
}

}   // namespace
