// test_fault.cpp - the fault switch against the one list of checked calls (plat/checkedcalls.h): a name the
// list does not have is refused with a message rather than never firing, every name it has is taken, a
// wrapper that checks under an unlisted name stops at its first check, and the list itself is well formed.

#include "kernel/kernel.h"

#include <plat/checkedcalls.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <time.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

class FaultSwitch : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        for (const char *psz : {"PLAT_FAULT", "PLAT_FAULT_AT", "PLAT_FAULT_CUT", "PLAT_FAULT_TRACE", "PLAT_FAULT_SLOW"})
            unsetenv(psz);
    }
    void TearDown() override
    {
        unsetenv("PLAT_FAULT");
        unsetenv("PLAT_FAULT_SLOW");
    }
};

// Sets the switch and makes one checked call; the process ends with exit code 0 when the switch took it.
static void CheckWith(const std::string &sFault)
{
    setenv("PLAT_FAULT", sFault.c_str(), 1);
    GetFileAttributesA("C:\\");
    _exit(0);
}

static long ElapsedMs(const std::function<void()> &f)
{
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    f();
    clock_gettime(CLOCK_MONOTONIC, &b);
    return (long)((b.tv_sec - a.tv_sec) * 1000 + (b.tv_nsec - a.tv_nsec) / 1000000);
}

// The slow switch: each check of a call it names waits that long, and the outcome and the count of checked
// calls are as without it.
struct SlowCase {
    const char *pszSlow;
    long nMinMs, nMaxMs; // what one GetFileAttributesA takes
};
static const SlowCase kSlow[] = {
    {"GetFileAttributesA:60", 60, 1000},
    {"*:60", 60, 1000},
    {"ReadFile:300; GetFileAttributesA : 60", 60, 250},
    {"ReadFile:300", 0, 50},
    {"GetFileAttributesA;GetFileAttributesA:x;GetFileAttributesA:300ms", 0, 50}, // not of the form: ignored
    {"", 0, 50},
};

TEST_F(FaultSwitch, SlowCallsWaitAndChangeNothingElse)
{
    for (const SlowCase &c : kSlow) {
        setenv("PLAT_FAULT_SLOW", c.pszSlow, 1);
        unsigned long long nBefore = plat::CheckedCalls();
        DWORD dwAttributes = 0;
        long nMs = ElapsedMs([&] { dwAttributes = GetFileAttributesA("C:\\"); });
        EXPECT_GE(nMs, c.nMinMs) << c.pszSlow;
        EXPECT_LE(nMs, c.nMaxMs) << c.pszSlow;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, dwAttributes) << c.pszSlow;
        EXPECT_EQ(nBefore + 1, plat::CheckedCalls()) << c.pszSlow;
    }
}

TEST_F(FaultSwitch, RefusesANameNoCallChecksAndSaysWhich)
{
    struct Case {
        const char *pszFault;
        const char *pszNamed; // the name the message must give
    };
    static const Case kCases[] = {
        {"OtherCall 5 *", "OtherCall"},
        {"MoveFile 5 C:\\t\\*", "MoveFile"},        // a near name
        {"createfilea 32 *\\a.kmc", "createfilea"}, // names are matched as spelt
        {"RegCloseKey 6 *", "RegCloseKey"},         // a real call that does not check the switch
        {"LZClose 5 *", "LZClose"},                 // checks only through its _lclose
        {"CreateFileA 5 C:\\x\\*; DeleteFile 5 *", "DeleteFile"}, // a later entry
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.pszFault);
        EXPECT_EXIT(CheckWith(c.pszFault), ::testing::ExitedWithCode(2),
                    std::string("PLAT_FAULT names \"") + c.pszNamed + "\", which is no call that checks");
    }
}

TEST_F(FaultSwitch, TakesEveryCallOfTheListAndTheStar)
{
    std::vector<std::string> aNames = {"*"};
    for (const plat::CheckedCall &c : plat::CheckedCallList())
        aNames.push_back(c.pszName);
    for (const std::string &s : aNames) {
        SCOPED_TRACE(s);
        EXPECT_EXIT(CheckWith(s + " 5 C:\\nowhere\\*"), ::testing::ExitedWithCode(0), "");
    }
    // Entries without the three parts are still passed over.
    EXPECT_EXIT(CheckWith("bogus entry; CreateFileA 5"), ::testing::ExitedWithCode(0), "");
}

TEST_F(FaultSwitch, AWrapperCheckingUnderANameNotListedStops)
{
    DWORD nError = 0;
    EXPECT_DEATH(plat::InjectedFault("CreateFile", std::string("C:\\x"), &nError),
                 "CreateFile checks the fault switch but is not in");
    EXPECT_FALSE(plat::InjectedFault("CreateFileA", std::string("C:\\x"), &nError));
}

TEST(CheckedCalls, EachCallListedOnceWithWhatItMatchesAndTheErrorsItGives)
{
    std::set<std::string> names;
    for (const plat::CheckedCall &c : plat::CheckedCallList()) {
        SCOPED_TRACE(c.pszName);
        EXPECT_TRUE(names.insert(c.pszName).second) << "listed twice";
        EXPECT_STRNE("", c.pszUnit);
        EXPECT_STRNE("", c.pszMatched);
        EXPECT_STRNE("?", plat::FailsText(c.fails));
        ASSERT_FALSE(c.aErrors.empty());
        std::set<unsigned> errors(c.aErrors.begin(), c.aErrors.end());
        EXPECT_EQ(c.aErrors.size(), errors.size()) << "an error listed twice";
        EXPECT_EQ(0u, errors.count(0)) << "0 is success";
        EXPECT_EQ(c.pszName, std::string(plat::FindCheckedCall(c.pszName)->pszName));
    }
    EXPECT_EQ(nullptr, plat::FindCheckedCall("MoveFile"));
    // The unpacking's move: the errors of a move that may not replace are among those it is failed with.
    const plat::CheckedCall *pMove = plat::FindCheckedCall("MoveFileExA");
    ASSERT_NE(nullptr, pMove);
    for (unsigned n : {183u, 80u, 32u, 5u})
        EXPECT_NE(pMove->aErrors.end(), std::find(pMove->aErrors.begin(), pMove->aErrors.end(), n)) << n;
}
