#pragma once
#include <string>
#include <string_view>

#include "wall/wallscreen.h"

// Row r of cells reads text (code page 437 bytes) in attribute attr, blanks after.
inline void putRow(uint16_t (&cells)[screenRows][screenCols], int r, std::string_view text, uint16_t attr = 0x07) {
    for (int c = 0; c < screenCols; ++c)
        cells[r][c] = static_cast<uint16_t>(attr << 8 | (c < static_cast<int>(text.size()) ? static_cast<unsigned char>(text[c]) : ' '));
}

inline size_t countOf(std::string_view text, std::string_view what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string_view::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}
