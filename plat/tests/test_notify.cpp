// test_notify.cpp - shell change notifications on Linux: each one is a line of the machine's record.

#include "platint.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <shlobj.h>

static std::string Record()
{
    std::ifstream in(plat::NotifyLogPath());
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(Notify, EachNotificationIsALineOfTheRecord)
{
    unlink(plat::NotifyLogPath().c_str());
    SHChangeNotify(SHCNE_CREATE, SHCNF_PATH, "C:\\Program Files\\\xcf\xe0\xef\xea\xe0\\a.txt", NULL); // Папка
    SHChangeNotify(SHCNE_RMDIR, SHCNF_PATH | SHCNF_FLUSH, "C:\\x", NULL);
    SHChangeNotify(SHCNE_RENAMEITEM, SHCNF_PATHW, u"C:\\old", u"C:\\new");
    DWORD n = 7;
    SHChangeNotify(0x40000, SHCNF_DWORD, &n, NULL);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
    EXPECT_EQ("CREATE\tC:\\Program Files\\\xd0\x9f\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0\\a.txt\n"
              "RMDIR\tC:\\x\n"
              "RENAMEITEM\tC:\\old\tC:\\new\n"
              "0x00040000\t0x00000007\n"
              "ASSOCCHANGED\n",
              Record());
}

// The record may be removed between notifications (a person clearing it): the next one makes it again.
TEST(Notify, ARemovedRecordIsMadeAgain)
{
    unlink(plat::NotifyLogPath().c_str());
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATH, "C:\\one", NULL);
    ASSERT_EQ(0, unlink(plat::NotifyLogPath().c_str()));
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATH, "C:\\two", NULL);
    EXPECT_EQ("DELETE\tC:\\two\n", Record());
}
