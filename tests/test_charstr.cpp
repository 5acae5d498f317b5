// test_charstr.cpp - the string library.

#include "charstr.h"

#include <gtest/gtest.h>

TEST(StrCopy, CopiesWholeSourceOrCutsToCapacity)
{
    char sz[4];
    EXPECT_EQ(1, StrCopy(sz, "abc", 4));
    EXPECT_STREQ("abc", sz);
    EXPECT_EQ(0, StrCopy(sz, "abcd", 4));
    EXPECT_STREQ("abc", sz);
}

TEST(StrCopyDeath, ZeroCapacityEndsTheProcess)
{
    char sz[4];
    EXPECT_EXIT(StrCopy(sz, "abc", 0), ::testing::ExitedWithCode(3),
                "Assertion failed: max > 0, file lib.CHARSTR, line .");
}
