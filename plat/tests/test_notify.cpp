// test_notify.cpp - shell change notifications on Linux: each one is a line of the machine's record.

#include "shell/shell.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include <shlobj.h>

static std::string Record()
{
    plat::FlushNotifications();
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
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATH | SHCNF_FLUSH, "C:\\one", NULL);
    ASSERT_EQ(0, unlink(plat::NotifyLogPath().c_str()));
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATH, "C:\\two", NULL);
    EXPECT_EQ("DELETE\tC:\\two\n", Record());
}

// Notifications are queued and written in whole lines; however many there are, each is written once, in
// order, by the time the process ends, whether it returns from main or calls ExitProcess. A forked child
// does not write its copy of its parent's queue.
TEST(Notify, QueuedLinesAreWrittenOnceInOrderByTheEnd)
{
    for (int nEnd = 0; nEnd < 2; nEnd++) {
        unlink(plat::NotifyLogPath().c_str());
        SHChangeNotify(SHCNE_MKDIR, SHCNF_PATH, "C:\\parent", NULL); // queued, not flushed
        std::string sWant;
        pid_t pidQuiet = fork(); // a child that announces nothing of its own
        ASSERT_GE(pidQuiet, 0);
        if (pidQuiet == 0)
            exit(0);
        ASSERT_EQ(pidQuiet, waitpid(pidQuiet, nullptr, 0));
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (int i = 0; i < 3000; i++) { // well beyond one queue's worth
                std::string sPath = "C:\\Folder\\file" + std::to_string(i) + ".dat";
                SHChangeNotify(SHCNE_CREATE, SHCNF_PATH, sPath.c_str(), NULL);
            }
            if (nEnd == 0)
                exit(0);
            ExitProcess(0);
        }
        int nStatus = 0;
        ASSERT_EQ(pid, waitpid(pid, &nStatus, 0));
        for (int i = 0; i < 3000; i++)
            sWant += "CREATE\tC:\\Folder\\file" + std::to_string(i) + ".dat\n";
        sWant += "MKDIR\tC:\\parent\n";
        EXPECT_EQ(sWant, Record()) << (nEnd == 0 ? "exit" : "ExitProcess");
    }
}

// The flush alone: no event, no items.
TEST(Notify, AFlushWithoutAnEventWritesNoLine)
{
    unlink(plat::NotifyLogPath().c_str());
    SHChangeNotify(SHCNE_DELETE, SHCNF_PATH, "C:\\a", NULL);
    SHChangeNotify(0, SHCNF_FLUSH, NULL, NULL);
    std::ifstream in(plat::NotifyLogPath());
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ("DELETE\tC:\\a\n", ss.str());
}
