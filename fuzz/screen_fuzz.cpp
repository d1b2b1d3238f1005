// Screen update decoding, compressed update expansion and the screen list
// parser over arbitrary bytes: nothing may be read or written out of bounds,
// and the cursor must stay on the screen.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/scrlist.h"
#include "console/cutil.h"
#include "console/term.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryTerminal term;
    setTerminal(&term);
    const auto length = static_cast<int32_t>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);

    paintCharData(nullptr, data, length);
    paintAttrData(nullptr, data, length);
    paintScreenUpdate(nullptr, data, length);
    if (cursorX < 0 || cursorX >= screenCols || cursorY < 0 || cursorY >= screenRows)
        __builtin_trap();

    std::vector<unsigned char> expanded(unpackBufferSize);
    const int32_t n = unpackScreenData(data, expanded.data(), length, unpackBufferSize);
    if (n > unpackBufferSize)
        __builtin_trap();
    if (n > 0)
        paintScreenUpdate(nullptr, expanded.data(), n);

    screens.free();
    const int added = readScreenList(data, length);
    int listed = 0;
    for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s)) {
        if (s->getName()[80] != 0)
            __builtin_trap();
        ++listed;
    }
    if (listed != added || screens.count != added)
        __builtin_trap();
    screens.free();
    setTerminal(nullptr);
    return 0;
}
