// test_plat_reg.cpp - the plat-reg tool: what it writes is what the registry calls read in another process,
// its output is UTF-8, bad input fails with exit code 1 and changes nothing, and export writes .reg text.

#include "advapi/advapi.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char **environ;

struct ToolRun {
    int nExit;
    std::string sOut, sErr;
};

static std::string ReadHostFile(const std::string &sPath)
{
    std::ifstream f(sPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Runs plat-reg with the arguments (UTF-8), standard input empty, and collects its output.
static ToolRun RunTool(const std::vector<std::string> &aArgs)
{
    std::string sOut = plat::MachineRoot() + "/tool.out", sErr = plat::MachineRoot() + "/tool.err";
    std::vector<std::string> aCopy = aArgs;
    std::string sTool = PLAT_REG_TOOL;
    std::vector<char *> aArgv{&sTool[0]};
    for (std::string &s : aCopy)
        aArgv.push_back(&s[0]);
    aArgv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, sOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, sErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid;
    ToolRun r{-1, "", ""};
    if (posix_spawn(&pid, sTool.c_str(), &fa, nullptr, aArgv.data(), environ) == 0) {
        int nStatus = 0;
        waitpid(pid, &nStatus, 0);
        r.nExit = WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
    }
    posix_spawn_file_actions_destroy(&fa);
    r.sOut = ReadHostFile(sOut);
    r.sErr = ReadHostFile(sErr);
    return r;
}

static bool ReadValue(const char *pszKey, const char *pszName, DWORD *pnType, std::string *psData)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, pszKey, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    char ab[256];
    DWORD cb = sizeof ab;
    bool bOk = RegQueryValueExA(h, pszName, NULL, pnType, (BYTE *)ab, &cb) == ERROR_SUCCESS;
    RegCloseKey(h);
    if (bOk)
        psData->assign(ab, cb);
    return bOk;
}

struct AddCase {
    const char *pszType, *pszData; // UTF-8
    DWORD nType;
    const char *pBytes; // what the registry holds, code page 1251
    size_t cbBytes;
};
static const AddCase kAdds[] = {
    {"REG_SZ", "C:\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0", REG_SZ, "C:\\\xcf\xf0\xee\xe1\xe0", 9},
    {"reg_expand_sz", "%TEMP%", REG_EXPAND_SZ, "%TEMP%", 7},
    {"REG_MULTI_SZ", "a\\0bc", REG_MULTI_SZ, "a\0bc\0", 6},
    {"REG_DWORD", "0x12345678", REG_DWORD, "\x78\x56\x34\x12", 4},
    {"REG_DWORD", "4294967295", REG_DWORD, "\xff\xff\xff\xff", 4},
    {"REG_QWORD", "0x1", REG_QWORD, "\1\0\0\0\0\0\0\0", 8},
    {"REG_BINARY", "00ff10", REG_BINARY, "\0\xff\x10", 3},
    {"REG_BINARY", "", REG_BINARY, "", 0},
    {"REG_NONE", "01", REG_NONE, "\1", 1},
};

TEST(PlatReg, AddedValuesAreReadByAnotherProcessWithTheirTypeAndBytes)
{
    int i = 0;
    for (const AddCase &c : kAdds) {
        std::string sName = "v" + std::to_string(i++);
        ToolRun r =
            RunTool({"add", "HKCU\\Software\\Tool\\Add", "/v", sName, "/t", c.pszType, "/d", c.pszData});
        ASSERT_EQ(0, r.nExit) << c.pszType << " " << r.sErr;
        EXPECT_EQ("The operation completed successfully.\n", r.sOut);
        DWORD nType = 99;
        std::string sData;
        ASSERT_TRUE(ReadValue("Software\\Tool\\Add", sName.c_str(), &nType, &sData)) << c.pszType;
        EXPECT_EQ(c.nType, nType) << c.pszType;
        EXPECT_EQ(std::string(c.pBytes, c.cbBytes), sData) << c.pszType;
    }
}

TEST(PlatReg, QueryPrintsNamesAndDataInUtf8)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tool\\\xcf\xf0\xee\xe1\xe0", 0,
                                             NULL, 0, KEY_ALL_ACCESS, NULL, &h, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "\xc8\xec\xff", 0, REG_SZ, (const BYTE *)"\xc4\xe0", 3));
    DWORD n = 10;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "", 0, REG_DWORD, (const BYTE *)&n, 4));
    HKEY hSub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(h, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    RegCloseKey(hSub);
    RegCloseKey(h);

    ToolRun r = RunTool({"query", "hkcu\\software\\tool\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0"});
    ASSERT_EQ(0, r.nExit) << r.sErr;
    EXPECT_EQ("\nHKEY_CURRENT_USER\\software\\tool\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0\n"
              "    \xd0\x98\xd0\xbc\xd1\x8f    REG_SZ    \xd0\x94\xd0\xb0\n" // Имя REG_SZ Да
              "    (Default)    REG_DWORD    0xa\n"
              "\n"
              "HKEY_CURRENT_USER\\software\\tool\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0\\Sub\n\n",
              r.sOut);
    r = RunTool(
        {"query", "HKEY_CURRENT_USER\\Software\\Tool\\\xd0\x9f\xd1\x80\xd0\xbe\xd0\xb1\xd0\xb0", "/ve"});
    ASSERT_EQ(0, r.nExit) << r.sErr;
    EXPECT_NE(std::string::npos, r.sOut.find("    (Default)    REG_DWORD    0xa\n"));
}

struct BadCase {
    std::vector<std::string> aArgs;
    const char *pszError;
};

TEST(PlatReg, BadInputFailsWithAMessageAndChangesNothing)
{
    ASSERT_EQ(0, RunTool({"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/d", "old"}).nExit);
    const BadCase kBad[] = {
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/d", "new"}, "exists"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/t", "REG_DWORD", "/d", "12x", "/f"},
         "Not a number"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/t", "REG_DWORD", "/d", "4294967296", "/f"},
         "Not a number"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/t", "REG_BINARY", "/d", "abc", "/f"},
         "hexadecimal"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/t", "REG_WHATEVER", "/d", "1", "/f"},
         "Invalid type"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/d", "\xe4\xb8\xad", "/f"}, "code page 1251"},
        {{"add", "HKXY\\Software\\Tool\\Bad", "/v", "kept", "/d", "x", "/f"}, "Invalid key name"},
        {{"add", "HKCU\\Software\\Tool\\Bad", "/v", "kept", "/bogus"}, "Invalid syntax"},
        {{"delete", "HKCU\\Software\\Tool\\Bad"}, "/f"},
        {{"delete", "HKCU\\Software\\Tool\\Bad", "/v", "kept"}, "/f"},
        {{"delete", "HKCU\\Software\\Tool\\Bad", "/v", "missing", "/f"}, "unable to find"},
        {{"query", "HKCU\\Software\\Tool\\Missing"}, "unable to find"},
        {{"frobnicate", "HKCU\\Software"}, "usage"},
    };
    for (const BadCase &c : kBad) {
        ToolRun r = RunTool(c.aArgs);
        EXPECT_EQ(1, r.nExit) << c.aArgs[0] << " " << c.pszError;
        EXPECT_NE(std::string::npos, r.sErr.find(c.pszError)) << r.sErr;
        DWORD nType = 0;
        std::string sData;
        ASSERT_TRUE(ReadValue("Software\\Tool\\Bad", "kept", &nType, &sData)) << c.pszError;
        EXPECT_EQ((DWORD)REG_SZ, nType);
        EXPECT_EQ(std::string("old", 4), sData);
    }
}

TEST(PlatReg, DeleteRemovesAValueOrAKeyWithAllBelowIt)
{
    ASSERT_EQ(0, RunTool({"add", "HKCU\\Software\\Tool\\Del\\A\\B", "/v", "x", "/d", "1"}).nExit);
    ASSERT_EQ(0, RunTool({"add", "HKCU\\Software\\Tool\\Del\\C"}).nExit);
    ASSERT_EQ(0, RunTool({"delete", "HKCU\\Software\\Tool\\Del\\A\\B", "/v", "X", "/f"}).nExit);
    DWORD nType;
    std::string sData;
    EXPECT_FALSE(ReadValue("Software\\Tool\\Del\\A\\B", "x", &nType, &sData));
    ASSERT_EQ(0, RunTool({"delete", "HKCU\\Software\\Tool\\Del", "/f"}).nExit);
    HKEY h;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tool\\Del", 0, KEY_READ, &h));
    EXPECT_EQ(1, RunTool({"delete", "HKCU", "/f"}).nExit);
}

static std::string FromUtf16(const std::string &sBytes)
{
    std::string sAnsi;
    for (size_t i = 0; i + 1 < sBytes.size(); i += 2) {
        char16_t w = (char16_t)((unsigned char)sBytes[i] | (unsigned char)sBytes[i + 1] << 8);
        int c = plat::UnicodeToAnsi(w);
        sAnsi += c >= 0 ? (char)c : '?';
    }
    return sAnsi;
}

TEST(PlatReg, ExportWritesRegTextInUtf16)
{
    HKEY h, hSub;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Exp", 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &h, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "Path", 0, REG_SZ, (const BYTE *)"C:\\\"\xdf\"", 7));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "", 0, REG_SZ, (const BYTE *)"d", 2));
    DWORD n = 0x1f;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "N", 0, REG_DWORD, (const BYTE *)&n, 4));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "E", 0, REG_EXPAND_SZ, (const BYTE *)"%\xdf", 3));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, "Cut", 0, REG_SZ, (const BYTE *)"ab!", 2));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(h, "Sub", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &hSub, NULL));
    std::string sLong(30, '\x11');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(hSub, "Bin", 0, REG_BINARY, (const BYTE *)sLong.data(), 30));
    RegCloseKey(hSub);
    RegCloseKey(h);

    std::string sFile = plat::MachineRoot() + "/export.reg";
    ToolRun r = RunTool({"export", "HKLM\\Software\\Exp", sFile});
    ASSERT_EQ(0, r.nExit) << r.sErr;
    std::string sBytes = ReadHostFile(sFile);
    ASSERT_GE(sBytes.size(), 2u);
    EXPECT_EQ("\xff\xfe", sBytes.substr(0, 2));
    std::string sBin =
        "\"Bin\"=hex:11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,11,\\\r\n"
        "  11,11,11,11,11,11,11\r\n";
    EXPECT_EQ("Windows Registry Editor Version 5.00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Exp]\r\n"
              "\"Path\"=\"C:\\\\\\\"\xdf\\\"\"\r\n"
              "@=\"d\"\r\n"
              "\"N\"=dword:0000001f\r\n"
              "\"E\"=hex(2):25,00,2f,04,00,00\r\n"
              "\"Cut\"=hex(1):61,00,62,00\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\Software\\Exp\\Sub]\r\n" +
                  sBin + "\r\n",
              FromUtf16(sBytes.substr(2)));
    r = RunTool({"export", "HKLM\\Software\\Exp", sFile});
    EXPECT_EQ(1, r.nExit);
    EXPECT_EQ(0, RunTool({"export", "HKLM\\Software\\Exp", sFile, "/y"}).nExit);
}

// The tool on another machine folder: PLAT_ROOT as the tool sees it (this process keeps its own machine).
static ToolRun RunToolOn(const std::string &sMachine, const std::vector<std::string> &aArgs)
{
    std::string sOwn = getenv("PLAT_ROOT");
    setenv("PLAT_ROOT", sMachine.c_str(), 1);
    ToolRun r = RunTool(aArgs);
    setenv("PLAT_ROOT", sOwn.c_str(), 1);
    return r;
}

static const char kKey[] = "HKLM\\Software\\Damage";

// A machine of its own with a few values in kKey, one of them long enough to take pages of its own.
static std::string MakeMachine(const char *pszName)
{
    std::string sMachine = plat::MachineRoot() + "/" + pszName;
    EXPECT_EQ(0, RunToolOn(sMachine, {"add", kKey, "/v", "small", "/d", "x"}).nExit);
    EXPECT_EQ(0, RunToolOn(sMachine, {"add", kKey, "/v", "big", "/t", "REG_BINARY", "/d", std::string(40000, '5')})
                     .nExit);
    EXPECT_EQ(0, RunToolOn(sMachine, {"query", kKey}).nExit);
    return sMachine;
}

static void ExpectOneMessage(const ToolRun &r, const std::string &sMessage)
{
    EXPECT_EQ(1, r.nExit);
    EXPECT_EQ("plat: " + sMessage + "\n", r.sErr);
}

TEST(PlatReg, DatabaseThatIsNoDatabaseIsSaidToBeDamaged)
{
    std::string sMachine = MakeMachine("garbage");
    std::ofstream(sMachine + "/registry.db", std::ios::binary | std::ios::trunc) << std::string(8192, 'x');
    std::string sMessage =
        "the registry of the machine folder is damaged: " + sMachine + "/registry.db (file is not a database)";
    ExpectOneMessage(RunToolOn(sMachine, {"query", kKey}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"add", kKey, "/v", "n", "/d", "y"}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"delete", kKey, "/f"}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"export", "HKLM", sMachine + "/out.reg"}), sMessage);
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/out.reg"));
}

TEST(PlatReg, QueryOverADamagedPageFails)
{
    std::string sMachine = MakeMachine("page");
    // The pages that hold the long value only: its bytes (0x55) after the link to the next page. The link
    // is made to point past the end of the file.
    std::string sDb;
    {
        std::ifstream f(sMachine + "/registry.db", std::ios::binary);
        sDb.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    const size_t nPage = 4096;
    int nDamaged = 0;
    for (size_t i = nPage; i + nPage <= sDb.size(); i += nPage) {
        if (sDb.compare(i + 4, nPage - 4, std::string(nPage - 4, '\x55')) == 0) {
            sDb.replace(i, 4, "\xff\xff\xff\x7f");
            nDamaged++;
        }
    }
    ASSERT_GT(nDamaged, 0);
    std::ofstream(sMachine + "/registry.db", std::ios::binary | std::ios::trunc) << sDb;
    std::string sMessage = "the registry of the machine folder is damaged: " + sMachine +
                           "/registry.db (database disk image is malformed)";
    ToolRun r = RunToolOn(sMachine, {"query", kKey});
    ExpectOneMessage(r, sMessage);
    EXPECT_EQ(0u, r.sOut.find("\nHKEY_LOCAL_MACHINE\\Software\\Damage\n")) << r.sOut; // what could be read
    ExpectOneMessage(RunToolOn(sMachine, {"query", kKey, "/v", "big"}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"export", kKey, sMachine + "/out.reg"}), sMessage);
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/out.reg"));
}

TEST(PlatReg, EmptyDatabaseIsSaidToBeDamaged)
{
    std::string sMachine = MakeMachine("empty");
    std::filesystem::resize_file(sMachine + "/registry.db", 0);
    ExpectOneMessage(RunToolOn(sMachine, {"query", kKey}),
                     "the registry of the machine folder is damaged: " + sMachine + "/registry.db (the file is empty)");
    EXPECT_EQ(0u, std::filesystem::file_size(sMachine + "/registry.db"));
}

TEST(PlatReg, MissingDatabaseIsSaidToBeMissing)
{
    std::string sMachine = MakeMachine("missing");
    std::filesystem::remove(sMachine + "/registry.db");
    ExpectOneMessage(RunToolOn(sMachine, {"add", kKey, "/v", "n", "/d", "y"}),
                     "the registry of the machine folder is missing: " + sMachine +
                         "/registry.db (drive_c is there: the folder is no new machine)");
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/registry.db"));
}

TEST(PlatReg, MissingDriveCIsSaidAndNothingIsChanged)
{
    std::string sMachine = MakeMachine("nodrive");
    std::filesystem::remove_all(sMachine + "/drive_c");
    std::string sMessage = "drive C: of the machine folder is missing: " + sMachine +
                           "/drive_c (the registry is there: the folder is no new machine)";
    ExpectOneMessage(RunToolOn(sMachine, {"add", kKey, "/v", "n", "/d", "y"}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"delete", kKey, "/v", "small", "/f"}), sMessage);
    ToolRun r = RunToolOn(sMachine, {"query", kKey});
    ExpectOneMessage(r, sMessage);
    EXPECT_NE(std::string::npos, r.sOut.find("    small    REG_SZ    x\n")) << r.sOut; // still readable
    EXPECT_EQ(std::string::npos, r.sOut.find("    n    ")) << r.sOut;
    EXPECT_FALSE(std::filesystem::exists(sMachine + "/drive_c"));
}

// A registry the host cannot open (here a folder in its place) and a machine path that is a file: each is
// said once, with the host's reason, and nothing follows it.
TEST(PlatReg, MachineTheHostCannotOpenIsSaidOnceWithItsReason)
{
    std::string sMachine = MakeMachine("folder");
    std::filesystem::remove(sMachine + "/registry.db");
    std::filesystem::create_directory(sMachine + "/registry.db");
    std::string sMessage = "the registry of the machine folder cannot be opened: " + sMachine +
                           "/registry.db (unable to open database file: Is a directory)";
    ExpectOneMessage(RunToolOn(sMachine, {"query", kKey}), sMessage);
    ExpectOneMessage(RunToolOn(sMachine, {"add", kKey, "/v", "n", "/d", "y"}), sMessage);
    EXPECT_TRUE(std::filesystem::is_directory(sMachine + "/registry.db"));

    std::string sFile = plat::MachineRoot() + "/afile";
    std::ofstream(sFile) << "x";
    ExpectOneMessage(RunToolOn(sFile, {"query", kKey}),
                     "cannot make the machine folder " + sFile + " (PLAT_ROOT): Not a directory");
}
