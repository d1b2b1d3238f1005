#include "sim/encoder.h"

#include <array>
#include <cstring>

namespace {

constexpr unsigned char fullRowItem = 0xC0;
constexpr int maxRun = 63;
constexpr int fullRowCost = 1 + simCols;
constexpr int unreachable = 1 << 30;

enum class Step : unsigned char { End, Full, Skip, Fill, Copy };

struct Choice {
    Step step = Step::End;
    int count = 0;
};

void putLe32(std::vector<unsigned char>& out, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out.push_back(static_cast<unsigned char>(v >> (8 * b)));
}

void patchLe32(std::vector<unsigned char>& out, size_t at, uint32_t v)
{
    for (int b = 0; b < 4; ++b)
        out[at + static_cast<size_t>(b)] = static_cast<unsigned char>(v >> (8 * b));
}

// Encodes one row with the fewest bytes: for every column, the cheapest way to
// make the rest of the row right, taking copy, fill, skip and full-row items.
void encodeRow(const unsigned char* after, const bool* changed, std::vector<unsigned char>& out)
{
    std::array<int, simCols + 1> unchangedRun{};
    std::array<int, simCols + 1> sameRun{};
    std::array<bool, simCols + 1> cleanToEnd{};
    cleanToEnd[simCols] = true;
    for (int i = simCols - 1; i >= 0; --i) {
        unchangedRun[i] = changed[i] ? 0 : unchangedRun[i + 1] + 1;
        sameRun[i] = (i + 1 < simCols && after[i + 1] == after[i]) ? sameRun[i + 1] + 1 : 1;
        cleanToEnd[i] = !changed[i] && cleanToEnd[i + 1];
    }

    std::array<int, simCols + 1> best{};
    std::array<Choice, simCols + 1> choice{};
    best[simCols] = 0;
    for (int i = simCols - 1; i >= 0; --i) {
        auto consider = [&](int cost, Step step, int n) {
            if (cost < best[i]) {
                best[i] = cost;
                choice[i] = {step, n};
            }
        };
        best[i] = unreachable;
        if (cleanToEnd[i])
            consider(0, Step::End, 0);
        consider(fullRowCost, Step::Full, 0);
        for (int k = 1; k <= maxRun && k <= unchangedRun[i]; ++k)
            consider(1 + best[i + k], Step::Skip, k);
        for (int k = 1; k <= maxRun && k <= sameRun[i]; ++k)
            consider(2 + best[i + k], Step::Fill, k);
        for (int k = 1; k <= maxRun && i + k <= simCols; ++k)
            consider(1 + k + best[i + k], Step::Copy, k);
    }

    int i = 0;
    while (i < simCols) {
        const Choice c = choice[i];
        switch (c.step) {
        case Step::End:
            return;
        case Step::Full:
            // The item fills the row from the current column; the bytes that
            // would land past column 79 are dropped by the drawing.
            out.push_back(fullRowItem);
            out.insert(out.end(), after + i, after + simCols);
            out.insert(out.end(), static_cast<size_t>(i), 0);
            return;
        case Step::Skip:
            out.push_back(static_cast<unsigned char>(0x80 | c.count));
            break;
        case Step::Fill:
            out.push_back(static_cast<unsigned char>(0x40 | c.count));
            out.push_back(after[i]);
            break;
        case Step::Copy:
            out.push_back(static_cast<unsigned char>(c.count));
            out.insert(out.end(), after + i, after + i + c.count);
            break;
        }
        i += c.count;
    }
}

void putGroupNumber(std::vector<unsigned char>& out, uint32_t v)
{
    unsigned char groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<unsigned char>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 1)
        out.push_back(static_cast<unsigned char>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

int groupNumberSize(uint32_t v)
{
    int n = 1;
    while (v >= 0x80) {
        v >>= 7;
        ++n;
    }
    return n;
}

}   // namespace

void encodePlane(const unsigned char (*before)[simCols], const unsigned char (*after)[simCols],
                 std::vector<unsigned char>& out)
{
    int row = 0;
    for (int r = 0; r < simRows; ++r) {
        bool changed[simCols];
        bool any = false;
        for (int c = 0; c < simCols; ++c) {
            changed[c] = before == nullptr || before[r][c] != after[r][c];
            any = any || changed[c];
        }
        if (!any)
            continue;
        if (r > row) {
            out.push_back(static_cast<unsigned char>(0xC0 | (r - row)));
            row = r;
        }
        encodeRow(after[r], changed, out);
    }
}

std::vector<unsigned char> encodeScreenUpdate(const ScreenImage* before, const ScreenImage& after)
{
    std::vector<unsigned char> out;
    out.reserve(256);
    putLe32(out, static_cast<uint16_t>(after.cursorX) | (static_cast<uint32_t>(static_cast<uint16_t>(after.cursorY)) << 16));

    const size_t charAt = out.size();
    putLe32(out, 0);
    encodePlane(before ? before->chars : nullptr, after.chars, out);
    patchLe32(out, charAt, static_cast<uint32_t>(out.size() - charAt - 4));

    const size_t attrAt = out.size();
    putLe32(out, 0);
    encodePlane(before ? before->attrs : nullptr, after.attrs, out);
    patchLe32(out, attrAt, static_cast<uint32_t>(out.size() - attrAt - 4));
    return out;
}

// Greedy LZ77 with hash chains; a repeat is taken only when it is shorter
// than the literals it replaces.
std::vector<unsigned char> compressScreenData(const unsigned char* data, size_t length)
{
    std::vector<unsigned char> out;
    if (length == 0 || data == nullptr)
        return out;

    // The rarest byte value as the marker keeps the escapes few.
    std::array<size_t, 256> seen{};
    for (size_t k = 0; k < length; ++k)
        ++seen[data[k]];
    unsigned char marker = 0;
    for (int v = 1; v < 256; ++v)
        if (seen[static_cast<size_t>(v)] < seen[marker])
            marker = static_cast<unsigned char>(v);
    out.reserve(length / 2 + 16);
    out.push_back(marker);

    constexpr int hashBits = 12;
    constexpr int chainLimit = 64;
    std::vector<int32_t> head(size_t{1} << hashBits, -1);
    std::vector<int32_t> prev(length, -1);
    auto hashAt = [&](size_t p) {
        const uint32_t v = (static_cast<uint32_t>(data[p]) << 16) | (static_cast<uint32_t>(data[p + 1]) << 8) | data[p + 2];
        return static_cast<size_t>((v * 2654435761u) >> (32 - hashBits));
    };
    auto insert = [&](size_t p) {
        if (p + 3 > length)
            return;
        const size_t h = hashAt(p);
        prev[p] = head[h];
        head[h] = static_cast<int32_t>(p);
    };
    auto literalCost = [&](size_t from, size_t n) {
        size_t cost = 0;
        for (size_t k = 0; k < n; ++k)
            cost += data[from + k] == marker ? 2 : 1;
        return cost;
    };

    size_t pos = 0;
    while (pos < length) {
        size_t bestLength = 0;
        size_t bestDistance = 0;
        if (pos + 3 <= length) {
            int32_t candidate = head[hashAt(pos)];
            for (int steps = 0; candidate >= 0 && steps < chainLimit; ++steps, candidate = prev[static_cast<size_t>(candidate)]) {
                const auto from = static_cast<size_t>(candidate);
                size_t n = 0;
                // Overlapping repeats are fine: expansion copies byte by byte.
                while (pos + n < length && data[from + n] == data[pos + n])
                    ++n;
                if (n > bestLength) {
                    bestLength = n;
                    bestDistance = pos - from;
                }
            }
        }
        if (bestLength >= 3) {
            const auto cost = static_cast<size_t>(1 + groupNumberSize(static_cast<uint32_t>(bestLength)) +
                                                  groupNumberSize(static_cast<uint32_t>(bestDistance)));
            if (cost < literalCost(pos, bestLength)) {
                out.push_back(marker);
                putGroupNumber(out, static_cast<uint32_t>(bestLength));
                putGroupNumber(out, static_cast<uint32_t>(bestDistance));
                for (size_t k = 0; k < bestLength; ++k)
                    insert(pos + k);
                pos += bestLength;
                continue;
            }
        }
        out.push_back(data[pos]);
        if (data[pos] == marker)
            out.push_back(0);
        insert(pos);
        ++pos;
    }
    return out;
}
