#pragma once
#include <string>
#include <string_view>

// The wall's one page, self-contained (inline style and script, nothing
// else, no inline event handlers) and served from memory. At the wall's
// address it shows a tile for every console, ordered by description; at
// console/N/ below it, console N alone at full size. Both follow the one
// stream at "events" beside the wall's address (wallHub's messages) and
// search with GET "search?q=TEXT" there (wallSearch's answer). Everything a
// server or the configuration chose goes into the page as text, never as
// markup.
//
// Integration: the web server answers GET /TOKEN/ and /TOKEN/console/N/
// (wallPagePath) with this page and the share's headers and
// Content-Security-Policy (connect-src 'self' covers the stream and the
// search).
const std::string& wallPage();

// Whether tail, the path after "/TOKEN/", is one of the page's: "" (the
// wall) or "console/N/" with N from 0 to consoles - 1, without leading zeros.
bool wallPagePath(std::string_view tail, int consoles);
