#include "screen/formats.h"

#include "console/cp437.h"
#include "screen/json.h"

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
           "line-height:19px;margin:0;display:inline-block}\n"
           // Each run fills the whole line box, so that the rows' colours touch.
           "pre span{display:inline-block;height:19px;vertical-align:top}\n";
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

std::string screenJson(const remoteScreen& screen) {
    std::string out = "{\"server\":" + jsonGlyphs(screen.server) + ",\"screen_id\":" +
                      std::to_string(screen.screenId) + ",\"screen_name\":" + jsonGlyphs(screen.screenName) +
                      ",\"cursor\":{\"x\":" +
                      std::to_string(screen.cursorX) + ",\"y\":" + std::to_string(screen.cursorY) + "},\"rows\":[";
    for (int r = 0; r < screenRows; ++r) out += (r ? "," : "") + jsonString(lineText(screen.cells[r]));
    // Colours: per row, runs of cells with one attribute (fg 0-15, bg 0-7, blink).
    out += "],\"colors\":[";
    for (int r = 0; r < screenRows; ++r) {
        out += r ? ",[" : "[";
        for (int c = 0; c < screenCols;) {
            const int attr = screen.cells[r][c] >> 8;
            int n = 1;
            while (c + n < screenCols && (screen.cells[r][c + n] >> 8) == attr) ++n;
            out += (c ? ",{\"col\":" : "{\"col\":") + std::to_string(c) + ",\"len\":" + std::to_string(n) +
                   ",\"fg\":" + std::to_string(attr & 15) + ",\"bg\":" + std::to_string((attr >> 4) & 7) +
                   ",\"blink\":" + ((attr & 0x80) ? "true" : "false") + "}";
            c += n;
        }
        out += "]";
    }
    return out + "]}";
}

const screenFormatName screenFormats[3] = {
    {".txt", screenFormat::text}, {".html", screenFormat::html}, {".json", screenFormat::json}};
const char* const screenFormatList = ".txt, .html or .json";

bool screenFormatOf(const std::string& path, screenFormat& format) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    for (const screenFormatName& f : screenFormats)
        if (path.compare(dot, std::string::npos, f.extension) == 0) {
            format = f.format;
            return true;
        }
    return false;
}

std::string screenAs(const remoteScreen& screen, screenFormat format) {
    switch (format) {
    case screenFormat::html: return screenHtml(screen);
    case screenFormat::json: return screenJson(screen) + "\n";
    default: return screenText(screen);
    }
}
