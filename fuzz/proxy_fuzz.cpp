// The reader of a proxy's answer to CONNECT over arbitrary bytes: it must
// stay inside its line buffer, always terminate it, and give one of its codes.

#include <cstring>
#include <vector>

#include "client/connect.h"
#include "console/term.h"
#include "fuzz/fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static MemoryTerminal term;
    term.goneWhenEmpty = false;   // no keys, and no end of input either
    setTerminal(&term);
    FuzzPeer peer;
    if (size > 65536 || !peer.load(data, size)) {
        setTerminal(nullptr);
        return 0;
    }
    // One guard byte past the 2001 the reader may use.
    std::vector<char> buffer(2002, '\x5A');
    const int r = readProxyAnswer(peer.fd[0], buffer.data(), nullptr);
    if (buffer[2001] != '\x5A' || std::memchr(buffer.data(), 0, 2001) == nullptr)
        __builtin_trap();
    if (r != 0 && r != 4001 && r != 4002 && r != 4005 && r != 4006)
        __builtin_trap();
    setTerminal(nullptr);
    return 0;
}
