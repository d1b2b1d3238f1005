// The Windows build has no web server, so no wall.
#include <cstdio>

#include "programs/main_wall.h"

int wallMain(int, char**) {
    std::fputs("quorcli: the console wall (--wall) is not available in the Windows build\n", stderr);
    return 2;
}
