#pragma once
#include <string>

// The one page a share serves: the 80 x 25 screen in the PC's colours, the
// screen's name and the session's state, kept up to date by the stream of
// events at "events" beside it. Self-contained: inline style and script,
// nothing else.
const std::string& sharePage();
