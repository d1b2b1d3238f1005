#pragma once
#include <cstddef>

// In-place trimming, key=value lines, folded comparisons and number parsing
// over NUL-terminated byte strings. A blank is any byte 1 to 32; folding maps
// A-Z to a-z only.
//
// Comparison rules: the Linux build compares configuration keys exactly
// (sutilMemicmp) and uses the prefix-equal sutilStricmp. The Windows build,
// and any build with QUOR_WINDOWS_RULES defined, uses the letter-folding,
// terminator-comparing forms. The names keep clear of the C runtime's
// stricmp and memicmp, which Windows headers declare.

char* strip(char* str);
char* stripD(char* str);
char* getVariable(const char* str, char* var, char marker, int maxLen);
char* getValue(const char* str, char* value, char marker, int maxLen);
char* newVariable(const char* str, char marker);
int isVariable(const char* var, const char* str, char marker);
int sutilMemicmp(const void* s1, const void* s2, int len);
int sutilStricmp(const char* first, const char* second);
// Both rule sets are always built; sutilMemicmp and sutilStricmp forward to one of them.
int memicmpExact(const void* s1, const void* s2, int len);
int memicmpFolded(const void* s1, const void* s2, int len);
int stricmpPrefix(const char* first, const char* second);
int stricmpWhole(const char* first, const char* second);
int strcmpin(const char* first, const char* second, int n);
// Whether the whole text matches the pattern, letters folded: '*' any run
// of bytes (none too), '?' any one byte.
bool globMatch(const char* pattern, const char* text);
int stoi(char* str);
int stoih(char* str);
// Exactly len bytes of str plus a terminator on the heap (free()), or null.
// Overloads the C library's strndup for an int length.
char* strndup(const char* str, int len);
// Zeroes n bytes in a way the compiler may not drop (for secrets): the one
// wipe of the program, for every key, password and digest.
void wipeMemory(void* p, size_t n);

// A cursor over values separated by a marker (0: a space or a tab).
class MultiValue {
public:
    char* value;
    char* offs;
    int len;
    char marker;

    MultiValue(char* val, char mark);
    void reset();
    int available() const;
    char* getNextValue(char* val, int maxLen);
    char* getRest(char* val, int maxLen) const;
};
