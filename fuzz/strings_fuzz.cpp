// Feeds arbitrary bytes through the string, value and comparison utilities.
// Every text lives in a heap buffer of exactly its length plus the terminator,
// and every output buffer is exactly maxLen + 1 bytes, so any overread or
// overwrite shows up under AddressSanitizer.
#include "net/sutil.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Heap copy of the bytes up to the first NUL (or n), in a buffer that fits exactly.
char* exactCopy(const uint8_t* data, size_t n) {
    size_t len = 0;
    while (len < n && data[len])
        ++len;
    char* s = static_cast<char*>(std::malloc(len + 1));
    if (!s)
        std::abort();
    std::memcpy(s, data, len);
    s[len] = 0;
    return s;
}

char* exactDup(const char* s) { return exactCopy(reinterpret_cast<const uint8_t*>(s), std::strlen(s)); }

void check(bool ok) {
    if (!ok)
        std::abort();
}

bool blank(char c) { return static_cast<unsigned char>(c) >= 1 && static_cast<unsigned char>(c) <= 32; }

void checkTrimmed(const char* s) {
    const size_t n = std::strlen(s);
    check(n == 0 || (!blank(s[0]) && !blank(s[n - 1])));
}

void trimming(const char* a) {
    char* s = exactDup(a);
    check(strip(s) == s);
    checkTrimmed(s);
    std::free(s);
    s = exactDup(a);
    stripD(s);
    std::free(s);
}

void keyValue(const char* a, const char* b, char marker, int maxLen) {
    const size_t room = static_cast<size_t>(maxLen < 0 ? 0 : maxLen);
    char* out = static_cast<char*>(std::malloc(room + 1));
    if (!out)
        std::abort();
    getValue(a, out, marker, maxLen);
    check(std::strlen(out) <= room);
    checkTrimmed(out);
    getVariable(a, out, marker, maxLen);
    check(std::strlen(out) <= room);
    checkTrimmed(out);
    if (char* v = newVariable(a, marker)) {
        check(std::strchr(a, marker) != nullptr);
        std::free(v);
    }
    isVariable(a, b, marker);
    isVariable(b, a, marker);
    std::free(out);
}

void comparisons(const char* a, const char* b, int n) {
    const size_t la = std::strlen(a);
    const size_t lb = std::strlen(b);
    // Up to and including the shorter text's terminator: all of it is inside both buffers.
    const int common = static_cast<int>((la < lb ? la : lb) + 1);
    check(sutilMemicmp(a, b, common) == -sutilMemicmp(b, a, common));
    check(memicmpExact(a, b, common) == -memicmpExact(b, a, common));
    check(memicmpFolded(a, b, common) == -memicmpFolded(b, a, common));
    check(stricmpWhole(a, b) == -stricmpWhole(b, a));
    sutilStricmp(a, b);
    stricmpPrefix(a, b);
    check(strcmpin(a, b, n) == -strcmpin(b, a, n));
    check(strcmpin(a, a, n) == 0);
}

void numbers(const char* a) {
    char* s = exactDup(a);
    stoi(s);
    std::free(s);
    s = exactDup(a);
    stoih(s);
    std::free(s);
    s = strndup(a, static_cast<int>(std::strlen(a)));
    check(s && std::strcmp(s, a) == 0);
    std::free(s);
}

void walk(const char* a, char marker, int maxLen) {
    const size_t room = static_cast<size_t>(maxLen < 0 ? 0 : maxLen);
    char* out = static_cast<char*>(std::malloc(room + 1));
    char* text = exactDup(a);
    if (!out)
        std::abort();
    MultiValue mv(text, marker);
    // Every value but the last consumes its separator, so the walk ends within len + 1 steps.
    size_t steps = 0;
    while (mv.available()) {
        check(++steps <= std::strlen(text) + 1);
        mv.getRest(out, maxLen);
        check(std::strlen(out) <= room);
        mv.getNextValue(out, maxLen);
        check(std::strlen(out) <= room);
    }
    mv.getNextValue(out, maxLen);
    check(out[0] == 0 && mv.offs == text + std::strlen(text));
    mv.getRest(out, maxLen);
    std::free(text);
    std::free(out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const int maxLen = static_cast<int>(data[0] % 40) - 4;
    const char marker = static_cast<char>(data[1]);
    const uint8_t* rest = data + 3;
    const size_t restLen = size - 3;
    const size_t split = restLen ? data[2] % (restLen + 1) : 0;
    char* a = exactCopy(rest, split);
    char* b = exactCopy(rest + split, restLen - split);

    trimming(a);
    keyValue(a, b, marker, maxLen);
    comparisons(a, b, maxLen);
    numbers(a);
    walk(a, marker, maxLen);
    walk(b, 0, maxLen);

    std::free(a);
    std::free(b);
    return 0;
}
