#include "net/sutil.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool isBlank(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isBlankOrDigit(char c) { return isBlank(c) || isDigit(c); }

unsigned char fold(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

// A negative maximum is taken as 0 so that no caller can ask for a negative copy.
size_t clampMax(int maxLen) { return maxLen < 0 ? 0 : static_cast<size_t>(maxLen); }

// Length of s, looking at no more than max bytes.
size_t boundedLen(const char* s, size_t max) {
    size_t n = 0;
    while (n < max && s[n])
        ++n;
    return n;
}

// Copies min(srcLen, maxLen) bytes to dst and terminates; the regions may overlap.
char* copyCut(char* dst, const char* src, size_t srcLen, int maxLen) {
    const size_t n = std::min(srcLen, clampMax(maxLen));
    std::memmove(dst, src, n);
    dst[n] = 0;
    return dst;
}

// Exactly n bytes of src plus a terminator on the heap, or null.
char* copyBytes(const char* src, size_t n) {
    char* r = static_cast<char*>(std::malloc(n + 1));
    if (!r)
        return nullptr;
    std::memcpy(r, src, n);
    r[n] = 0;
    return r;
}

// Trims in place every leading and trailing byte for which skip holds.
template <typename Skip>
char* trim(char* str, Skip skip) {
    if (!str)
        return str;
    const char* p = str;
    while (*p && skip(*p))
        ++p;
    size_t n = std::strlen(p);
    if (p != str)
        std::memmove(str, p, n + 1);
    while (n > 0 && skip(str[n - 1]))
        --n;
    str[n] = 0;
    return str;
}

// Position of the first marker in str; a NUL marker never occurs inside a string.
const char* findMarker(const char* str, char marker) {
    return marker ? std::strchr(str, marker) : nullptr;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isScanSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads like "%d": optional sign, digits. Out-of-range values saturate at INT_MIN/INT_MAX.
int readDecimal(const char* s) {
    while (isScanSpace(*s))
        ++s;
    bool neg = false;
    if (*s == '+' || *s == '-')
        neg = *s++ == '-';
    const long long cap = static_cast<long long>(INT_MAX) + 1;
    long long v = 0;
    for (; isDigit(*s); ++s)
        v = std::min(cap, v * 10 + (*s - '0'));
    if (neg)
        return static_cast<int>(-v);
    return static_cast<int>(std::min<long long>(v, INT_MAX));
}

// Reads like "%x" into 32 bits: optional sign and 0x, hex digits. Values wider than
// 32 bits saturate at 0xFFFFFFFF; the 32-bit pattern is returned, so FFFFFFFF is -1.
int readHex(const char* s) {
    while (isScanSpace(*s))
        ++s;
    bool neg = false;
    if (*s == '+' || *s == '-')
        neg = *s++ == '-';
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X') && hexValue(s[2]) >= 0)
        s += 2;
    uint64_t v = 0;
    for (int d; (d = hexValue(*s)) >= 0; ++s)
        v = std::min<uint64_t>(UINT32_MAX, v * 16 + static_cast<uint64_t>(d));
    uint32_t u = static_cast<uint32_t>(v);
    if (neg)
        u = 0u - u;
    return static_cast<int>(u);
}

// Removes a leading '$' or 0x/0X in place when more follows it; true when one was removed.
bool dropHexPrefix(char* str) {
    const size_t n = std::strlen(str);
    size_t skip = 0;
    if (str[0] == '$' && n > 1)
        skip = 1;
    else if (str[0] == '0' && (str[1] == 'x' || str[1] == 'X') && n > 2)
        skip = 2;
    if (!skip)
        return false;
    std::memmove(str, str + skip, n - skip + 1);
    return true;
}

template <bool Fold>
int compareBytes(const void* s1, const void* s2, int len) {
    if (len < 1 || s1 == s2)
        return 0;
    if (!s1 || !s2)
        return s1 ? 1 : -1;
    const char* a = static_cast<const char*>(s1);
    const char* b = static_cast<const char*>(s2);
    for (int i = 0; i < len; ++i) {
        signed char x = static_cast<signed char>(Fold ? static_cast<char>(fold(a[i])) : a[i]);
        signed char y = static_cast<signed char>(Fold ? static_cast<char>(fold(b[i])) : b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace

char* strip(char* str) { return trim(str, isBlank); }

char* stripD(char* str) { return trim(str, isBlankOrDigit); }

char* getVariable(const char* str, char* var, char marker, int maxLen) {
    if (!var)
        return var;
    var[0] = 0;
    if (!str)
        return var;
    char* copy = copyBytes(str, std::strlen(str));
    if (!copy)
        return var;
    strip(copy);
    const char* m = findMarker(copy, marker);
    const size_t p = m ? static_cast<size_t>(m - copy) : std::strlen(copy);
    copyCut(var, copy, p, maxLen);
    std::free(copy);
    return strip(var);
}

char* getValue(const char* str, char* value, char marker, int maxLen) {
    if (!str || !value)
        return value;
    const char* m = findMarker(str, marker);
    if (!m) {
        value[0] = 0;
        return value;
    }
    // Cut first, then trim: the limit applies to the raw text after the marker.
    const char* after = m + 1;
    copyCut(value, after, boundedLen(after, clampMax(maxLen)), maxLen);
    return strip(value);
}

char* newVariable(const char* str, char marker) {
    if (!str)
        return nullptr;
    const char* m = findMarker(str, marker);
    if (!m)
        return nullptr;
    return strip(copyBytes(str, static_cast<size_t>(m - str)));
}

// Whether a line begins, after blanks, with the name. The name is matched as a prefix
// alone; what follows it (blanks, the marker or anything else) is not looked at.
int isVariable(const char* var, const char* str, char /*marker*/) {
    if (!var || !str)
        return 0;
    while (isBlank(*str))
        ++str;
    const size_t n = std::strlen(var);
    // A line shorter than the name cannot match; checking first keeps the compare inside it.
    if (n > static_cast<size_t>(INT_MAX) || boundedLen(str, n) < n)
        return 0;
    return sutilMemicmp(var, str, static_cast<int>(n)) == 0 ? 1 : 0;
}

int memicmpExact(const void* s1, const void* s2, int len) { return compareBytes<false>(s1, s2, len); }

int memicmpFolded(const void* s1, const void* s2, int len) { return compareBytes<true>(s1, s2, len); }

// Prefix-equal comparison: stops at the end of the shorter text; -1 when either is empty.
int stricmpPrefix(const char* first, const char* second) {
    if (!first)
        first = "";
    if (!second)
        second = "";
    int result = -1;
    for (; *first && *second; ++first, ++second) {
        result = static_cast<signed char>(fold(*first)) - static_cast<signed char>(fold(*second));
        if (result)
            break;
    }
    return result;
}

// Whole-text comparison that also compares the terminators; -1, 0 or 1.
int stricmpWhole(const char* first, const char* second) {
    if (!first)
        first = "";
    if (!second)
        second = "";
    for (;; ++first, ++second) {
        const unsigned char a = fold(*first);
        const unsigned char b = fold(*second);
        if (a != b)
            return a < b ? -1 : 1;
        if (!a)
            return 0;
    }
}

int sutilMemicmp(const void* s1, const void* s2, int len) {
#if defined(_WIN32) || defined(QUOR_WINDOWS_RULES)
    return memicmpFolded(s1, s2, len);
#else
    return memicmpExact(s1, s2, len);
#endif
}

int sutilStricmp(const char* first, const char* second) {
#if defined(_WIN32) || defined(QUOR_WINDOWS_RULES)
    return stricmpWhole(first, second);
#else
    return stricmpPrefix(first, second);
#endif
}

// Second minus first, unlike sutilStricmp: the list menu's prefix search depends on it.
int strcmpin(const char* first, const char* second, int n) {
    if (n < 1 || !first || !second)
        return 0;
    for (int i = 0; i < n; ++i) {
        const unsigned char a = fold(first[i]);
        const unsigned char b = fold(second[i]);
        // Also covers one text ending first (its terminator is 0) and both ending together.
        if (a != b || !a)
            return b - a;
    }
    return 0;
}

int stoi(char* str) {
    if (!str)
        return 0;
    strip(str);
    return dropHexPrefix(str) ? readHex(str) : readDecimal(str);
}

int stoih(char* str) {
    if (!str)
        return 0;
    strip(str);
    dropHexPrefix(str);
    return readHex(str);
}

char* strndup(const char* str, int len) {
    if (len < 0 || !str)
        return nullptr;
    return copyBytes(str, static_cast<size_t>(len));
}

MultiValue::MultiValue(char* val, char mark) : value(val), offs(nullptr), len(0), marker(mark) { reset(); }

void MultiValue::reset() {
    offs = value;
    len = value ? static_cast<int>(std::min<size_t>(std::strlen(value), INT_MAX)) : 0;
}

int MultiValue::available() const { return offs && offs < value + len ? 1 : 0; }

char* MultiValue::getNextValue(char* val, int maxLen) {
    if (!val)
        return val;
    val[0] = 0;
    if (!offs)
        return val;
    while (isBlank(*offs))
        ++offs;
    const char separators[3] = {marker ? marker : ' ', marker ? '\0' : '\t', '\0'};
    const size_t vlen = std::strcspn(offs, separators);
    const bool found = offs[vlen] != 0;
    copyCut(val, offs, vlen, maxLen);
    offs += vlen + (found ? 1 : 0);
    return val;
}

char* MultiValue::getRest(char* val, int maxLen) const {
    if (!val || !offs)
        return val;
    return copyCut(val, offs, boundedLen(offs, clampMax(maxLen)), maxLen);
}

void wipeMemory(void* p, size_t n)
{
    if (!p || n == 0) return;
    std::memset(p, 0, n);
    // The compiler must assume that the empty statement reads the zeroed
    // bytes, so the stores above cannot be dropped as dead, even when the
    // memory is freed or goes out of scope right after the call, and even
    // when this function is inlined into its caller.
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

bool globMatch(const char* pattern, const char* text) {
    const char* star = nullptr;
    const char* resume = nullptr;
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    while (*text) {
        if (*pattern == '*') {
            star = pattern++;
            resume = text;
        } else if (*pattern && (*pattern == '?' || lower(*pattern) == lower(*text))) {
            ++pattern;
            ++text;
        } else if (star) {
            pattern = star + 1;
            text = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}
