#include "wall/walltext.h"

#include <cstdio>
#include <cstring>

#include "console/cp437.h"

const char* const wallPalette[16] = {"#000000", "#0000aa", "#00aa00", "#00aaaa", "#aa0000", "#aa00aa",
                                     "#aa5500", "#aaaaaa", "#555555", "#5555ff", "#55ff55", "#55ffff",
                                     "#ff5555", "#ff55ff", "#ffff55", "#ffffff"};

void wallJson(std::string& out, std::string_view utf8) {
    out += '"';
    while (!utf8.empty()) {
        char32_t c = 0;
        const size_t n = utf8Next(utf8, c);
        if (n == 0) {
            out += "\\ufffd";
            utf8.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
            out += code;
        } else {
            out.append(utf8.data(), n);
        }
        utf8.remove_prefix(n);
    }
    out += '"';
}

void wallJsonCp437(std::string& out, std::string_view bytes, size_t max) {
    out += '"';
    for (const char ch : bytes.substr(0, max)) {
        if (ch == '"' || ch == '\\') out += '\\';
        appendCp437(out, static_cast<unsigned char>(ch));
    }
    out += '"';
}

std::string wallRowText(const uint16_t* cells) {
    std::string out;
    size_t kept = 0;
    for (int c = 0; c < screenCols; ++c) {
        const auto ch = static_cast<unsigned char>(cells[c] & 0xFF);
        appendCp437(out, ch);
        if (ch != ' ' && ch != 0) kept = out.size();
    }
    out.resize(kept);
    return out;
}

std::string wallSafeName(std::string_view description) {
    constexpr size_t nameMax = 80;
    std::string out;
    for (const char ch : description) {
        const auto c = static_cast<unsigned char>(ch);
        std::string piece;
        if (c >= 0x80) appendCp437(piece, c);
        else if (c < 32 || c == 127 || std::strchr("/\\:*?\"<>|", ch) || (out.empty() && c == '.')) piece = "_";
        else piece = ch;
        if (out.size() + piece.size() > nameMax) break;
        out += piece;
    }
    while (!out.empty() && (out.back() == '.' || out.back() == ' ')) out.back() = '_';
    return out.empty() ? "_" : out;
}
