#pragma once
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "sim/encoder.h"

// What a tick of the server's clock tells the screens.
struct TickInfo {
    uint64_t count = 0;          // ticks since the server started
    std::time_t wallClock = 0;   // local time shown on the screens
    double uptimeSeconds = 0;
};

// One screen of the stand-in server: an image that changes on its own
// (ticks), by typing (keys) or by events worth showing (notices).
class SimScreen {
public:
    SimScreen(uint32_t screenId, std::string screenName);
    virtual ~SimScreen() = default;
    SimScreen(const SimScreen&) = delete;
    SimScreen& operator=(const SimScreen&) = delete;

    uint32_t id() const { return screenId_; }
    const std::string& name() const { return name_; }
    void rename(std::string name) { name_ = std::move(name); }
    const ScreenImage& image() const { return image_; }

    virtual void tick(const TickInfo&) {}
    // A key word from the client: low byte the character, high byte the scan code.
    virtual void key(uint16_t) {}
    virtual void notice(const std::string&) {}
    // The image the next update carries. A screen may keep intermediate
    // images for the client; it hands them out one at a time, and
    // frameSent() says that the client has been given the last one.
    virtual const ScreenImage& nextFrame() { return image_; }
    virtual void frameSent() {}

protected:
    // Writes text at (x, y) in attr, cut at the right edge.
    void put(int x, int y, const std::string& text, unsigned char attr);
    // Fills row y from column x to the end with ch in attr.
    void fillRow(int y, int x, unsigned char ch, unsigned char attr);
    void titleBar(const std::string& title, const std::string& right);
    void statusBar(const std::string& text);

    ScreenImage image_;

private:
    uint32_t screenId_;
    std::string name_;
};

// A line editor: what is typed shows after the prompt; Enter starts a new
// line, Backspace deletes; the cursor follows the text.
class ConsoleScreen : public SimScreen {
public:
    ConsoleScreen(uint32_t screenId, std::string screenName);
    void key(uint16_t keyWord) override;
    void notice(const std::string& text) override;

private:
    struct Line {
        std::string text;
        unsigned char attr;
    };
    void newLine();
    void redraw();

    std::deque<Line> lines_;   // the last is the one being typed
};

// Figures that change with every tick.
class MonitorScreen : public SimScreen {
public:
    MonitorScreen(uint32_t screenId, std::string screenName);
    void tick(const TickInfo& info) override;

private:
    uint32_t seed_ = 12345;
    uint32_t nextRandom();
};

// A scrolling log: one line per tick, and every notice.
class LogScreen : public SimScreen {
public:
    LogScreen(uint32_t screenId, std::string screenName);
    void tick(const TickInfo& info) override;
    void notice(const std::string& text) override;

private:
    void append(const std::string& text, unsigned char attr);
    void redraw();

    std::deque<std::pair<std::string, unsigned char>> lines_;
    uint64_t entries_ = 0;
};

// The screens the server offers, in list order.
class ScreenSet {
public:
    ScreenSet();
    std::vector<std::unique_ptr<SimScreen>>& all() { return screens_; }
    SimScreen* find(uint32_t screenId);
    SimScreen& console() { return *find(1); }
    SimScreen& log() { return *find(3); }
    // Puts a screen first in the list, the one a client is shown first.
    void addFirst(std::unique_ptr<SimScreen> screen);
    void tick(const TickInfo& info);

private:
    std::vector<std::unique_ptr<SimScreen>> screens_;
};
