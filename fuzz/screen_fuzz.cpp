// Screen update decoding into a session's model, compressed update expansion
// and the screen list parser over arbitrary bytes: nothing may be read or
// written out of bounds, and the cursor must stay on the screen.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "client/scrlist.h"
#include "screen/decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto length = static_cast<int32_t>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
    remoteScreen model;
    bool rows[screenRows] = {};

    paintCharData(model, data, length, rows);
    paintAttrData(model, data, length, rows);
    paintScreenUpdate(model, data, length, rows);
    if (model.cursorX < 0 || model.cursorX >= screenCols || model.cursorY < 0 || model.cursorY >= screenRows)
        __builtin_trap();

    std::vector<unsigned char> expanded(unpackBufferSize);
    const int32_t n = unpackScreenData(data, expanded.data(), length, unpackBufferSize);
    if (n > unpackBufferSize)
        __builtin_trap();
    if (n > 0)
        paintScreenUpdate(model, expanded.data(), n, rows);

    serverScreenList screens;
    const int added = readScreenList(screens, data, length);
    int listed = 0;
    for (serverScreen* s = screens.getNext(nullptr); s; s = screens.getNext(s)) {
        if (s->getName()[80] != 0)
            __builtin_trap();
        ++listed;
    }
    if (listed != added || screens.count != added)
        __builtin_trap();
    return 0;
}
