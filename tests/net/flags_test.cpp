#include "net/flags.h"

#include <gtest/gtest.h>

TEST(Flags, MemberFormsReturnTheWord) {
    Flags f(5);
    EXPECT_EQ(f.test(4), 1);
    EXPECT_EQ(f.test(6), 0);
    EXPECT_EQ(f.test(0), 1);
    EXPECT_EQ(f.set(8), 13);
    EXPECT_EQ(f.clear(4), 9);
    EXPECT_EQ(f.getValue(), 9);
    EXPECT_EQ(f.setTo(-1), -1);
    EXPECT_EQ(f.clear(static_cast<int>(0x80000000u)), 0x7fffffff);
}

TEST(Flags, StaticFormsChangeTheGivenWord) {
    int state = 0;
    EXPECT_EQ(Flags::set(state, 1 | 2), 3);
    EXPECT_EQ(Flags::set(state, 4), 7);
    EXPECT_EQ(Flags::test(state, 7), 1);
    EXPECT_EQ(Flags::test(state, 11), 0);
    EXPECT_EQ(Flags::clear(state, 4), 3);
    EXPECT_EQ(state, 3);
}
