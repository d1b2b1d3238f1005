#pragma once
#include <cstddef>
#include <functional>
#include <string>

// Cuts what a program writes into lines, as it comes: a line feed ends a
// line and a carriage return before it is dropped; a line longer than
// maxLength comes in pieces of that length.
class lineSplitter {
public:
    using lineFn = std::function<void(const std::string& line)>;

    explicit lineSplitter(size_t maxLength = 65536) : max_(maxLength) {}
    // Takes n bytes; every line they complete goes to onLine.
    void feed(const char* data, size_t n, const lineFn& onLine);
    // At the end of the output: what is left, unless nothing, as the last line.
    void finish(const lineFn& onLine);

private:
    size_t max_;
    std::string partial_;
};
