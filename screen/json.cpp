#include "screen/json.h"

#include <cstdio>

#include "console/cp437.h"

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    std::string_view rest = text;
    while (!rest.empty()) {
        char32_t c = 0;
        const size_t n = utf8Next(rest, c);
        if (n == 0) {
            out += "\\ufffd";   // no UTF-8: the replacement character
            rest.remove_prefix(1);
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
            out.append(rest.data(), n);
        }
        rest.remove_prefix(n);
    }
    return out + "\"";
}

std::string jsonGlyphs(std::string_view bytes) { return jsonString(cp437Text(bytes)); }
