#pragma once

// A word of state bits. The static forms work on a plain int field of
// another class (the socket state word).
class Flags {
public:
    int flags;

    Flags(int v = 0) { setTo(v); }
    int setTo(int v);
    int getValue() const;
    int set(int v);
    int clear(int v);
    // 1 when every bit of v is set (v = 0 yields 1).
    int test(int v) const;

    static int set(int& f, int v);
    static int clear(int& f, int v);
    static int test(int f, int v);
};
