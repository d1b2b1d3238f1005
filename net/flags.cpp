#include "net/flags.h"

int Flags::setTo(int v) {
    flags = v;
    return flags;
}

int Flags::getValue() const { return flags; }

int Flags::set(int v) { return set(flags, v); }

int Flags::clear(int v) { return clear(flags, v); }

int Flags::test(int v) const { return test(flags, v); }

int Flags::set(int& f, int v) {
    f |= v;
    return f;
}

int Flags::clear(int& f, int v) {
    f &= ~v;
    return f;
}

int Flags::test(int f, int v) { return (f & v) == v ? 1 : 0; }
