#pragma once
#include <string>
#include <string_view>

// The text as a JSON string, quotes included: UTF-8 passes as it is,
// control characters are escaped, and bytes that are no UTF-8 character
// become U+FFFD.
std::string jsonString(std::string_view text);

// Bytes a server or the configuration chose (a screen name, a
// description) as a JSON string of their code page 437 glyphs.
std::string jsonGlyphs(std::string_view bytes);
