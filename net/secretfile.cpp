#include "net/secretfile.h"

size_t copyFirstLine(const char* data, size_t n, char* out, size_t size) {
    size_t k = 0;
    for (size_t i = 0; i < n && data[i] != '\n' && data[i] != '\r'; ++i)
        if (k + 1 < size) out[k++] = data[i];
    if (size > 0) out[k] = 0;
    return k;
}
