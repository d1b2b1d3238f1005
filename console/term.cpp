#include "console/term.h"

namespace {

// Used while no real terminal is active: shows nothing and has no input, so
// every key wait ends at once as if the terminal had gone.
class NullTerminal : public Terminal {
public:
    void putRow(int, const uint16_t*) override {}
    void moveCursor(int, int) override {}
    int refresh() override { return 0; }
    int readKey(int, INPUT_RECORD&) override { return -1; }
};

NullTerminal nullTerminal;
Terminal* active = &nullTerminal;

}  // namespace

Terminal* terminal() { return active; }

void setTerminal(Terminal* t) { active = t ? t : &nullTerminal; }
