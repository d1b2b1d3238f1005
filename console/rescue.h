#pragma once
#include <termios.h>

#include <string_view>

// A crash must not leave the terminal as curses keeps it: raw, on the
// alternate screen, perhaps without a cursor. While the rescue is armed, the
// handler of each fatal signal that can be caught writes the reset bytes and
// sets the terminal's modes back, with calls that are safe in a signal
// handler only; then the signal goes on to the action it had before: the
// default, which ends the program with it, or a sanitizer's report. A signal
// that was ignored when the rescue was first armed stays ignored.

// Arms the rescue with the modes the terminal had before curses and the
// bytes that put it back; the first call installs the handlers.
void armTerminalRescue(const termios& modes, std::string_view reset);
// Bytes the rescue writes too, after those given so far (the window title
// to put back); dropped when there is no room.
void addTerminalRescue(std::string_view bytes);
// The program gives the terminal back itself from here.
void disarmTerminalRescue();
