// Screen names and descriptions of every byte from 0x00 to 0xFF, through
// each writer of files and output: what comes out must be UTF-8 without
// control characters but line ends, as the C library's decoder reads it.

#include <gtest/gtest.h>
#include <locale.h>

#include <cwchar>
#include <cwctype>
#include <string>

#include "record/asciicast.h"
#include "screen/formats.h"
#include "screen/savefile.h"
#include "share/webshare.h"

namespace {

bool cleanUtf8(const std::string& text) {
    const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    const locale_t before = uselocale(utf8);
    std::mbstate_t state{};
    bool clean = true;
    for (size_t at = 0, n = 0; clean && at < text.size(); at += n) {
        wchar_t c = 0;
        n = std::mbrtowc(&c, text.data() + at, text.size() - at, &state);
        clean = n >= 1 && n <= 4 && (c == L'\n' || !std::iswcntrl(static_cast<wint_t>(c)));
    }
    uselocale(before);
    freelocale(utf8);
    return clean;
}

TEST(ServerNames, EveryByteComesOutAsUtf8WithoutControls) {
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    const std::string names[] = {"\x1b]0;PWN\x07\xe9\xff", bytes.substr(0, 128), bytes.substr(128)};
    for (const std::string& name : names) {
        remoteScreen screen;
        screen.server = screen.screenName = name;
        EXPECT_TRUE(cleanUtf8(screenHtml(screen))) << name;
        EXPECT_TRUE(cleanUtf8(castRecorder::headerLine(name, 0))) << name;
        EXPECT_TRUE(cleanUtf8(castRecorder::marker(screen))) << name;
        EXPECT_TRUE(cleanUtf8(screenJson(screen))) << name;
        EXPECT_TRUE(cleanUtf8(shareHub::message(shareStatus::live, &name, screen.cells, 1))) << name;
        EXPECT_TRUE(cleanUtf8(safeFileName(name))) << name;
    }
}

}  // namespace
