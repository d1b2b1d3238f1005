#include "sim/program.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "console/cp437.h"

namespace {

// The 16 colours of the PC text screen, in its numbering.
const unsigned char pcPalette[16][3] = {
    {0, 0, 0},      {0, 0, 170},    {0, 170, 0},    {0, 170, 170},  {170, 0, 0},    {170, 0, 170},
    {170, 85, 0},   {170, 170, 170}, {85, 85, 85},  {85, 85, 255},  {85, 255, 85},  {85, 255, 255},
    {255, 85, 85},  {255, 85, 255}, {255, 255, 85}, {255, 255, 255},
};

// A PC colour number is an ANSI one with bits 0 (red) and 2 (blue) swapped.
unsigned char pcFromAnsi(unsigned index)
{
    return static_cast<unsigned char>(((index & 1) << 2) | (index & 2) | ((index & 4) >> 2) | (index & 8));
}

unsigned char pcColour(const VTermScreen* screen, VTermColor colour, unsigned char whenDefault)
{
    if (VTERM_COLOR_IS_DEFAULT_FG(&colour) || VTERM_COLOR_IS_DEFAULT_BG(&colour))
        return whenDefault;
    if (VTERM_COLOR_IS_INDEXED(&colour) && colour.indexed.idx < 16)
        return pcFromAnsi(colour.indexed.idx);
    // The rest of the 256 colours and direct ones: the nearest of the 16.
    vterm_screen_convert_color_to_rgb(screen, &colour);
    const int rgb[3] = {colour.rgb.red, colour.rgb.green, colour.rgb.blue};
    unsigned char best = 0;
    int bestDistance = 1 << 30;
    for (unsigned char k = 0; k < 16; ++k) {
        int distance = 0;
        for (int c = 0; c < 3; ++c)
            distance += (rgb[c] - pcPalette[k][c]) * (rgb[c] - pcPalette[k][c]);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = k;
        }
    }
    return best;
}

// One cell of the emulator as a code page 437 character and a PC attribute.
void pcCell(const VTermScreen* screen, const VTermScreenCell& cell, unsigned char& ch, unsigned char& attr)
{
    const uint32_t c = cell.chars[0];
    // 0: an empty cell; above the Unicode range: the right half of a wide glyph.
    const int code = c == 0 || c > 0x10FFFF ? ' ' : cp437FromUnicode(static_cast<char32_t>(c));
    ch = code < 0 ? '?' : static_cast<unsigned char>(code);
    unsigned char fg = pcColour(screen, cell.fg, 7);
    unsigned char bg = pcColour(screen, cell.bg, 0);
    if (cell.attrs.bold)
        fg |= 8;
    if (cell.attrs.reverse)
        std::swap(fg, bg);
    attr = static_cast<unsigned char>(fg | (bg << 4));
}

}   // namespace

ProgramScreen::ProgramScreen(uint32_t screenId, std::string screenName) : SimScreen(screenId, std::move(screenName))
{
    static const VTermScreenCallbacks callbacks = {
        &ProgramScreen::onDamage, nullptr, &ProgramScreen::onMoveCursor, nullptr, nullptr, nullptr,
        &ProgramScreen::onPushLine, nullptr,
    };
    vt_ = vterm_new(simRows, simCols);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &ProgramScreen::onOutput, this);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_set_callbacks(screen_, &callbacks, this);
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_screen_reset(screen_, 1);
    render(image_);
    base_ = image_;
}

ProgramScreen::~ProgramScreen()
{
    vterm_free(vt_);
}

bool ProgramScreen::start(const std::vector<std::string>& args, std::string& error)
{
    running_ = program_.start(args, simRows, simCols, error);
    return running_;
}

int ProgramScreen::onDamage(VTermRect, void* self)
{
    static_cast<ProgramScreen*>(self)->dirty_ = true;
    return 1;
}

int ProgramScreen::onMoveCursor(VTermPos, VTermPos, int, void* self)
{
    static_cast<ProgramScreen*>(self)->dirty_ = true;
    return 1;
}

int ProgramScreen::onPushLine(int cols, const VTermScreenCell* cells, void* self)
{
    if (cols >= simCols)
        static_cast<ProgramScreen*>(self)->pushLine(cells);
    return 1;
}

void ProgramScreen::onOutput(const char* bytes, size_t length, void* self)
{
    static_cast<ProgramScreen*>(self)->program_.write(bytes, length);
}

// The emulator calls this before the scroll moves anything, once for each
// line that leaves, top row first.
namespace {

bool blankRow(const ScreenImage& image, int row)
{
    for (int x = 0; x < simCols; ++x)
        if (image.chars[row][x] != ' ' && image.chars[row][x] != 0)
            return false;
    return true;
}

}  // namespace

void ProgramScreen::pushLine(const VTermScreenCell* cells)
{
    const int row = pushedThisByte_++;
    if (!watched_)
        return;
    if (!keptThisByte_) {
        // Had the screen only scrolled since the client's frame, this line
        // would be its row pushed_; and two written rows of that frame must
        // stay in sight, for the client to see the scroll at all (one
        // matching row is no evidence of a scroll).
        int lastWritten = simRows - 1;
        while (lastWritten > 0 && blankRow(base_, lastWritten)) --lastWritten;
        int keptWritten = lastWritten - 1;
        while (keptWritten > 0 && blankRow(base_, keptWritten)) --keptWritten;
        bool shown = pushed_ < scrollLimit && pushed_ < keptWritten;
        for (int x = 0; shown && x < simCols; ++x) {
            unsigned char ch = 0;
            unsigned char attr = 0;
            pcCell(screen_, cells[x], ch, attr);
            shown = base_.chars[pushed_][x] == ch && base_.attrs[pushed_][x] == attr;
        }
        if (!shown) {
            // The screen has not moved yet: it still holds every line this
            // scroll pushes off.
            render(base_);
            held_.push_back(base_);
            pushed_ = row;
            keptThisByte_ = true;
        }
    }
    ++pushed_;
}

void ProgramScreen::render(ScreenImage& out) const
{
    VTermScreenCell cell;
    for (int y = 0; y < simRows; ++y) {
        for (int x = 0; x < simCols; ++x) {
            const VTermPos pos{y, x};
            if (vterm_screen_get_cell(screen_, pos, &cell))
                pcCell(screen_, cell, out.chars[y][x], out.attrs[y][x]);
        }
    }
    VTermPos cursor{0, 0};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &cursor);
    out.cursorX = static_cast<int16_t>(std::clamp(cursor.col, 0, simCols - 1));
    out.cursorY = static_cast<int16_t>(std::clamp(cursor.row, 0, simRows - 1));
}

// Takes in the output read so far, a byte at a time so that a byte that
// scrolls can be told from the next, until a frame is kept for the client.
void ProgramScreen::feed()
{
    while (inputPos_ < inputLength_ && held_.empty()) {
        pushedThisByte_ = 0;
        keptThisByte_ = false;
        vterm_input_write(vt_, input_ + inputPos_, 1);
        ++inputPos_;
    }
}

void ProgramScreen::pump()
{
    feed();
    // A bounded share of a fast program's output per call, so that the
    // client's messages are not kept waiting.
    for (int round = 0; round < 16 && running_ && held_.empty() && inputPos_ == inputLength_; ++round) {
        const long n = program_.read(input_, sizeof input_);
        if (n == 0)
            break;
        if (n < 0) {
            ended();
        } else {
            inputLength_ = static_cast<size_t>(n);
            inputPos_ = 0;
        }
        feed();
    }
}

// The program's last screen stays, with a line that says it ended.
void ProgramScreen::ended()
{
    running_ = false;
    const std::string how = program_.reap();
    VTermPos cursor{0, 0};
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &cursor);
    std::string text = cursor.col == 0 && vterm_screen_is_eol(screen_, cursor) ? "" : "\r\n";
    text += "\x1b[0;7m[program ended" + (how.empty() ? std::string() : ": " + how) + "]\x1b[0m";
    inputLength_ = std::min(text.size(), sizeof input_);
    std::memcpy(input_, text.data(), inputLength_);
    inputPos_ = 0;
}

int ProgramScreen::waitFd() const
{
    return running_ && held_.empty() && inputPos_ == inputLength_ ? program_.fd() : -1;
}

void ProgramScreen::watch(bool watched)
{
    if (watched == watched_)
        return;
    watched_ = watched;
    held_.clear();
    render(base_);
    pushed_ = 0;
}

const ScreenImage& ProgramScreen::nextFrame()
{
    if (!held_.empty())
        return held_.front();
    if (dirty_) {
        render(image_);
        dirty_ = false;
    }
    return image_;
}

void ProgramScreen::frameSent()
{
    if (!held_.empty()) {
        held_.pop_front();
        return;
    }
    base_ = image_;
    pushed_ = 0;
}

void ProgramScreen::key(uint16_t keyWord)
{
    if (!running_)
        return;
    const auto ch = static_cast<unsigned char>(keyWord & 0xFF);
    const auto scan = static_cast<unsigned char>((keyWord >> 8) & 0x7F);
    const bool ctrl = (keyWord & 0x8000) != 0;
    // These go by scan code whatever character comes with them.
    static const std::pair<unsigned char, VTermKey> editing[] = {
        {0x1C, VTERM_KEY_ENTER}, {0x0E, VTERM_KEY_BACKSPACE}, {0x0F, VTERM_KEY_TAB}, {0x01, VTERM_KEY_ESCAPE},
    };
    // These come without a character.
    static const std::pair<unsigned char, VTermKey> moving[] = {
        {0x48, VTERM_KEY_UP},       {0x50, VTERM_KEY_DOWN},     {0x4B, VTERM_KEY_LEFT},
        {0x4D, VTERM_KEY_RIGHT},    {0x47, VTERM_KEY_HOME},     {0x4F, VTERM_KEY_END},
        {0x49, VTERM_KEY_PAGEUP},   {0x51, VTERM_KEY_PAGEDOWN}, {0x52, VTERM_KEY_INS},
        {0x53, VTERM_KEY_DEL},      {0x57, static_cast<VTermKey>(VTERM_KEY_FUNCTION(11))}, {0x58, static_cast<VTermKey>(VTERM_KEY_FUNCTION(12))},
    };
    for (const auto& [code, vkey] : editing) {
        if (scan == code) {
            vterm_keyboard_key(vt_, vkey, VTERM_MOD_NONE);
            return;
        }
    }
    if (ch == 0) {
        const VTermModifier mod = ctrl ? VTERM_MOD_CTRL : VTERM_MOD_NONE;
        if (scan >= 0x3B && scan <= 0x44)
            vterm_keyboard_key(vt_, static_cast<VTermKey>(VTERM_KEY_FUNCTION(scan - 0x3A)), mod);
        for (const auto& [code, vkey] : moving)
            if (scan == code)
                vterm_keyboard_key(vt_, vkey, mod);
        return;
    }
    char32_t c = ch;
    if (ctrl && (ch | 0x20) >= 'a' && (ch | 0x20) <= 'z')
        c = ch & 0x1F;
    else if (ch >= 0x80)
        c = cp437Unicode[ch];
    // Control characters go as they are; the rest as UTF-8.
    vterm_keyboard_unichar(vt_, static_cast<uint32_t>(c), VTERM_MOD_NONE);
}
