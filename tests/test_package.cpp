// test_package.cpp - the package streams: the byte layout of entries, round trips of bytes, attributes and
// times, damaged and compressed packages, and the stream table's rules.

#include "package.h"

#include "testkit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------------------
// Helpers over the platform's file calls, so the same tests run on both targets (and those of testkit.h).

static std::string sWorkRoot; // a fresh folder of this process, with a trailing backslash

static std::string WorkDir(const char *pszName)
{
    std::string sDir = sWorkRoot + pszName;
    CreateDirectoryA(sDir.c_str(), NULL);
    return sDir + "\\";
}

// A folder of the current test's own.
static std::string TestDir()
{
    return WorkDir(TestName().c_str());
}

// A path of exactly nLength characters below the work root: nested folders (made here), then a name of f's.
static std::string DeepPath(const std::string &sBase, size_t nLength)
{
    std::string sPath = sBase.substr(0, sBase.size() - 1);
    while (sPath.size() + 11 + 5 < nLength) {
        sPath += "\\dddddddddd";
        CreateDirectoryA(sPath.c_str(), NULL);
    }
    sPath += "\\";
    while (sPath.size() < nLength)
        sPath += "f";
    return sPath;
}

static FILETIME Ft(uint64_t n)
{
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)n;
    ft.dwHighDateTime = (DWORD)(n >> 32);
    return ft;
}

static uint64_t U64(const FILETIME &ft)
{
    return (uint64_t)ft.dwHighDateTime << 32 | ft.dwLowDateTime;
}

struct Times {
    uint64_t nCreation, nAccess, nWrite;
};

static bool SetTimes(const std::string &sPath, const Times &t)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    FILETIME c = Ft(t.nCreation), a = Ft(t.nAccess), w = Ft(t.nWrite);
    BOOL bOk = SetFileTime(h, &c, &a, &w);
    CloseHandle(h);
    return bOk != 0;
}

static Times GetTimes(const std::string &sPath)
{
    Times t = {0, 0, 0};
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return t;
    FILETIME c, a, w;
    if (GetFileTime(h, &c, &a, &w))
        t = Times{U64(c), U64(a), U64(w)};
    CloseHandle(h);
    return t;
}

// 100-nanosecond intervals since 1601 of a few dates, each with a fraction of a second.
static const uint64_t kFt2001 = 126227808001234567ULL;
static const uint64_t kFt2002 = 126543168007654321ULL;
static const uint64_t kFt2003 = 126858528000000001ULL;

// Whether the platform keeps a creation time that is set (Wine does not: it reads back as the write time).
static bool PlatformKeepsCreationTime()
{
    std::string sPath = WorkDir("probe") + "creation";
    if (!WriteBytes(sPath, "x") || !SetTimes(sPath, Times{kFt2001, kFt2002, kFt2003}))
        return false;
    return GetTimes(sPath).nCreation == kFt2001;
}

// Whether this process is refused replacing a read-only file, as on Windows. Under Wine a process that runs
// as root is not; the unprivileged run of this program covers that case.
static bool PlatformRefusesReadOnly()
{
    std::string sPath = WorkDir("probe") + "readonly";
    Remove(sPath);
    WriteBytes(sPath, "x", FILE_ATTRIBUTE_READONLY);
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    CloseHandle(h);
    return false;
}

// The attribute bits the platform gives a new file created with the bits given. Under Wine a process that is
// not root cannot give hidden or system to a file it creates read-only.
static DWORD AttributesOfNewFile(DWORD dwAttributes)
{
    std::string sPath = WorkDir("probe") + "attributes";
    Remove(sPath);
    if (!WriteBytes(sPath, "x", dwAttributes))
        return INVALID_FILE_ATTRIBUTES;
    DWORD dwResult = GetFileAttributesA(sPath.c_str()) & PKG_ATTRIBUTES;
    Remove(sPath);
    return dwResult;
}

// Whether replacing a file gives it the attributes of the create call, as on Windows. Wine keeps the old
// ones.
static bool PlatformAppliesAttributesOnReplace()
{
    std::string sPath = WorkDir("probe") + "replace";
    Remove(sPath);
    WriteBytes(sPath, "x");
    WriteBytes(sPath, "y", FILE_ATTRIBUTE_HIDDEN);
    bool bApplied = (GetFileAttributesA(sPath.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    Remove(sPath);
    return bApplied;
}

// A 32-byte entry header as the package holds it.
static std::string Header(DWORD dwAttributes, uint64_t c, uint64_t a, uint64_t w, DWORD dwSize)
{
    unsigned char b[32];
    for (int i = 0; i < 4; i++) {
        b[i] = (unsigned char)(dwAttributes >> (8 * i));
        b[28 + i] = (unsigned char)(dwSize >> (8 * i));
    }
    for (int i = 0; i < 8; i++) {
        b[4 + i] = (unsigned char)(c >> (8 * i));
        b[12 + i] = (unsigned char)(a >> (8 * i));
        b[20 + i] = (unsigned char)(w >> (8 * i));
    }
    return std::string((const char *)b, 32);
}

static std::string Pattern(size_t n, unsigned nSeed)
{
    std::string s(n, '\0');
    uint32_t x = nSeed * 2654435761u + 1;
    for (size_t i = 0; i < n; i++) {
        x = x * 1664525u + 1013904223u;
        s[i] = (char)(x >> 24);
    }
    return s;
}

// Unpacks the next entry of a package that holds exactly the given bytes (by PkgUnpackFile unless told).
static int UnpackFromBytes(const std::string &sPackage, const std::string &sOut,
                           int (*pfnUnpack)(int, const char *) = PkgUnpackFile)
{
    std::string sPkg = TestDir() + "raw.pkg";
    if (!WriteBytes(sPkg, sPackage))
        return -1;
    int h = PkgOpen(sPkg.c_str(), 0);
    if (h == 0)
        return -2;
    int nStatus = pfnUnpack(h, sOut.c_str());
    PkgClose(h);
    return nStatus;
}

// ---------------------------------------------------------------------------------------------------------
// The byte layout

TEST(PackageFormat, ReadOnlyFiveByteFilePacksToThirtySevenBytes)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "a.txt", "hello"));
    ASSERT_TRUE(SetTimes(sDir + "a.txt", Times{kFt2001, kFt2002, kFt2003}));
    ASSERT_TRUE(SetFileAttributesA((sDir + "a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(WriteBytes(sDir + "b.txt", "xy"));
    Times tA = GetTimes(sDir + "a.txt");
    Times tB = GetTimes(sDir + "b.txt");

    int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_NE(0, h);
    EXPECT_EQ(PKG_OK, PkgPackFile(h, (sDir + "a.txt").c_str()));
    EXPECT_EQ(PKG_OK, PkgPackFile(h, (sDir + "b.txt").c_str()));
    EXPECT_EQ(1, PkgClose(h));

    std::string sPkg = ReadBytes(sDir + "out.pkg");
    ASSERT_EQ(37u + 34u, sPkg.size());
    EXPECT_EQ(Header(1, tA.nCreation, tA.nAccess, tA.nWrite, 5) + "hello", sPkg.substr(0, 37));
    EXPECT_EQ(std::string("\x01\x00\x00\x00", 4), sPkg.substr(0, 4));
    EXPECT_EQ(std::string("\x05\x00\x00\x00", 4), sPkg.substr(28, 4));
    EXPECT_EQ(Header(0, tB.nCreation, tB.nAccess, tB.nWrite, 2) + "xy", sPkg.substr(37));
    Remove(sDir + "a.txt");
}

TEST(PackageFormat, AttributesOtherThanReadOnlyHiddenSystemAreNotPacked)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "a.txt", "abc"));
    ASSERT_TRUE(SetFileAttributesA((sDir + "a.txt").c_str(),
                                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_EQ(PKG_OK, PkgPackFile(h, (sDir + "a.txt").c_str()));
    PkgClose(h);
    EXPECT_EQ(std::string("\x06\x00\x00\x00", 4), ReadBytes(sDir + "out.pkg").substr(0, 4));
}

TEST(PackageFormat, EmptyFilePacksToABareHeader)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "empty", ""));
    int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_EQ(PKG_OK, PkgPackFile(h, (sDir + "empty").c_str()));
    PkgClose(h);
    std::string sPkg = ReadBytes(sDir + "out.pkg");
    ASSERT_EQ(32u, sPkg.size());
    EXPECT_EQ(std::string(4, '\0'), sPkg.substr(28, 4));
}

// ---------------------------------------------------------------------------------------------------------
// Round trips

struct RoundTripCase {
    const char *pszName;
    size_t nSize;
    DWORD dwAttributes;
};
static const RoundTripCase kRoundTrips[] = {
    {"empty", 0, 0},
    {"one", 1, FILE_ATTRIBUTE_HIDDEN},
    {"block-less-one", 65535, 0},
    {"block", 65536, FILE_ATTRIBUTE_READONLY},
    {"block-and-one", 65537, FILE_ATTRIBUTE_SYSTEM},
    {"all-bits", 200000, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    {"empty-read-only", 0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
};

TEST(PackageRoundTrip, BytesAttributesAndTimesComeBack)
{
    std::string sSrc = WorkDir("rt-src");
    std::string sDst = WorkDir("rt-dst");
    bool bCreation = PlatformKeepsCreationTime();
    if (!bCreation)
        printf("note: the platform does not keep a creation time that is set (Wine): not compared\n");
    unsigned nSeed = 1;

    int h = PkgOpen((sSrc + "all.pkg").c_str(), 1);
    ASSERT_NE(0, h);
    for (const RoundTripCase &c : kRoundTrips) {
        std::string sPath = sSrc + c.pszName;
        ASSERT_TRUE(WriteBytes(sPath, Pattern(c.nSize, nSeed++))) << c.pszName;
        ASSERT_TRUE(SetTimes(sPath, Times{kFt2001, kFt2002, kFt2003})) << c.pszName;
        ASSERT_TRUE(SetFileAttributesA(sPath.c_str(), c.dwAttributes | FILE_ATTRIBUTE_ARCHIVE)) << c.pszName;
        EXPECT_EQ(PKG_OK, PkgPackFile(h, sPath.c_str())) << c.pszName;
    }
    EXPECT_EQ(1, PkgClose(h));

    h = PkgOpen((sSrc + "all.pkg").c_str(), 0);
    ASSERT_NE(0, h);
    nSeed = 1;
    for (const RoundTripCase &c : kRoundTrips) {
        std::string sPath = sDst + c.pszName;
        ASSERT_EQ(PKG_OK, PkgUnpackFile(h, sPath.c_str())) << c.pszName;
        // Times first: reading the file back may touch its access time.
        Times t = GetTimes(sPath);
        EXPECT_EQ(kFt2002, t.nAccess) << c.pszName;
        EXPECT_EQ(kFt2003, t.nWrite) << c.pszName;
        if (bCreation) {
            EXPECT_EQ(kFt2001, t.nCreation) << c.pszName;
        }
        DWORD dwAttributes = GetFileAttributesA(sPath.c_str());
        EXPECT_EQ(c.dwAttributes, dwAttributes & (PKG_ATTRIBUTES | FILE_ATTRIBUTE_DIRECTORY)) << c.pszName;
        EXPECT_TRUE(ReadBytes(sPath) == Pattern(c.nSize, nSeed++)) << c.pszName;
    }
    // The package holds no more entries: the next unpack finds no header and creates nothing.
    EXPECT_EQ(PKG_ERR_READ, PkgUnpackFile(h, (sDst + "extra").c_str()));
    EXPECT_FALSE(Exists(sDst + "extra"));
    EXPECT_EQ(1, PkgClose(h));
}

TEST(PackageRoundTrip, RawWritesAndReadsMoveTheBytesAsGiven)
{
    std::string sDir = TestDir();
    int h = PkgOpen((sDir + "raw.pkg").c_str(), 1);
    ASSERT_NE(0, h);
    EXPECT_EQ(5, PkgWrite(h, "hello", 5));
    EXPECT_EQ(0, PkgWrite(h, "", 0));
    EXPECT_EQ(1, PkgClose(h));
    h = PkgOpen((sDir + "raw.pkg").c_str(), 0);
    ASSERT_NE(0, h);
    char a[16];
    EXPECT_EQ(3, PkgRead(h, a, 3));
    EXPECT_EQ(0, memcmp(a, "hel", 3));
    EXPECT_EQ(2, PkgRead(h, a, sizeof a));
    EXPECT_EQ(0, PkgRead(h, a, sizeof a));
    EXPECT_EQ(1, PkgClose(h));
}

// ---------------------------------------------------------------------------------------------------------
// Sources that cannot be packed

TEST(PackageSources, MissingFileOrFolderGivesOpenErrorAndWritesNothing)
{
    std::string sDir = TestDir();
    int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_NE(0, h);
    EXPECT_EQ(PKG_ERR_OPEN, PkgPackFile(h, (sDir + "missing").c_str()));
    EXPECT_EQ(PKG_ERR_OPEN, PkgPackFile(h, sWorkRoot.substr(0, sWorkRoot.size() - 1).c_str()));
    PkgClose(h);
    EXPECT_EQ("", ReadBytes(sDir + "out.pkg"));
}

static bool MakeSparse(const std::string &sPath, LONG nHigh, LONG nLow)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool bOk = SetFilePointer(h, nLow, &nHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER && SetEndOfFile(h);
    CloseHandle(h);
    return bOk;
}

TEST(PackageSources, FileOfTwoGibibytesOrMoreGivesReadErrorAndWritesNothing)
{
    std::string sDir = TestDir();
    struct {
        LONG nHigh, nLow;
    } aSizes[] = {{0, (LONG)0x80000000UL}, {1, 5}};
    for (const auto &s : aSizes) {
        std::string sBig = sDir + "big";
        ASSERT_TRUE(MakeSparse(sBig, s.nHigh, s.nLow));
        int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
        EXPECT_EQ(PKG_ERR_READ, PkgPackFile(h, sBig.c_str())) << s.nHigh << ":" << s.nLow;
        PkgClose(h);
        EXPECT_EQ("", ReadBytes(sDir + "out.pkg"));
        Remove(sBig);
    }
}

TEST(PackageSources, DeviceIsNotADiskFile)
{
#ifdef _WIN32
    const char *pszDevice = "NUL";
#else
    const char *pszDevice = "Z:\\dev\\null";
#endif
    HANDLE h = CreateFileA(pszDevice, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD dwType = GetFileType(h);
    CloseHandle(h);
    if (dwType == FILE_TYPE_DISK)
        GTEST_SKIP() << "the platform reports " << pszDevice << " as a disk file";
    std::string sDir = TestDir();
    int hPkg = PkgOpen((sDir + "out.pkg").c_str(), 1);
    EXPECT_EQ(PKG_ERR_READ, PkgPackFile(hPkg, pszDevice));
    PkgClose(hPkg);
    EXPECT_EQ("", ReadBytes(sDir + "out.pkg"));
}

// A source that gives more bytes than the size it reported is not read on once it has: the package gets
// the header and at most one buffer, and packing ends with a read error. The source is a disk file of the
// host's kernel that reports size 0 and gives megabytes: Z:\proc\kallsyms, on Linux both in plat/ and
// under Wine (drive Z: is the host's root). Where there is no such file (Windows itself) the test skips.
TEST(PackageSources, SourceGivingMoreThanItsSizeIsNotReadOn)
{
    const char *pszSource = "Z:\\proc\\kallsyms";
    HANDLE h = CreateFileA(pszSource, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        GTEST_SKIP() << "no " << pszSource << " here";
    DWORD dwType = GetFileType(h);
    DWORD dwHigh = 0;
    DWORD dwSize = GetFileSize(h, &dwHigh);
    std::string sGiven; // what it gives, up to three buffers
    std::vector<char> aBuffer(PKG_BUFFER_SIZE);
    DWORD n;
    while (sGiven.size() < 3u * PKG_BUFFER_SIZE && ReadFile(h, aBuffer.data(), PKG_BUFFER_SIZE, &n, NULL) &&
           n > 0)
        sGiven.append(aBuffer.data(), n);
    CloseHandle(h);
    if (dwType != FILE_TYPE_DISK || dwSize != 0 || dwHigh != 0 || sGiven.size() < 3u * PKG_BUFFER_SIZE)
        GTEST_SKIP() << pszSource << ": type " << dwType << ", size " << dwSize << ", gives " << sGiven.size()
                     << " bytes or more: not a disk file that gives more than its size";

    std::string sDir = TestDir();
    int hPkg = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_NE(0, hPkg);
    EXPECT_EQ(PKG_ERR_READ, PkgPackFile(hPkg, pszSource));
    PkgClose(hPkg);
    std::string sPkg = ReadBytes(sDir + "out.pkg");
    // The header says 0 bytes; the first read already gave more and was the last.
    ASSERT_GT(sPkg.size(), 32u);
    EXPECT_EQ(std::string(4, '\0'), sPkg.substr(28, 4));
    EXPECT_LE(sPkg.size(), 32u + PKG_BUFFER_SIZE);
}

#ifndef _WIN32
// Failures of the platform's calls, made with the Linux platform's fault switch: an output that could not
// be finished is not left behind, read-only or not, and a file that refuses to be replaced keeps its
// contents and bits.
struct FaultCase {
    const char *pszFault;
    DWORD dwEntry;    // the entry's attributes
    DWORD dwExisting; // attributes of a file already there, or INVALID_FILE_ATTRIBUTES for none
    int nStatus;
};
static const FaultCase kFaults[] = {
    {"WriteFile 112 *\\out*", 0, INVALID_FILE_ATTRIBUTES, PKG_ERR_WRITE},
    {"WriteFile 112 *\\out*", FILE_ATTRIBUTE_READONLY, INVALID_FILE_ATTRIBUTES, PKG_ERR_WRITE},
    {"WriteFile 112 *\\out*", 0, FILE_ATTRIBUTE_READONLY, PKG_ERR_WRITE},
    {"SetFileTime 5 *\\out*", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, INVALID_FILE_ATTRIBUTES,
     PKG_ERR_WRITE},
    {"CloseHandle 112 *\\out*", 0, 0, PKG_ERR_WRITE},
    {"CreateFileA 5 *\\out*", 0, FILE_ATTRIBUTE_HIDDEN, PKG_ERR_CREATE},
    {"CreateFileA 5 *\\out*", 0, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM, PKG_ERR_CREATE},
    {"MoveFileExA 5 *\\out*", 0, INVALID_FILE_ATTRIBUTES, PKG_ERR_CREATE},
    {"MoveFileExA 32 *\\out*", FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
     PKG_ERR_CREATE},
    {"MoveFileExA 5 *\\out.~po", 0, FILE_ATTRIBUTE_READONLY, PKG_ERR_CREATE}, // cannot be moved aside
    // Moved aside, but the new file cannot take its place: the old one is moved back.
    {"MoveFileExA 5 *\\out.~pk", 0, FILE_ATTRIBUTE_READONLY, PKG_ERR_CREATE},
    {"MoveFileExA 5 *\\out.~pk", FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM,
     PKG_ERR_CREATE},
};

TEST(PackageFaults, AFailedUnpackLosesNothingAndLeavesNothing)
{
    std::string sDir = TestDir(), sOut = sDir + "out";
    for (const FaultCase &c : kFaults) {
        SCOPED_TRACE(c.pszFault);
        if (c.dwExisting != INVALID_FILE_ATTRIBUTES) {
            ASSERT_TRUE(WriteBytes(sOut, "old contents", c.dwExisting));
        }
        std::string sPkg = Header(c.dwEntry, kFt2001, kFt2002, kFt2003, 5) + "hello";
        setenv("PLAT_FAULT", c.pszFault, 1);
        EXPECT_EQ(c.nStatus, UnpackFromBytes(sPkg, sOut));
        unsetenv("PLAT_FAULT");
        if (c.dwExisting == INVALID_FILE_ATTRIBUTES) {
            EXPECT_FALSE(Exists(sOut));
        } else {
            EXPECT_EQ("old contents", ReadBytes(sOut));
            EXPECT_EQ(c.dwExisting, GetFileAttributesA(sOut.c_str()) & PKG_ATTRIBUTES);
        }
        EXPECT_FALSE(Exists(sOut + ".~pk")); // nor the unfinished output under its temporary name
        EXPECT_FALSE(Exists(sOut + ".~po"));
        Remove(sOut);
    }
}

// A path with no room for the temporary name is written in place. A read-only file there that still cannot
// be replaced once its bits are cleared gets them back, and keeps its bytes.
TEST(PackageFaults, AFileWrittenInPlaceThatCannotBeReplacedKeepsItsBits)
{
    const DWORD dwBits = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
    std::string sOut = DeepPath(TestDir(), 257);
    ASSERT_EQ(257u, sOut.size());
    ASSERT_TRUE(WriteBytes(sOut, "old contents", dwBits));
    setenv("PLAT_FAULT", ("CreateFileA 5 *\\" + sOut.substr(sOut.rfind('\\') + 1)).c_str(), 1);
    EXPECT_EQ(PKG_ERR_CREATE, UnpackFromBytes(Header(0, kFt2001, kFt2002, kFt2003, 5) + "hello", sOut));
    unsetenv("PLAT_FAULT");
    EXPECT_EQ("old contents", ReadBytes(sOut));
    EXPECT_EQ(dwBits, GetFileAttributesA(sOut.c_str()) & PKG_ATTRIBUTES);
    Remove(sOut);
}

TEST(PackageFaults, ASourceThatFailsToReadGivesReadError)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "src", "source bytes"));
    int h = PkgOpen((sDir + "out.pkg").c_str(), 1);
    ASSERT_NE(0, h);
    setenv("PLAT_FAULT", "ReadFile 23 *\\src", 1);
    EXPECT_EQ(PKG_ERR_READ, PkgPackFile(h, (sDir + "src").c_str()));
    unsetenv("PLAT_FAULT");
    PkgClose(h);
}
#endif

// ---------------------------------------------------------------------------------------------------------
// Damaged packages

TEST(PackageDamaged, PackageEndingInsideAHeaderCreatesNothing)
{
    std::string sDir = TestDir();
    std::string sHeader = Header(0, kFt2001, kFt2002, kFt2003, 3);
    for (size_t n : {(size_t)0, (size_t)1, (size_t)31}) {
        EXPECT_EQ(PKG_ERR_READ, UnpackFromBytes(sHeader.substr(0, n), sDir + "out")) << n;
        EXPECT_FALSE(Exists(sDir + "out")) << n;
    }
    // An existing file of that name is not touched.
    ASSERT_TRUE(WriteBytes(sDir + "keep", "kept"));
    EXPECT_EQ(PKG_ERR_READ, UnpackFromBytes(sHeader.substr(0, 20), sDir + "keep"));
    EXPECT_EQ("kept", ReadBytes(sDir + "keep"));
}

struct TruncatedCase {
    DWORD dwAttributes;
    DWORD dwSize;
    size_t nData; // bytes of data actually present
};
static const TruncatedCase kTruncated[] = {
    {0, 3, 2},
    {0, 100000, 0},
    {0, 100000, 65536},
    {0, 100000, 99999},
    {FILE_ATTRIBUTE_READONLY, 10, 9},
    {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 70000, 69999},
    {FILE_ATTRIBUTE_READONLY, 0x7FFFFFFF, 1000},
};

// A read-only output has its read-only bit cleared before the deletion, which would fail otherwise.
TEST(PackageDamaged, PackageEndingInsideTheDataLeavesNoOutputBehind)
{
    std::string sDir = TestDir();
    for (const TruncatedCase &c : kTruncated) {
        std::string sPkg = Header(c.dwAttributes, kFt2001, kFt2002, kFt2003, c.dwSize) + Pattern(c.nData, 7);
        EXPECT_EQ(PKG_ERR_READ, UnpackFromBytes(sPkg, sDir + "out")) << c.dwAttributes << " " << c.nData;
        EXPECT_FALSE(Exists(sDir + "out")) << c.dwAttributes << " " << c.nData;
        Remove(sDir + "out");
    }
}

// Bits beyond read-only, hidden and system would reach the platform's create call as flags: delete on
// close made a file that vanished while success was reported; overlapped made every write fail.
struct FlagCase {
    DWORD dwAttributes;
    DWORD dwExpected;
};
static const FlagCase kFlags[] = {
    {FILE_FLAG_DELETE_ON_CLOSE, 0},
    {FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
    {FILE_FLAG_OVERLAPPED, 0},
    {FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH | FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_HIDDEN},
    {FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_ARCHIVE, 0},
    {0xFFFFFFFFUL, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
};

TEST(PackageDamaged, HeaderFlagsBeyondTheAttributeBitsAreIgnored)
{
    std::string sDir = TestDir();
    for (const FlagCase &c : kFlags) {
        std::string sOut = sDir + "out";
        std::string sPkg = Header(c.dwAttributes, kFt2001, kFt2002, kFt2003, 5) + "hello";
        EXPECT_EQ(PKG_OK, UnpackFromBytes(sPkg, sOut)) << std::hex << c.dwAttributes;
        DWORD dwAttributes = GetFileAttributesA(sOut.c_str());
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, dwAttributes) << std::hex << c.dwAttributes;
        EXPECT_EQ(AttributesOfNewFile(c.dwExpected),
                  dwAttributes & (PKG_ATTRIBUTES | FILE_ATTRIBUTE_TEMPORARY))
            << std::hex << c.dwAttributes;
        EXPECT_EQ("hello", ReadBytes(sOut)) << std::hex << c.dwAttributes;
        Remove(sOut);
    }
}

// A reinstallation unpacks over the files of the earlier one, which may carry read-only, hidden or system.
struct ReplaceCase {
    DWORD dwOld;
    DWORD dwNew;
};
static const ReplaceCase kReplace[] = {
    {FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
    {FILE_ATTRIBUTE_READONLY, 0},
    {FILE_ATTRIBUTE_HIDDEN, 0},
    {FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN},
    {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_SYSTEM},
};

TEST(PackageReadOnly, ExistingFilesWithAttributeBitsAreReplaced)
{
    if (getenv("KAL_EXPECT_READONLY") != NULL)
        ASSERT_TRUE(PlatformRefusesReadOnly()) << "this run was meant to hold the read-only rules";
    else if (!PlatformRefusesReadOnly())
        printf("note: this process may replace read-only files (root under Wine); the unprivileged run "
               "covers the refusal\n");
    bool bApplied = PlatformAppliesAttributesOnReplace();
    if (!bApplied)
        printf(
            "note: the platform keeps a replaced file's attributes (Wine): only the contents are checked\n");
    std::string sDir = TestDir();
    for (const ReplaceCase &c : kReplace) {
        std::string sOut = sDir + "out";
        ASSERT_TRUE(WriteBytes(sOut, "old contents"));
        ASSERT_TRUE(SetFileAttributesA(sOut.c_str(), c.dwOld));
        std::string sPkg = Header(c.dwNew, kFt2001, kFt2002, kFt2003, 3) + "new";
        EXPECT_EQ(PKG_OK, UnpackFromBytes(sPkg, sOut)) << c.dwOld << " " << c.dwNew;
        if (bApplied) {
            EXPECT_EQ(c.dwNew, GetFileAttributesA(sOut.c_str()) & PKG_ATTRIBUTES)
                << c.dwOld << " " << c.dwNew;
        }
        EXPECT_EQ("new", ReadBytes(sOut)) << c.dwOld << " " << c.dwNew;
        EXPECT_FALSE(Exists(sOut + ".~pk") || Exists(sOut + ".~po")) << c.dwOld << " " << c.dwNew;
        Remove(sOut);
    }
}

TEST(PackageReadOnly, ReadOnlyEntryIsCreatedReadOnlyAndStillWritten)
{
    std::string sDir = TestDir();
    std::string sPkg = Header(FILE_ATTRIBUTE_READONLY, kFt2001, kFt2002, kFt2003, 70000) + Pattern(70000, 3);
    ASSERT_EQ(PKG_OK, UnpackFromBytes(sPkg, sDir + "out"));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, GetFileAttributesA((sDir + "out").c_str()) & PKG_ATTRIBUTES);
    EXPECT_TRUE(ReadBytes(sDir + "out") == Pattern(70000, 3));
    if (PlatformRefusesReadOnly()) {
        HANDLE h = CreateFileA((sDir + "out").c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        EXPECT_EQ(INVALID_HANDLE_VALUE, h);
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    Remove(sDir + "out");
}

TEST(PackageReadOnly, FolderInThePlaceOfTheOutputIsNotReplaced)
{
    std::string sFolder = TestDir() + "folder";
    ASSERT_TRUE(CreateDirectoryA(sFolder.c_str(), NULL));
    std::string sPkg = Header(FILE_ATTRIBUTE_READONLY, kFt2001, kFt2002, kFt2003, 3) + "new";
    EXPECT_EQ(PKG_ERR_CREATE, UnpackFromBytes(sPkg, sFolder));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY,
              GetFileAttributesA(sFolder.c_str()) & (FILE_ATTRIBUTE_DIRECTORY | PKG_ATTRIBUTES));
}

// ---------------------------------------------------------------------------------------------------------
// Compressed packages

TEST(PackageCompressed, PackageCompressedByTheReferenceToolReadsByteIdentical)
{
    std::string sPlain = ReadBytes(DataPath("szdd/sample.pkg"));
    ASSERT_EQ(99046u, sPlain.size());
    int h = PkgOpen(DataPath("szdd/sample.pk_").c_str(), 0);
    ASSERT_NE(0, h);
    std::string sRead;
    char a[7000]; // not a divisor of anything in the file
    int n;
    while ((n = PkgRead(h, a, sizeof a)) > 0)
        sRead.append(a, n);
    EXPECT_EQ(0, n);
    EXPECT_EQ(1, PkgClose(h));
    EXPECT_TRUE(sRead == sPlain);
}

TEST(PackageCompressed, EntriesUnpackFromCompressedAndPlainAlike)
{
    std::string sDir = TestDir();
    struct {
        const char *pszPackage, *pszPrefix;
    } aPackages[] = {{"szdd/sample.pk_", "c"}, {"szdd/sample.pkg", "p"}};
    for (const auto &p : aPackages) {
        int h = PkgOpen(DataPath(p.pszPackage).c_str(), 0);
        ASSERT_NE(0, h) << p.pszPackage;
        for (int i = 0; i < 5; i++)
            ASSERT_EQ(PKG_OK, PkgUnpackFile(h, (sDir + p.pszPrefix + std::to_string(i)).c_str())) << i;
        PkgClose(h);
    }
    for (int i = 0; i < 5; i++) {
        std::string sC = sDir + "c" + std::to_string(i);
        std::string sP = sDir + "p" + std::to_string(i);
        EXPECT_EQ(GetTimes(sP).nWrite, GetTimes(sC).nWrite) << i;
        EXPECT_EQ(GetFileAttributesA(sP.c_str()), GetFileAttributesA(sC.c_str())) << i;
        EXPECT_TRUE(ReadBytes(sP) == ReadBytes(sC)) << i;
    }
    EXPECT_EQ(std::string(70000, '\0'), ReadBytes(sDir + "c1"));
    EXPECT_EQ("hello", ReadBytes(sDir + "c2"));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, GetFileAttributesA((sDir + "c2").c_str()) & PKG_ATTRIBUTES);
    EXPECT_EQ("", ReadBytes(sDir + "c3"));
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_HIDDEN, GetFileAttributesA((sDir + "c3").c_str()) & PKG_ATTRIBUTES);
    Remove(sDir + "c2");
    Remove(sDir + "p2");
}

// The size the progress counts against: the expanded size of a compressed package, else the file's.
TEST(PackageCompressed, ExpandedSizeIsTheHeadersOrTheFiles)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "short.pk_", std::string("SZDD\x88\xF0\x27\x33", 8)));
    struct {
        std::string sPath;
        DWORD dwSize;
    } aCases[] = {
        {DataPath("szdd/sample.pk_"), 99046},
        {DataPath("szdd/sample.pkg"), 99046},
        {sDir + "short.pk_", 8}, // too short for a header: the file's size
        {sDir + "missing.pk_", 0},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(c.dwSize, PkgExpandedSize(c.sPath.c_str())) << c.sPath;
}

TEST(PackageCompressed, TruncatedCompressedPackageEndsWithAReadError)
{
    std::string sDir = TestDir();
    std::string sSzdd = ReadBytes(DataPath("szdd/sample.pk_"));
    // Cut inside the first entry's data, inside the zeros, inside the read-only entry, and at the end.
    for (size_t nCut : {(size_t)20, (size_t)2000, (size_t)9000, sSzdd.size() - 1}) {
        std::string sPkg = sDir + "cut.pk_";
        ASSERT_TRUE(WriteBytes(sPkg, sSzdd.substr(0, nCut)));
        int h = PkgOpen(sPkg.c_str(), 0);
        ASSERT_NE(0, h) << nCut;
        int nStatus = PKG_OK;
        int i;
        for (i = 0; i < 5 && nStatus == PKG_OK; i++)
            nStatus = PkgUnpackFile(h, (sDir + "out" + std::to_string(i)).c_str());
        EXPECT_EQ(PKG_ERR_READ, nStatus) << nCut;
        EXPECT_FALSE(Exists(sDir + "out" + std::to_string(i - 1))) << nCut;
        PkgClose(h);
        for (int j = 0; j < 5; j++)
            Remove(sDir + "out" + std::to_string(j));
    }
}

TEST(PackageCompressed, UnknownCompressionModeDoesNotOpen)
{
    std::string sDir = TestDir();
    std::string sSzdd = ReadBytes(DataPath("szdd/sample.pk_"));
    sSzdd[8] = 'B';
    ASSERT_TRUE(WriteBytes(sDir + "mode.pk_", sSzdd));
    EXPECT_EQ(0, PkgOpen((sDir + "mode.pk_").c_str(), 0));
    // The failed open left its slot free: all eight still open.
    int ah[PKG_MAX_STREAMS];
    for (int i = 0; i < PKG_MAX_STREAMS; i++)
        EXPECT_EQ(i + 1, ah[i] = PkgOpen(DataPath("szdd/sample.pkg").c_str(), 0));
    for (int i = 0; i < PKG_MAX_STREAMS; i++)
        PkgClose(ah[i]);
}

// ---------------------------------------------------------------------------------------------------------
// The stream table

TEST(PackageStreams, NinthOpenFailsAndAClosedSlotIsReusedLowestFirst)
{
    std::string sDir = TestDir();
    for (int i = 0; i < PKG_MAX_STREAMS; i++) {
        if (i % 2 == 0)
            EXPECT_EQ(i + 1, PkgOpen(DataPath("szdd/sample.pkg").c_str(), 0));
        else
            EXPECT_EQ(i + 1, PkgOpen((sDir + "p" + std::to_string(i)).c_str(), 1));
    }
    EXPECT_EQ(0, PkgOpen((sDir + "ninth").c_str(), 1));
    EXPECT_EQ(0, PkgOpen(DataPath("szdd/sample.pkg").c_str(), 0));
    EXPECT_FALSE(Exists(sDir + "ninth"));

    EXPECT_EQ(1, PkgClose(6));
    EXPECT_EQ(1, PkgClose(3));
    EXPECT_EQ(3, PkgOpen((sDir + "again").c_str(), 1));
    EXPECT_EQ(6, PkgOpen(DataPath("szdd/sample.pkg").c_str(), 0));
    EXPECT_EQ(0, PkgOpen((sDir + "ninth").c_str(), 1));
    for (int i = 1; i <= PKG_MAX_STREAMS; i++)
        EXPECT_EQ(1, PkgClose(i));
}

TEST(PackageStreams, CloseRules)
{
    std::string sDir = TestDir();
    EXPECT_EQ(1, PkgClose(0));
    int h = PkgOpen((sDir + "a.pkg").c_str(), 1);
    ASSERT_EQ(1, h);
    EXPECT_EQ(1, PkgClose(h));
    EXPECT_EQ(0, PkgClose(h));
    static const int aBad[] = {-1, -8, 9, 100, INT32_MIN, INT32_MAX, 2};
    for (int hBad : aBad)
        EXPECT_EQ(0, PkgClose(hBad)) << hBad;
    // Closing what is not open takes no slot from the table: all of them open again, lowest first.
    int aOpen[PKG_MAX_STREAMS];
    for (int i = 0; i < PKG_MAX_STREAMS; i++) {
        aOpen[i] = PkgOpen((sDir + "s" + std::to_string(i) + ".pkg").c_str(), 1);
        EXPECT_EQ(i + 1, aOpen[i]);
    }
    for (int i = 0; i < PKG_MAX_STREAMS; i++)
        EXPECT_EQ(1, PkgClose(aOpen[i])) << i;
}

TEST(PackageStreams, WrongDirectionAndBadHandlesAreRefused)
{
    std::string sDir = TestDir();
    char a[8] = {0};
    int hWrite = PkgOpen((sDir + "w.pkg").c_str(), 1);
    int hRead = PkgOpen(DataPath("szdd/sample.pkg").c_str(), 0);
    ASSERT_NE(0, hWrite);
    ASSERT_NE(0, hRead);
    EXPECT_EQ(-1, PkgRead(hWrite, a, 4));
    EXPECT_EQ(-1, PkgRead(hWrite, a, 0));
    EXPECT_EQ(-1, PkgWrite(hRead, a, 4));
    EXPECT_EQ(-1, PkgWrite(hRead, a, 0));
    EXPECT_EQ(0, PkgRead(hRead, a, 0));
    EXPECT_EQ(0, PkgWrite(hWrite, a, 0));
    EXPECT_EQ(PKG_ERR_WRITE, PkgPackFile(hRead, DataPath("szdd/sample.pkg").c_str()));
    EXPECT_EQ(PKG_ERR_READ, PkgUnpackFile(hWrite, (sDir + "out").c_str()));
    EXPECT_FALSE(Exists(sDir + "out"));
    static const int aBad[] = {0, -1, 9, 7};
    for (int hBad : aBad) {
        EXPECT_EQ(-1, PkgRead(hBad, a, 4)) << hBad;
        EXPECT_EQ(-1, PkgWrite(hBad, a, 4)) << hBad;
    }
    PkgClose(hWrite);
    PkgClose(hRead);
    EXPECT_EQ(-1, PkgRead(hRead, a, 4));
    EXPECT_EQ(0u, ReadBytes(sDir + "w.pkg").size());
}

// Opening for reading accepts every name that fits 260 bytes, however deep (the platform's LZ open call
// would stop at 128 characters), and refuses longer ones before the platform sees them.
TEST(PackageStreams, ReadOpenTakesNamesUpTo259Characters)
{
    std::string sBase = TestDir();
    std::string sSample = ReadBytes(DataPath("szdd/sample.pk_"));
    for (size_t nLength : {(size_t)127, (size_t)128, (size_t)200, (size_t)259}) {
        std::string sPath = DeepPath(sBase, nLength);
        ASSERT_EQ(nLength, sPath.size());
        ASSERT_TRUE(WriteBytes(sPath, sSample)) << nLength;
        int h = PkgOpen(sPath.c_str(), 0);
        EXPECT_NE(0, h) << nLength;
        char a[5];
        EXPECT_EQ(5, PkgRead(h, a, 5)) << nLength;
        EXPECT_EQ(0, memcmp(a, "\0\0\0\0", 4)) << nLength; // the first entry's attributes
        PkgClose(h);
    }
    std::string sLong = sBase + std::string(260 - sBase.size(), 'x');
    EXPECT_EQ(0, PkgOpen(sLong.c_str(), 0));
    EXPECT_EQ(0, PkgOpen((sLong + "yyyy").c_str(), 0));
}

TEST(PackageStreams, MissingPackageDoesNotOpen)
{
    EXPECT_EQ(0, PkgOpen((TestDir() + "missing.pkg").c_str(), 0));
    EXPECT_EQ(0, PkgOpen((TestDir() + "no-folder\\new.pkg").c_str(), 1));
}

// ---------------------------------------------------------------------------------------------------------
// Preconditions

TEST(PackageDeath, NullPointersAndNegativeSizesEndTheProcess)
{
    char a[4];
    EXPECT_EXIT(PkgOpen(NULL, 0), ::testing::ExitedWithCode(3),
                "Assertion failed: szFileName != NULL, file ker.PACKAGE, line .");
    EXPECT_EXIT(PkgWrite(1, NULL, 1), ::testing::ExitedWithCode(3),
                "Assertion failed: pData != NULL, file ker.PACKAGE, line .");
    EXPECT_EXIT(PkgRead(1, a, -1), ::testing::ExitedWithCode(3),
                "Assertion failed: nSize >= 0, file ker.PACKAGE, line .");
    EXPECT_EXIT(PkgPackFile(1, NULL), ::testing::ExitedWithCode(3),
                "Assertion failed: szFileName != NULL, file ker.PACKAGE, line .");
    EXPECT_EXIT(PkgUnpackFile(1, NULL), ::testing::ExitedWithCode(3),
                "Assertion failed: szFileName != NULL, file ker.PACKAGE, line .");
}

// On Linux the program runs on a fresh machine of its own (fresh_machine.cpp).
int main(int argc, char **argv)
{
    char szTemp[MAX_PATH];
    if (GetTempPathA(sizeof szTemp, szTemp) == 0)
        return 2;
    sWorkRoot = std::string(szTemp) + "kalpkg";
    CreateDirectoryA(sWorkRoot.c_str(), NULL);
    sWorkRoot += "\\";
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// An unpacking that never replaces: a file already there stays, the entry is passed over (the stream stays
// in step, whatever the entry's size, more than one buffer included); a new file is made as by
// PkgUnpackFile; a folder in the way is a failure.
TEST(PackageNew, AFileAlreadyThereStaysAndTheStreamGoesOn)
{
    std::string sDir = TestDir();
    for (DWORD dwSize : {(DWORD)0, (DWORD)5, (DWORD)200000}) {
        std::string sPkg = Header(FILE_ATTRIBUTE_READONLY, kFt2001, kFt2002, kFt2003, dwSize) +
                           Pattern(dwSize, 3) + Header(0, kFt2001, kFt2002, kFt2003, 4) + "next" +
                           Header(0, kFt2001, kFt2002, kFt2003, 3) + "new";
        ASSERT_TRUE(WriteBytes(sDir + "new.pkg", sPkg));
        ASSERT_TRUE(WriteBytes(sDir + "mine", "my bytes"));
        Remove(sDir + "made");
        int h = PkgOpen((sDir + "new.pkg").c_str(), 0);
        ASSERT_NE(0, h);
        EXPECT_EQ(PKG_EXISTS, PkgUnpackNewFile(h, (sDir + "mine").c_str())) << dwSize;
        EXPECT_EQ("my bytes", ReadBytes(sDir + "mine")) << dwSize;
        EXPECT_FALSE(Exists(sDir + "mine.~pk")) << dwSize;
        EXPECT_EQ(PKG_OK, PkgUnpackFile(h, (sDir + "out").c_str())) << dwSize;
        EXPECT_EQ("next", ReadBytes(sDir + "out")) << dwSize;
        EXPECT_EQ(PKG_OK, PkgUnpackNewFile(h, (sDir + "made").c_str())) << dwSize;
        EXPECT_EQ("new", ReadBytes(sDir + "made")) << dwSize;
        PkgClose(h);
        Remove(sDir + "out");
    }
    ASSERT_TRUE(CreateDirectoryA((sDir + "folder").c_str(), NULL));
    EXPECT_EQ(PKG_ERR_CREATE, UnpackFromBytes(Header(0, kFt2001, kFt2002, kFt2003, 2) + "ab", sDir + "folder",
                                              PkgUnpackNewFile));
    EXPECT_FALSE(Exists(sDir + "folder.~pk"));
}

// ---------------------------------------------------------------------------------------------------------
// The sum

// Three entries: a read-only one of 5 bytes, an empty hidden one, and one of 100,000 patterned bytes.
static std::string ThreeEntries()
{
    return Header(FILE_ATTRIBUTE_READONLY, kFt2001, kFt2002, kFt2003, 5) + "hello" +
           Header(FILE_ATTRIBUTE_HIDDEN, kFt2002, kFt2002, kFt2002, 0) +
           Header(0, kFt2003, kFt2001, kFt2002, 100000) + Pattern(100000, 7);
}

// The bytes with the sum PkgAddSum appends to them.
static std::string WithSum(const std::string &sEntries)
{
    std::string sPkg = TestDir() + "summed.pkg";
    if (!WriteBytes(sPkg, sEntries) || PkgAddSum(sPkg.c_str()) != PKG_OK)
        return "";
    return ReadBytes(sPkg);
}

// What the reader says of the bytes, fed in pieces of nPiece bytes (all at once for 0); *pDamaged gets the
// entries it finds damaged, as "1 3".
static int SumOf(const std::string &sBytes, int nNeeded, size_t nPiece = 0, std::string *pDamaged = nullptr)
{
    PkgSum *pSum = PkgSumBegin();
    if (pSum == nullptr)
        return -1;
    if (nPiece == 0)
        nPiece = sBytes.size() + 1;
    for (size_t i = 0; i < sBytes.size(); i += nPiece)
        PkgSumFeed(pSum, sBytes.data() + i, (int)std::min(nPiece, sBytes.size() - i));
    int nOutcome = PkgSumEnd(pSum, nNeeded);
    if (pDamaged != nullptr) {
        pDamaged->clear();
        for (int i = 1; i <= PkgSumEntries(pSum); i++)
            if (PkgSumEntryDamaged(pSum, i))
                *pDamaged += (pDamaged->empty() ? "" : " ") + std::to_string(i);
    }
    PkgSumFree(pSum);
    return nOutcome;
}

TEST(PackageSum, TheSumFollowsTheEntriesWhoseBytesStayAsTheyWere)
{
    std::string sEntries = ThreeEntries();
    std::string sSummed = WithSum(sEntries);
    ASSERT_EQ(sEntries.size() + PKG_SUM_SIZE(3), sSummed.size());
    EXPECT_TRUE(sSummed.compare(0, sEntries.size(), sEntries) == 0);
    EXPECT_TRUE(PkgSumIsMark(sSummed.data() + sEntries.size(), PKG_SUM_MARK_SIZE));
    EXPECT_EQ(PKG_SUM_OK, SumOf(sSummed, 0));
    EXPECT_EQ(PKG_SUM_OK, SumOf(sSummed, 3));
    // A reader of the entries alone reads them as before and never reaches the sum.
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "p.pkg", sSummed));
    int h = PkgOpen((sDir + "p.pkg").c_str(), 0);
    ASSERT_NE(0, h);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(PKG_OK, PkgUnpackFile(h, (sDir + "out" + std::to_string(i)).c_str())) << i;
    PkgClose(h);
    EXPECT_EQ(Pattern(100000, 7), ReadBytes(sDir + "out2"));
    Remove(sDir + "out0");
    Remove(sDir + "out1");
    // An empty package has a sum too.
    EXPECT_EQ(PKG_SUM_OK, SumOf(WithSum(""), 0));
    EXPECT_EQ((size_t)PKG_SUM_SIZE(0), WithSum("").size());
}

// A change to the bytes of a package with a sum, and what the reader must say.
struct DamageCase {
    const char *pszName;
    long nAt;  // where: a byte offset; below 0 counted from the end
    int nKind; // 0: flip bit 2 of that byte, 1: cut there, 2: append nAt bytes, 3: swap entries 1 and 3
    int nOutcome;
    const char *pszDamaged; // the entries named
};
// Entry 1 at 0 (header) and 32 (data), entry 2 at 37, entry 3 at 69 (header) and 101 (data); the sum at
// 100,101: its fixed part, the three entries' hashes from 100,133, the whole's at 100,181, its own at
// 100,197, the end mark at 100,213.
static const long kSumAt = 100101;
static const DamageCase kDamage[] = {
    {"entry 1's attributes", 0, 0, PKG_SUM_MISMATCH, "1"},
    {"entry 2's last write time", 37 + 20, 0, PKG_SUM_MISMATCH, "2"},
    {"entry 3's size", 69 + 28, 0, PKG_SUM_MISMATCH, ""},
    {"entry 2's size (made 4: it takes 4 of entry 3's header)", 37 + 28, 0, PKG_SUM_MISMATCH, ""},
    {"the first entry's data", 32 + 2, 0, PKG_SUM_MISMATCH, "1"},
    {"the last entry's data, in the middle", 101 + 50000, 0, PKG_SUM_MISMATCH, "3"},
    {"the last entry's last byte", kSumAt - 1, 0, PKG_SUM_MISMATCH, "3"},
    {"the sum's start mark", kSumAt + 5, 0, PKG_SUM_DAMAGED, ""},
    {"the sum's algorithm", kSumAt + 16, 0, PKG_SUM_DAMAGED, ""},
    {"the sum's entry count", kSumAt + 20, 0, PKG_SUM_DAMAGED, ""},
    {"the sum's byte count", kSumAt + 24, 0, PKG_SUM_DAMAGED, ""},
    {"entry 2's hash in the sum", kSumAt + 32 + 16 + 3, 0, PKG_SUM_DAMAGED, ""},
    {"the whole's hash in the sum", kSumAt + 32 + 48, 0, PKG_SUM_DAMAGED, ""},
    {"the sum's own hash", kSumAt + 32 + 64 + 15, 0, PKG_SUM_DAMAGED, ""},
    {"the sum's end mark", -1, 0, PKG_SUM_DAMAGED, ""},
    {"cut inside entry 1's header", 10, 1, PKG_SUM_SHORT, ""},
    {"cut inside entry 3's data", 5000, 1, PKG_SUM_SHORT, ""},
    {"cut inside the sum's start mark", kSumAt + 3, 1, PKG_SUM_SHORT, ""},
    {"cut inside the sum's hashes", kSumAt + 40, 1, PKG_SUM_SHORT, ""},
    {"cut one byte before the end", -1, 1, PKG_SUM_SHORT, ""},
    {"one byte appended", 1, 2, PKG_SUM_EXTRA, ""},
    {"a block appended", 70000, 2, PKG_SUM_EXTRA, ""},
    {"entries 1 and 3 swapped", 0, 3, PKG_SUM_MISMATCH, "1 3"},
};

static std::string Damaged(const std::string &sSummed, const DamageCase &c)
{
    std::string s = sSummed;
    size_t nAt = c.nAt < 0 ? s.size() + c.nAt : (size_t)c.nAt;
    switch (c.nKind) {
    case 0:
        s[nAt] = (char)(s[nAt] ^ 4);
        break;
    case 1:
        s.resize(nAt);
        break;
    case 2:
        s += Pattern((size_t)c.nAt, 3);
        break;
    default:
        s = s.substr(69, kSumAt - 69) + s.substr(37, 32) + s.substr(0, 37) + s.substr(kSumAt);
        break;
    }
    return s;
}

TEST(PackageSum, EveryDamageIsFoundWhateverPiecesTheBytesComeIn)
{
    std::string sSummed = WithSum(ThreeEntries());
    ASSERT_EQ((size_t)kSumAt + PKG_SUM_SIZE(3), sSummed.size());
    for (const DamageCase &c : kDamage) {
        SCOPED_TRACE(c.pszName);
        std::string s = Damaged(sSummed, c);
        ASSERT_NE(sSummed, s);
        std::string sDamaged;
        for (size_t nPiece : {(size_t)0, (size_t)1, (size_t)7, (size_t)32, (size_t)4096}) {
            EXPECT_EQ(c.nOutcome, SumOf(s, 0, nPiece, &sDamaged)) << nPiece;
            EXPECT_EQ(c.pszDamaged, sDamaged) << nPiece;
            // The installer asks for its entries; the answer is the same.
            EXPECT_EQ(c.nOutcome, SumOf(s, 3, nPiece)) << nPiece;
        }
    }
}

// A cut exactly where the sum starts leaves a package without a sum: its entries are whole and exactly as
// packed, so it passes as any package without a sum does. A cut at another entry's end does not pass for
// whoever needs the entries after it.
TEST(PackageSum, ACutAtAnEntrysEndLeavesAPackageWithoutASum)
{
    std::string sSummed = WithSum(ThreeEntries());
    EXPECT_EQ(PKG_SUM_NONE, SumOf(sSummed.substr(0, kSumAt), 3));
    EXPECT_EQ(PKG_SUM_NONE, SumOf(sSummed.substr(0, 69), 0));
    EXPECT_EQ(PKG_SUM_NONE, SumOf(sSummed.substr(0, 69), 2));
    EXPECT_EQ(PKG_SUM_SHORT, SumOf(sSummed.substr(0, 69), 3));
}

TEST(PackageSum, APackageWithoutASumPassesWhenTheEntriesAskedForAreWhole)
{
    std::string sEntries = ThreeEntries();
    struct {
        std::string sBytes;
        int nNeeded, nOutcome;
    } aCases[] = {
        {sEntries, 0, PKG_SUM_NONE},
        {sEntries, 3, PKG_SUM_NONE},
        {sEntries, 2, PKG_SUM_NONE},
        {sEntries, 4, PKG_SUM_SHORT},
        {"", 0, PKG_SUM_NONE},
        {"", 1, PKG_SUM_SHORT},
        // Bytes after the entries the installer reads were never read: as before, they do not matter to it.
        {sEntries + "junk!", 3, PKG_SUM_NONE},
        {sEntries + "junk!", 0, PKG_SUM_SHORT},
        {sEntries.substr(0, 5000), 3, PKG_SUM_SHORT},
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::to_string(c.sBytes.size()) + " bytes, " + std::to_string(c.nNeeded) + " needed");
        std::string sDamaged;
        EXPECT_EQ(c.nOutcome, SumOf(c.sBytes, c.nNeeded, 0, &sDamaged));
        EXPECT_EQ("", sDamaged);
    }
}

// A damaged bit or three in the start mark is still the sum, damaged; a header is never taken for it.
TEST(PackageSum, TheMarkIsKnownWithAFewBitsDamagedAndNoHeaderIsTakenForIt)
{
    std::string sSummed = WithSum(ThreeEntries());
    std::string sMark = sSummed.substr(kSumAt, PKG_SUM_MARK_SIZE);
    EXPECT_TRUE(PkgSumIsMark(sMark.data(), PKG_SUM_MARK_SIZE));
    for (int nBits : {1, 3, 20}) {
        std::string s = sMark;
        for (int i = 0; i < nBits; i++)
            s[i % PKG_SUM_MARK_SIZE] = (char)(s[i % PKG_SUM_MARK_SIZE] ^ (1 << (i / PKG_SUM_MARK_SIZE)));
        EXPECT_TRUE(PkgSumIsMark(s.data(), PKG_SUM_MARK_SIZE)) << nBits;
    }
    EXPECT_TRUE(PkgSumIsMark(sMark.data(), 3)); // a start, as far as it goes
    EXPECT_FALSE(PkgSumIsMark("\x00\x00\x00", 3));
    for (DWORD dwAttributes : {0u, 7u, 0x27u, 0xFFu})
        EXPECT_FALSE(PkgSumIsMark(Header(dwAttributes, ~0ull, ~0ull, ~0ull, 0).data(), 32)) << dwAttributes;
}

static int nHookCalls;
static long long nHookBytes;
static int nHookLargest;
static void CountReads(int nBytes)
{
    nHookCalls++;
    nHookBytes += nBytes;
    nHookLargest = std::max(nHookLargest, nBytes);
}

// The check reads the whole package once, through the read hook, in blocks of at most 1 MB.
TEST(PackageSum, TheCheckReadsThePackageOnceInBlocksThroughTheHook)
{
    std::string sDir = TestDir();
    std::string sEntries = Header(0, kFt2001, kFt2002, kFt2003, 3000000) + Pattern(3000000, 1);
    ASSERT_TRUE(WriteBytes(sDir + "big.pkg", sEntries));
    ASSERT_EQ(PKG_OK, PkgAddSum((sDir + "big.pkg").c_str()));
    nHookCalls = 0;
    nHookBytes = 0;
    nHookLargest = 0;
    PkgSetReadHook(CountReads);
    EXPECT_EQ(PKG_SUM_OK, PkgCheck((sDir + "big.pkg").c_str(), 1));
    PkgSetReadHook(NULL);
    EXPECT_EQ((long long)(sEntries.size() + PKG_SUM_SIZE(1)), nHookBytes);
    EXPECT_LE(nHookLargest, PKG_CHECK_BLOCK);
    EXPECT_GE(nHookCalls, 3);
    EXPECT_EQ(PKG_SUM_OPEN, PkgCheck((sDir + "missing.pkg").c_str(), 1));
}

// The sum goes only onto whole entries that have none.
TEST(PackageSum, TheSumIsAddedOnlyToWholeEntriesWithoutOne)
{
    std::string sDir = TestDir();
    std::string sEntries = ThreeEntries();
    struct {
        std::string sBytes;
        int nStatus;
    } aCases[] = {
        {sEntries.substr(0, 50), PKG_ERR_READ},
        {WithSum(sEntries), PKG_ERR_READ},
        {sEntries + "x", PKG_ERR_READ},
        // a whole empty entry whose attributes are the LZ mark: the installer would read it expanded
        {std::string("SZDD\x88\xF0\x27\x33", 8) + std::string(24, '\0') + sEntries, PKG_ERR_READ},
    };
    for (const auto &c : aCases) {
        ASSERT_TRUE(WriteBytes(sDir + "p.pkg", c.sBytes));
        EXPECT_EQ(c.nStatus, PkgAddSum((sDir + "p.pkg").c_str()));
        EXPECT_TRUE(c.sBytes == ReadBytes(sDir + "p.pkg")); // left as it was
    }
    EXPECT_EQ(PKG_ERR_OPEN, PkgAddSum((sDir + "missing.pkg").c_str()));
}

#ifndef _WIN32
// A read that fails during the check is said as such, and a trailer that cannot be written too.
TEST(PackageSum, FailedReadsAndWritesAreSaid)
{
    std::string sDir = TestDir();
    ASSERT_TRUE(WriteBytes(sDir + "p.pkg", ThreeEntries()));
    setenv("PLAT_FAULT", "WriteFile 112 *\\p.pkg", 1);
    EXPECT_EQ(PKG_ERR_WRITE, PkgAddSum((sDir + "p.pkg").c_str()));
    unsetenv("PLAT_FAULT");
    ASSERT_EQ(PKG_OK, PkgAddSum((sDir + "p.pkg").c_str()));
    setenv("PLAT_FAULT", "LZRead 23 *\\p.pkg", 1);
    EXPECT_EQ(PKG_SUM_READ, PkgCheck((sDir + "p.pkg").c_str(), 3));
    unsetenv("PLAT_FAULT");
    EXPECT_EQ(PKG_SUM_OK, PkgCheck((sDir + "p.pkg").c_str(), 3));
}
#endif
