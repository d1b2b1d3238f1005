#pragma once
#include <cstdint>

#include "screen/remotescreen.h"

// The wall's pieces (the hub, the log folder writer) take a console's
// remoteScreen as its session last painted it, with a mask of the rows that
// changed, so that they know no session type: whoever drives them passes the
// screen from the session's feed.

// A mask of rows: bit r for row r.
constexpr uint32_t wallAllRows = (1u << screenRows) - 1;
