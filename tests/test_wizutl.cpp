// test_wizutl.cpp - building a page list: the final page as terminator, the capacity, the assertions.

#include "wizutl.h"

#include <gtest/gtest.h>

TEST(WizPages, InitMakesRecordZeroTheFinalPageAndTouchesNothingElse)
{
    WizPage a[3] = {{1, 2, 3, 4, 5}, {1, 7, 7, 7, 7}, {2, 0, 0, 0, 0}};
    WizPagesInit(a);
    EXPECT_EQ(WIZ_PAGE_END, a[0].nKind);
    EXPECT_EQ(2, a[0].hImage);
    EXPECT_EQ(1, a[1].nKind);
}

TEST(WizPages, AddPutsTheNewPageBeforeTheFinalPage)
{
    WizPage a[4];
    WizPagesInit(a);
    WizPage *p1 = WizPagesAdd(a, WIZ_PAGE_PICTURE, 4);
    WizPage *p2 = WizPagesAdd(a, WIZ_PAGE_OPTION, 4);
    EXPECT_EQ(&a[0], p1);
    EXPECT_EQ(&a[1], p2);
    EXPECT_EQ(WIZ_PAGE_PICTURE, a[0].nKind);
    EXPECT_EQ(WIZ_PAGE_OPTION, a[1].nKind);
    EXPECT_EQ(WIZ_PAGE_END, a[2].nKind);
}

TEST(WizPages, ACapacityOfTenTakesNinePagesAndRefusesTheTenthUnchanged)
{
    WizPage a[10];
    WizPagesInit(a);
    for (int i = 0; i < 9; i++)
        ASSERT_EQ(&a[i], WizPagesAdd(a, WIZ_PAGE_TEXT, 10)) << i;
    EXPECT_EQ(WIZ_PAGE_END, a[9].nKind);
    EXPECT_EQ(nullptr, WizPagesAdd(a, WIZ_PAGE_OPTION, 10));
    for (int i = 0; i < 9; i++)
        EXPECT_EQ(WIZ_PAGE_TEXT, a[i].nKind);
    EXPECT_EQ(WIZ_PAGE_END, a[9].nKind);
}

TEST(WizPages, SmallestCapacityTakesOnePage)
{
    WizPage a[2];
    WizPagesInit(a);
    EXPECT_EQ(&a[0], WizPagesAdd(a, WIZ_PAGE_PICTURE, 2));
    EXPECT_EQ(nullptr, WizPagesAdd(a, WIZ_PAGE_PICTURE, 2));
}

static void AddBeyondCapacity()
{
    WizPage a[6];
    WizPagesInit(a);
    for (int i = 0; i < 5; i++)
        WizPagesAdd(a, WIZ_PAGE_TEXT, 6);
    WizPagesAdd(a, WIZ_PAGE_TEXT, 3); // the list already runs past a capacity of 3
}

TEST(WizPages, PreconditionsEndTheProcessWithTheirText)
{
    WizPage a[2];
    EXPECT_EXIT(WizPagesInit(NULL), ::testing::ExitedWithCode(3),
                "Assertion failed: pPages != NULL, file app.WIZUTL, line .");
    EXPECT_EXIT(WizPagesAdd(NULL, WIZ_PAGE_TEXT, 10), ::testing::ExitedWithCode(3),
                "Assertion failed: pPages != NULL, file app.WIZUTL, line .");
    EXPECT_EXIT(WizPagesAdd(a, WIZ_PAGE_TEXT, 1), ::testing::ExitedWithCode(3),
                "Assertion failed: nSize > 1, file app.WIZUTL, line .");
    EXPECT_EXIT(AddBeyondCapacity(), ::testing::ExitedWithCode(3),
                "Assertion failed: pTmp.1-pPages < nSize, file app.WIZUTL, line .");
}

TEST(WizConfig, PreconditionsEndTheProcessWithTheirText)
{
    WizConfig config;
    EXPECT_EXIT(WizConfigLoad(NULL, 1000), ::testing::ExitedWithCode(3),
                "Assertion failed: pConfig != NULL, file app.WIZUTL, line .");
    EXPECT_EXIT(WizConfigLoad(&config, 0), ::testing::ExitedWithCode(3),
                "Assertion failed: nFirstId > 0, file app.WIZUTL, line .");
}
