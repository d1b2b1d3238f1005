#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/cutil.h"

// The wall's search: a text, in any letter case, on every console's screen
// and in its history.

// What a search looks through for one console.
struct wallSearchConsole {
    int index = 0;                    // the console's number on the wall
    std::string_view description;     // code page 437 bytes
    const uint16_t (*cells)[screenCols] = nullptr;   // its 25 rows as they stand, or null
    // Its history, newest line first: calls line() with each line as UTF-8
    // until line() returns false. Empty: no history.
    std::function<void(const std::function<bool(std::string_view)>& line)> history;
};

constexpr size_t wallQueryMax = 256;       // characters
constexpr size_t wallLinesPerConsole = 20;
constexpr size_t wallLinesMax = 500;

// Looks for query (UTF-8, 1 to wallQueryMax characters) as a substring,
// letters folded (ASCII, Latin-1 and Greek: the letters of code page 437),
// in each console's rows, top to bottom, then its history, newest first;
// at most wallLinesPerConsole lines a console and wallLinesMax in all. Each
// line costs time in its length only (at most 4 KiB of it is looked at),
// whatever the query. json is
//   {"q":"QUERY","c":[{"i":N,"d":"DESCRIPTION","m":["LINE",...],"more":true},...],"cut":true}
// with the consoles that match, ordered by description; "more" when a
// console had more lines than it shows, "cut" when the total stopped the
// search. False (json {"error":"WHY"}) for a query refused.
//
// Integration: the web server answers GET search?q=... with this JSON (400
// when false), the query taken by wallQueryValue; the screens come from
// wallHub::copyScreen and the history from the console's history, which
// must be safe to read on the web server's thread (or the search is run on
// the sessions' thread).
bool wallSearch(std::string_view query, const std::vector<wallSearchConsole>& consoles, std::string& json);

// The value of key in a URL's query string ("a=1&q=x%20y"), '+' and %XX
// decoded; false when it is missing or badly encoded.
bool wallQueryValue(std::string_view query, std::string_view key, std::string& value);
