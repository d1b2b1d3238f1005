#include "screen/formats.h"

#include <cstdio>
#include <ctime>

#include "console/cp437.h"
#include "screen/savefile.h"

const char* const pcPalette[16] = {"#000000", "#0000aa", "#00aa00", "#00aaaa", "#aa0000", "#aa00aa",
                                   "#aa5500", "#aaaaaa", "#555555", "#5555ff", "#55ff55", "#55ffff",
                                   "#ff5555", "#ff55ff", "#ffff55", "#ffffff"};

namespace {

void appendEscaped(std::string& out, const std::string& text) {
    for (const char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (c == '"') out += "&quot;";
        else out += c;
    }
}

}  // namespace

std::string jsonString(const std::string& text) {
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

std::string lineText(const uint16_t* cells) {
    std::string out;
    size_t kept = 0;   // the end of the line without its trailing blanks
    for (int c = 0; c < screenCols; ++c) {
        const auto ch = static_cast<unsigned char>(cells[c] & 0xFF);
        appendCp437(out, ch);
        if (ch != ' ' && ch != 0) kept = out.size();
    }
    out.resize(kept);
    return out;
}

std::string screenText(const remoteScreen& screen) {
    std::string out;
    out.reserve(screenRows * (screenCols + 1));
    for (const auto& row : screen.cells) out += lineText(row) + '\n';
    return out;
}

std::string screenHtml(const remoteScreen& screen) {
    std::string title = cp437Text(screen.server);
    if (!screen.screenName.empty()) title += " - " + cp437Text(screen.screenName);
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>";
    appendEscaped(out, title);
    out += "</title>\n<style>\nbody{background:#1c1c1c;margin:1em}\n"
           "pre{font-family:\"DejaVu Sans Mono\",Consolas,\"Courier New\",monospace;font-size:16px;"
           "line-height:1.2;margin:0;display:inline-block}\n";
    for (int i = 0; i < 16; ++i) out += ".f" + std::to_string(i) + "{color:" + pcPalette[i] + "}\n";
    for (int i = 0; i < 8; ++i) out += ".b" + std::to_string(i) + "{background:" + pcPalette[i] + "}\n";
    out += "</style>\n</head>\n<body>\n<pre>";
    for (int r = 0; r < screenRows; ++r) {
        int c = 0;
        while (c < screenCols) {
            // One span for each run of one attribute; blink is not shown.
            const int attr = (screen.cells[r][c] >> 8) & 0x7F;
            out += "<span class=\"f" + std::to_string(attr & 15) + " b" + std::to_string(attr >> 4) + "\">";
            for (; c < screenCols && ((screen.cells[r][c] >> 8) & 0x7F) == attr; ++c) {
                const auto ch = static_cast<unsigned char>(screen.cells[r][c] & 0xFF);
                std::string glyph;
                appendCp437(glyph, ch);
                appendEscaped(out, glyph);
            }
            out += "</span>";
        }
        if (r + 1 < screenRows) out += '\n';
    }
    out += "</pre>\n</body>\n</html>\n";
    return out;
}

std::string saveScreenshot(const remoteScreen& screen) {
    std::string error;
    const std::string folder = saveFolder(error);
    if (folder.empty()) return "Screen not saved: " + error;
    const std::string base =
        safeFileName(screen.server) + "-" + std::to_string(screen.screenId) + "-" + fileTimeStamp(std::time(nullptr));
    newFiles files;
    if (!files.create(folder, base, {".txt", ".html"}, error)) return "Screen not saved: " + error;
    const std::string text = screenText(screen);
    const std::string page = screenHtml(screen);
    std::fwrite(text.data(), 1, text.size(), files.file(0));
    std::fwrite(page.data(), 1, page.size(), files.file(1));
    const std::string path = files.path();
    if (!files.finish(error)) return "Screen not saved: " + error;
    return "Screen saved: " + path + ".txt, .html";
}
