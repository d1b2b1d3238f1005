#pragma once
#include "screen/sessioncontrol.h"

class consoleMain;

// The session's side of sessionControl: what the session menu's items and
// scripts may do in the session that consoleMain runs.
class consoleSessionControl final : public sessionControl {
public:
    explicit consoleSessionControl(consoleMain& app) : app_(app) {}
    consoleSessionControl(const consoleSessionControl&) = delete;
    consoleSessionControl& operator=(const consoleSessionControl&) = delete;

    void sendKey(const INPUT_RECORD& key) override;
    void sendRawKey(uint16_t word) override;
    size_t keysQueued() const override;
    bool selectScreen(uint32_t id) override;
    const char* findScreen(uint32_t id) const override;
    uint32_t findScreenByName(std::string_view shown) const override;
    void catchUp() override;
    void endSession() override;
    void statusLine(const std::string& text) override;
    void messageBox(const char* text) override;
    void openMode(std::unique_ptr<screenMode> mode) override;
    std::function<void(std::function<void()>)> handBack() override;

private:
    consoleMain& app_;
};
