#include "sim/screens.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr unsigned char attrTitle = 0x1F;    // bright white on blue
constexpr unsigned char attrBody = 0x07;     // light grey on black
constexpr unsigned char attrStatus = 0x70;   // black on light grey
constexpr unsigned char attrNotice = 0x4E;   // yellow on red
constexpr unsigned char attrLabel = 0x0B;    // light cyan
constexpr unsigned char attrFigure = 0x0F;   // bright white
constexpr unsigned char blockFull = 0xDB;
constexpr unsigned char blockLight = 0xB0;
constexpr int bodyTop = 1;
constexpr int bodyRows = simRows - 2;        // rows 1 to 23
const std::string prompt = "quorvex> ";

std::string clockText(std::time_t t, const char* format)
{
    char text[32];
    std::tm parts{};
    localtime_r(&t, &parts);
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

}   // namespace

SimScreen::SimScreen(uint32_t screenId, std::string screenName) : screenId_(screenId), name_(std::move(screenName))
{
    for (int y = 0; y < simRows; ++y)
        fillRow(y, 0, ' ', attrBody);
}

void SimScreen::put(int x, int y, const std::string& text, unsigned char attr)
{
    if (y < 0 || y >= simRows || x < 0)
        return;
    for (size_t k = 0; k < text.size() && x + static_cast<int>(k) < simCols; ++k) {
        image_.chars[y][x + static_cast<int>(k)] = static_cast<unsigned char>(text[k]);
        image_.attrs[y][x + static_cast<int>(k)] = attr;
    }
}

void SimScreen::fillRow(int y, int x, unsigned char ch, unsigned char attr)
{
    for (int c = std::max(x, 0); c < simCols; ++c) {
        image_.chars[y][c] = ch;
        image_.attrs[y][c] = attr;
    }
}

void SimScreen::titleBar(const std::string& title, const std::string& right)
{
    fillRow(0, 0, ' ', attrTitle);
    put(1, 0, title, attrTitle);
    put(simCols - 1 - static_cast<int>(right.size()), 0, right, attrTitle);
}

void SimScreen::statusBar(const std::string& text)
{
    fillRow(simRows - 1, 0, ' ', attrStatus);
    put(1, simRows - 1, text, attrStatus);
}

ConsoleScreen::ConsoleScreen(uint32_t screenId, std::string screenName) : SimScreen(screenId, std::move(screenName))
{
    lines_.push_back({"QUORVEX stand-in server. Type a line and press Enter.", attrBody});
    newLine();
    redraw();
}

void ConsoleScreen::newLine()
{
    lines_.push_back({prompt, attrBody});
    while (lines_.size() > static_cast<size_t>(bodyRows))
        lines_.pop_front();
}

void ConsoleScreen::key(uint16_t keyWord)
{
    const auto ch = static_cast<unsigned char>(keyWord & 0xFF);
    const auto scan = static_cast<unsigned char>((keyWord >> 8) & 0x7F);
    std::string& text = lines_.back().text;
    if (ch == '\r' || ch == '\n' || scan == 0x1C) {
        newLine();
    } else if (ch == '\b' || scan == 0x0E) {
        if (text.size() > prompt.size())
            text.pop_back();
    } else if (ch >= 0x20 && ch != 0x7F) {
        // The cursor sits after the text, so a line holds at most 79 bytes.
        if (text.size() < static_cast<size_t>(simCols - 1))
            text.push_back(static_cast<char>(ch));
    }
    redraw();
}

void ConsoleScreen::notice(const std::string& text)
{
    lines_.insert(lines_.end() - 1, Line{text, attrNotice});
    while (lines_.size() > static_cast<size_t>(bodyRows))
        lines_.pop_front();
    redraw();
}

void ConsoleScreen::redraw()
{
    titleBar("QUORVEX Server Console", "screen " + std::to_string(id()));
    for (int r = 0; r < bodyRows; ++r)
        fillRow(bodyTop + r, 0, ' ', attrBody);
    int y = bodyTop;
    for (const Line& line : lines_)
        put(0, y++, line.text, line.attr);
    statusBar("Enter=new line  Backspace=delete");
    image_.cursorX = static_cast<int16_t>(lines_.back().text.size());
    image_.cursorY = static_cast<int16_t>(bodyTop + static_cast<int>(lines_.size()) - 1);
}

MonitorScreen::MonitorScreen(uint32_t screenId, std::string screenName) : SimScreen(screenId, std::move(screenName))
{
    image_.cursorX = 0;
    image_.cursorY = simRows - 1;
    TickInfo first;
    first.wallClock = std::time(nullptr);
    tick(first);
}

uint32_t MonitorScreen::nextRandom()
{
    seed_ = seed_ * 1103515245u + 12345u;
    return (seed_ >> 16) & 0x7FFF;
}

void MonitorScreen::tick(const TickInfo& info)
{
    titleBar("QUORVEX System Monitor", clockText(info.wallClock, "%Y-%m-%d %H:%M:%S"));
    for (int r = 0; r < bodyRows; ++r)
        fillRow(bodyTop + r, 0, ' ', attrBody);
    char text[96];
    const auto up = static_cast<long>(info.uptimeSeconds);
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", up / 3600, up / 60 % 60, up % 60);
    put(2, 2, "Uptime", attrLabel);
    put(16, 2, text, attrFigure);
    put(2, 3, "Ticks", attrLabel);
    put(16, 3, std::to_string(info.count), attrFigure);

    for (int cpu = 0; cpu < 4; ++cpu) {
        const int load = static_cast<int>(nextRandom() % 101);
        const int y = 5 + cpu;
        std::snprintf(text, sizeof text, "CPU %d", cpu);
        put(2, y, text, attrLabel);
        const int filled = load * 40 / 100;
        for (int c = 0; c < 40; ++c) {
            image_.chars[y][16 + c] = c < filled ? blockFull : blockLight;
            image_.attrs[y][16 + c] = c < filled ? (load > 80 ? 0x0C : 0x0A) : 0x08;
        }
        std::snprintf(text, sizeof text, "%3d %%", load);
        put(58, y, text, attrFigure);
    }

    const unsigned memory = 1024 + nextRandom() % 2048;
    std::snprintf(text, sizeof text, "%u MB of 4096 MB", memory);
    put(2, 10, "Memory", attrLabel);
    put(16, 10, text, attrFigure);
    std::snprintf(text, sizeof text, "in %u KB/s   out %u KB/s", nextRandom() % 900, nextRandom() % 400);
    put(2, 11, "Network", attrLabel);
    put(16, 11, text, attrFigure);
    std::snprintf(text, sizeof text, "%u", nextRandom() % 250);
    put(2, 12, "Requests/s", attrLabel);
    put(16, 12, text, attrFigure);
    // A sample of the code page's glyphs: shades, block, accent, frame.
    put(2, 14, "Charset", attrLabel);
    put(16, 14, "\xB0\xB1\xB2\xDB \x82 \xC9\xCD\xBB\xBA", attrFigure);
    statusBar("Figures change every tick");
}

LogScreen::LogScreen(uint32_t screenId, std::string screenName) : SimScreen(screenId, std::move(screenName))
{
    image_.cursorX = 0;
    image_.cursorY = simRows - 1;
    append("log started", attrBody);
}

void LogScreen::append(const std::string& text, unsigned char attr)
{
    const std::time_t now = std::time(nullptr);
    lines_.emplace_back(clockText(now, "[%H:%M:%S] ") + text, attr);
    ++entries_;
    while (lines_.size() > static_cast<size_t>(bodyRows))
        lines_.pop_front();
    redraw();
}

void LogScreen::tick(const TickInfo& info)
{
    static const char* const events[] = {
        "service heartbeat",        "scheduler: jobs queued",  "backup: block written",
        "cache: entries refreshed", "disk: check passed",      "network: link up",
    };
    if (info.count == 0)
        return;
    append(std::string(events[info.count % std::size(events)]) + " #" + std::to_string(info.count), attrBody);
}

void LogScreen::notice(const std::string& text)
{
    append(text, 0x0E);
}

void LogScreen::redraw()
{
    titleBar("QUORVEX Event Log", std::to_string(entries_) + " entries");
    for (int r = 0; r < bodyRows; ++r)
        fillRow(bodyTop + r, 0, ' ', attrBody);
    int y = bodyTop;
    for (const auto& [text, attr] : lines_)
        put(0, y++, text, attr);
    statusBar("Newest entry at the bottom");
}

ScreenSet::ScreenSet()
{
    screens_.push_back(std::make_unique<ConsoleScreen>(1, "Console"));
    screens_.push_back(std::make_unique<MonitorScreen>(2, "Monitor"));
    screens_.push_back(std::make_unique<LogScreen>(3, "Log"));
}

void ScreenSet::addFirst(std::unique_ptr<SimScreen> screen)
{
    screens_.insert(screens_.begin(), std::move(screen));
}

SimScreen* ScreenSet::find(uint32_t screenId)
{
    for (auto& s : screens_)
        if (s->id() == screenId)
            return s.get();
    return nullptr;
}

void ScreenSet::tick(const TickInfo& info)
{
    for (auto& s : screens_)
        s->tick(info);
}
