#pragma once
// Lower-case hex text of bytes, for comparing digests and key streams with
// published vectors.

#include <cstddef>
#include <cstdio>
#include <string>

// n bytes as hex; by default a 16-byte digest.
inline std::string hex(const unsigned char* d, size_t n = 16)
{
    std::string s;
    char b[3];
    for (size_t k = 0; k < n; ++k) {
        std::snprintf(b, sizeof b, "%02x", d[k]);
        s += b;
    }
    return s;
}
