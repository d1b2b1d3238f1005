#pragma once
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <vterm.h>

#include "sim/ptyprogram.h"
#include "sim/screens.h"

// A real program on a pseudo-terminal, shown through a terminal emulator as
// a server screen; keys from the client are typed into it.
//
// While a client watches, no line leaves the top of the program's screen
// without having been in an update: when the screen is about to scroll a
// line that the last update did not hold where the scrolling would have
// taken it, or scrolls by more than scrollLimit rows since that update, the
// screen as it stands before the scroll is kept as a frame of its own, and
// the program's output is not read until the client has been given it.
class ProgramScreen : public SimScreen {
public:
    static constexpr int scrollLimit = 20;

    ProgramScreen(uint32_t screenId, std::string screenName);
    ~ProgramScreen() override;

    // Starts the program; false with a message in error.
    bool start(const std::vector<std::string>& args, std::string& error);

    // The descriptor to wait on for output, or -1 while none is wanted
    // (a frame is held back for the client, or the program has ended).
    int waitFd() const;
    // Reads and takes in what output there is, as far as the holding allows.
    void pump();
    // Whether a client is shown this screen now.
    void watch(bool watched);

    void key(uint16_t keyWord) override;
    const ScreenImage& nextFrame() override;
    void frameSent() override;

private:
    static int onChange(void* self);
    static int onDamage(VTermRect, void* self);
    static int onMoveCursor(VTermPos, VTermPos, int, void* self);
    static int onPushLine(int cols, const VTermScreenCell* cells, void* self);
    static void onOutput(const char* bytes, size_t length, void* self);

    void feed();
    void ended();
    void render(ScreenImage& out) const;
    void pushLine(const VTermScreenCell* cells);

    PtyProgram program_;
    VTerm* vt_ = nullptr;
    VTermScreen* screen_ = nullptr;
    bool running_ = false;
    bool dirty_ = true;              // the emulator's screen changed since the last render
    bool watched_ = false;
    // Output read but not yet taken in.
    char input_[4096];
    size_t inputLength_ = 0;
    size_t inputPos_ = 0;
    // What the client has or is about to get: the last frame handed out or
    // kept, the lines pushed off since, and the frames kept for it.
    ScreenImage base_;
    int pushed_ = 0;
    std::deque<ScreenImage> held_;
    int pushedThisByte_ = 0;         // one byte scrolls the screen at most once
    bool keptThisByte_ = false;
};
