// test_lz.cpp - LZ expansion: the SZDD decoder and encoder, and the LZ calls over the platform's files.

#include "lz/szdd.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

typedef std::vector<unsigned char> Bytes;

static Bytes ToBytes(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

static Bytes Random(size_t n, uint32_t nSeed)
{
    Bytes a(n);
    uint32_t x = nSeed * 2654435761u + 7;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        a[i] = (unsigned char)x;
    }
    return a;
}

// Text-like bytes with repeats at every distance the window allows, and beyond it.
static Bytes Text(size_t n)
{
    static const char *apszWords[] = {"model ", "sheet ", "catalogue ", "Kalmorist ", "drawing\r\n", "6.1 "};
    Bytes a;
    uint32_t x = 1;
    while (a.size() < n) {
        x = x * 1103515245u + 12345u;
        const char *psz = apszWords[(x >> 16) % 6];
        a.insert(a.end(), psz, psz + strlen(psz));
    }
    a.resize(n);
    return a;
}

// Bytes that repeat with the given period.
static Bytes Periodic(size_t n, size_t nPeriod)
{
    Bytes a = Random(nPeriod, (uint32_t)nPeriod);
    Bytes b(n);
    for (size_t i = 0; i < n; i++)
        b[i] = a[i % nPeriod];
    return b;
}

static Bytes Compress(const Bytes &a, size_t nStep = 65536)
{
    Bytes out(szdd::kHeaderSize);
    szdd::MakeHeader(out.data(), (uint32_t)a.size(), 0);
    szdd::Encoder encoder;
    for (size_t i = 0; i < a.size(); i += nStep)
        encoder.Encode(a.data() + i, std::min(nStep, a.size() - i), false, out);
    encoder.Encode(NULL, 0, true, out);
    return out;
}

// Decodes a whole SZDD file, feeding at most nInStep bytes and taking at most nOutStep bytes at a time, the
// way a reader with small buffers would. Stops when the decoder can make no progress.
static Bytes Expand(const Bytes &aFile, size_t nInStep = 1 << 20, size_t nOutStep = 1 << 20)
{
    uint32_t nLength = 0;
    EXPECT_EQ(szdd::kCompressed, szdd::ParseHeader(aFile.data(), aFile.size(), &nLength, NULL));
    szdd::Decoder *pDecoder = new szdd::Decoder;
    szdd::DecoderInit(pDecoder, nLength);
    Bytes out;
    Bytes buf(nOutStep);
    size_t nPos = szdd::kHeaderSize;
    size_t nHeld = std::min(nInStep, aFile.size() - nPos); // input the reader holds from nPos on
    for (;;) {
        size_t nUsed = 0;
        size_t n = szdd::Decode(pDecoder, aFile.data() + nPos, nHeld, &nUsed, buf.data(), buf.size());
        EXPECT_LE(nUsed, nHeld);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
        nPos += nUsed;
        nHeld -= nUsed;
        if (n == 0 && nUsed == 0) {
            size_t nMore = std::min(nInStep, aFile.size() - nPos - nHeld);
            if (nMore == 0)
                break;
            nHeld += nMore;
        }
    }
    EXPECT_LE(out.size(), (size_t)nLength);
    delete pDecoder;
    return out;
}

// ---------------------------------------------------------------------------------------------------------
// The format

TEST(SzddHeader, SignatureAndModeDecideHowAFileReads)
{
    struct Case {
        const char *pszName;
        std::string sHead;
        szdd::HeaderKind nKind;
    };
    const std::string sSig("SZDD\x88\xF0\x27\x33", 8);
    const Case aCases[] = {
        {"empty", "", szdd::kPlain},
        {"signature only", sSig, szdd::kPlain},
        {"one byte short", sSig + std::string("A\0\x05\0\0", 5), szdd::kPlain},
        {"text", "Kalmorist catalogue", szdd::kPlain},
        {"changed signature", "SZDD\x88\xF0\x27\x34" + std::string("A\0\x05\0\0\0", 6), szdd::kPlain},
        {"mode A", sSig + std::string("A\0\x05\0\0\0", 6), szdd::kCompressed},
        {"mode B", sSig + std::string("B\0\x05\0\0\0", 6), szdd::kUnknownMode},
        {"mode a", sSig + std::string("a\0\x05\0\0\0", 6), szdd::kUnknownMode},
    };
    for (const Case &c : aCases)
        EXPECT_EQ(c.nKind,
                  szdd::ParseHeader((const unsigned char *)c.sHead.data(), c.sHead.size(), NULL, NULL))
            << c.pszName;
}

TEST(SzddHeader, LengthAndLastCharacterRoundTrip)
{
    unsigned char a[szdd::kHeaderSize];
    szdd::MakeHeader(a, 0xA1B2C3D4u, 'x');
    uint32_t nLength = 0;
    unsigned char c = 0;
    ASSERT_EQ(szdd::kCompressed, szdd::ParseHeader(a, sizeof a, &nLength, &c));
    EXPECT_EQ(0xA1B2C3D4u, nLength);
    EXPECT_EQ('x', c);
    EXPECT_EQ(0, memcmp(a,
                        "SZDD\x88\xF0\x27\x33"
                        "A"
                        "x\xD4\xC3\xB2\xA1",
                        14));
}

// The reference tool's output for "hello hello hello hello world\n": literals, then one match of 16.
TEST(SzddDecoder, ReadsTheReferenceToolsOutput)
{
    static const unsigned char a[] = {0x53, 0x5a, 0x44, 0x44, 0x88, 0xf0, 0x27, 0x33, 0x41, 0x00, 0x1e,
                                      0x00, 0x00, 0x00, 0xbf, 0x68, 0x65, 0x6c, 0x6c, 0x6f, 0x20, 0xf0,
                                      0xfd, 0x6f, 0x7f, 0x20, 0x77, 0x6f, 0x72, 0x6c, 0x64, 0x0a};
    Bytes aFile(a, a + sizeof a);
    EXPECT_EQ(ToBytes("hello hello hello hello world\n"), Expand(aFile));
    for (size_t nIn : {1, 2, 3}) {
        for (size_t nOut : {1, 2, 5, 17})
            EXPECT_EQ(ToBytes("hello hello hello hello world\n"), Expand(aFile, nIn, nOut))
                << nIn << " " << nOut;
    }
}

TEST(SzddDecoder, WindowStartsFilledWithSpaces)
{
    // One flag byte of matches: position 0 (spaces, before the data) for 18, then 4078 for 3.
    static const unsigned char a[] = {0x53, 0x5a, 0x44, 0x44, 0x88, 0xf0, 0x27, 0x33, 0x41, 0x00,
                                      21,   0x00, 0x00, 0x00, 0x00, 0x00, 0x0f, 0xee, 0xf0};
    EXPECT_EQ(Bytes(21, ' '), Expand(Bytes(a, a + sizeof a)));
}

TEST(SzddDecoder, StopsAtTheHeadersLength)
{
    Bytes aData = Text(50000);
    Bytes aFile = Compress(aData);
    for (uint32_t nLength : {0u, 1u, 17u, 18u, 4096u, 49999u}) {
        Bytes aShort = aFile;
        szdd::MakeHeader(aShort.data(), nLength, 0);
        EXPECT_EQ(Bytes(aData.begin(), aData.begin() + nLength), Expand(aShort, 100, 7)) << nLength;
    }
}

TEST(SzddDecoder, TruncatedDataGivesAPrefixAndNoMore)
{
    Bytes aData = Text(3000);
    aData.insert(aData.end(), 3000, 0);
    Bytes aRandom = Random(2000, 3);
    aData.insert(aData.end(), aRandom.begin(), aRandom.end());
    Bytes aFile = Compress(aData);
    for (size_t nCut = szdd::kHeaderSize; nCut < aFile.size(); nCut += 1 + nCut / 50) {
        Bytes aCut(aFile.begin(), aFile.begin() + nCut);
        Bytes aOut = Expand(aCut, 64, 1000);
        ASSERT_LT(aOut.size(), aData.size()) << nCut;
        EXPECT_TRUE(std::equal(aOut.begin(), aOut.end(), aData.begin())) << nCut;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Round trips through the encoder

struct RoundTripCase {
    const char *pszName;
    Bytes aData;
};

static std::vector<RoundTripCase> RoundTripCases()
{
    return {
        {"empty", Bytes()},
        {"one byte", Bytes(1, 'x')},
        {"two bytes", ToBytes("xy")},
        {"spaces", Bytes(5000, ' ')},
        {"zeros", Bytes(100000, 0)},
        {"random", Random(100000, 1)},
        {"text", Text(200000)},
        {"period 4077", Periodic(30000, 4077)},
        {"period 4078", Periodic(30000, 4078)},
        {"period 4079", Periodic(30000, 4079)},
        {"period 4096", Periodic(30000, 4096)},
        {"period 4097", Periodic(30000, 4097)},
        {"period 3", Periodic(30000, 3)},
    };
}

TEST(SzddEncoder, EveryInputSplitExpandsToTheSameBytes)
{
    for (const RoundTripCase &c : RoundTripCases()) {
        for (size_t nStep : {(size_t)1, (size_t)7, (size_t)4096, (size_t)65536, (size_t)1 << 20}) {
            if (nStep < 7 && c.aData.size() > 30000)
                continue;
            Bytes aFile = Compress(c.aData, nStep);
            EXPECT_TRUE(Expand(aFile) == c.aData) << c.pszName << " step " << nStep;
            EXPECT_TRUE(Expand(aFile, 3, 5) == c.aData) << c.pszName << " step " << nStep;
        }
    }
}

TEST(SzddEncoder, OutputIsCompactForRepeatsAndBoundedForNoise)
{
    EXPECT_LT(Compress(Bytes(1 << 20, 0)).size(), (size_t)(1 << 20) / 8);
    Bytes aRandom = Random(1 << 20, 9);
    EXPECT_LE(Compress(aRandom).size(), szdd::kHeaderSize + (aRandom.size() * 9 + 7) / 8);
    EXPECT_LT(Compress(Text(1 << 20)).size(), (size_t)(1 << 20) / 3);
}

// Matches reach back less than a whole window: a byte that is about to be overwritten is never read.
TEST(SzddEncoder, MatchesStayWithinTheWindow)
{
    Bytes aData = Periodic(20000, 4090);
    Bytes aFile = Compress(aData);
    // Walk the items and check each match's distance from the write position.
    size_t i = szdd::kHeaderSize;
    unsigned nPos = szdd::kWindowStart;
    while (i < aFile.size()) {
        unsigned nFlags = aFile[i++];
        for (int k = 0; k < 8 && i < aFile.size(); k++, nFlags >>= 1) {
            if (nFlags & 1) {
                i++;
                nPos = (nPos + 1) & 0xFFF;
            } else {
                unsigned nFrom = aFile[i] | (aFile[i + 1] & 0xF0) << 4;
                unsigned nLength = (aFile[i + 1] & 0x0F) + 3;
                unsigned nDistance = (nPos - nFrom) & 0xFFF;
                EXPECT_GE(nDistance, 1u);
                EXPECT_LE(nDistance, szdd::kWindowSize - szdd::kMaxMatch);
                i += 2;
                nPos = (nPos + nLength) & 0xFFF;
            }
        }
    }
    EXPECT_TRUE(Expand(aFile) == aData);
}

// ---------------------------------------------------------------------------------------------------------
// The LZ calls over the machine's files

#include "kernel/kernel.h"

#include <lzexpand.h>

static std::string Dir()
{
    CreateDirectoryA("C:\\lz", NULL);
    return "C:\\lz\\";
}

static void WriteFileBytes(const std::string &sPath, const Bytes &a)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << sPath;
    DWORD n = 0;
    BOOL bOk = a.empty() || WriteFile(h, a.data(), (DWORD)a.size(), &n, NULL);
    CloseHandle(h);
    ASSERT_TRUE(bOk && n == a.size()) << sPath;
}

// Reads an LZ handle to its end in pieces of nStep; the last result (0 at a clean end, or an error) goes
// to *pnLast.
static Bytes ReadAll(INT hLz, size_t nStep, INT *pnLast)
{
    Bytes out;
    Bytes buf(nStep);
    INT n;
    while ((n = LZRead(hLz, (LPSTR)buf.data(), (INT)nStep)) > 0) {
        EXPECT_LE((size_t)n, nStep);
        out.insert(out.end(), buf.begin(), buf.begin() + n);
        if (out.size() > (64u << 20))
            break;
    }
    *pnLast = n;
    return out;
}

static INT OpenLz(const std::string &sPath)
{
    HFILE hFile = _lopen(sPath.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    EXPECT_NE(HFILE_ERROR, hFile) << sPath;
    INT hLz = LZInit(hFile);
    if (hLz < 0)
        _lclose(hFile);
    return hLz;
}

TEST(LzRead, PlainFilesReadUnchanged)
{
    const Bytes aSig = ToBytes(std::string("SZDD\x88\xF0\x27\x33", 8));
    struct Case {
        const char *pszName;
        Bytes aData;
    };
    Bytes aShortSig = aSig;
    aShortSig.insert(aShortSig.end(), {'A', 0, 5, 0, 0});
    const Case aCases[] = {
        {"empty", Bytes()},
        {"one byte", ToBytes("x")},
        {"thirteen", ToBytes("0123456789abc")},
        {"fourteen", ToBytes("0123456789abcd")},
        {"signature only", aSig},
        {"header one short", aShortSig},
        {"random", Random(300000, 5)},
    };
    for (const Case &c : aCases) {
        std::string sPath = Dir() + "plain";
        WriteFileBytes(sPath, c.aData);
        for (size_t nStep : {(size_t)1, (size_t)5, (size_t)13, (size_t)14, (size_t)4096, (size_t)1 << 20}) {
            if (nStep < 13 && c.aData.size() > 1000)
                continue;
            INT hLz = OpenLz(sPath);
            ASSERT_GE(hLz, 0) << c.pszName;
            INT nLast;
            EXPECT_TRUE(ReadAll(hLz, nStep, &nLast) == c.aData) << c.pszName << " step " << nStep;
            EXPECT_EQ(0, nLast) << c.pszName;
            EXPECT_EQ(0, LZRead(hLz, (LPSTR) "", 0));
            LZClose(hLz);
        }
    }
}

TEST(LzRead, CompressedFilesReadExpanded)
{
    struct Case {
        const char *pszName;
        Bytes aData;
    };
    const Case aCases[] = {
        {"empty", Bytes()},
        {"text", Text(300000)},
        {"zeros", Bytes(200000, 0)},
        {"random", Random(200000, 6)},
    };
    for (const Case &c : aCases) {
        std::string sPath = Dir() + "packed._";
        WriteFileBytes(sPath, Compress(c.aData));
        for (size_t nStep : {(size_t)1, (size_t)17, (size_t)4096, (size_t)65536, (size_t)1 << 20}) {
            if (nStep == 1 && c.aData.size() > 1000)
                continue;
            INT hLz = OpenLz(sPath);
            ASSERT_GE(hLz, 0) << c.pszName;
            INT nLast;
            EXPECT_TRUE(ReadAll(hLz, nStep, &nLast) == c.aData) << c.pszName << " step " << nStep;
            EXPECT_EQ(0, nLast) << c.pszName;
            LZClose(hLz);
        }
    }
}

static Bytes HostFile(const char *pszPath)
{
    Bytes a;
    FILE *f = fopen(pszPath, "rb");
    EXPECT_TRUE(f != NULL) << pszPath;
    if (f == NULL)
        return a;
    int c;
    while ((c = fgetc(f)) != EOF)
        a.push_back((unsigned char)c);
    fclose(f);
    return a;
}

TEST(LzRead, FileMadeByTheReferenceToolReadsByteIdentical)
{
    Bytes aPlain = HostFile(KAL_TEST_DATA "/szdd/sample.pkg");
    Bytes aPacked = HostFile(KAL_TEST_DATA "/szdd/sample.pk_");
    ASSERT_EQ(szdd::kCompressed, szdd::ParseHeader(aPacked.data(), aPacked.size(), NULL, NULL));
    WriteFileBytes(Dir() + "sample.pk_", aPacked);
    INT hLz = OpenLz(Dir() + "sample.pk_");
    ASSERT_GE(hLz, 0);
    INT nLast;
    EXPECT_TRUE(ReadAll(hLz, 7000, &nLast) == aPlain);
    EXPECT_EQ(0, nLast);
    LZClose(hLz);
}

TEST(LzRead, TruncatedFileGivesAShortReadThenAnError)
{
    Bytes aData = Text(20000);
    Bytes aRandom = Random(5000, 8);
    aData.insert(aData.end(), aRandom.begin(), aRandom.end());
    Bytes aFile = Compress(aData);
    for (size_t nCut = szdd::kHeaderSize; nCut < aFile.size(); nCut += 1 + nCut / 20) {
        WriteFileBytes(Dir() + "cut", Bytes(aFile.begin(), aFile.begin() + nCut));
        INT hLz = OpenLz(Dir() + "cut");
        ASSERT_GE(hLz, 0) << nCut;
        INT nLast;
        Bytes aOut = ReadAll(hLz, 4096, &nLast);
        EXPECT_EQ(LZERROR_READ, nLast) << nCut;
        EXPECT_LT(aOut.size(), aData.size()) << nCut;
        EXPECT_TRUE(std::equal(aOut.begin(), aOut.end(), aData.begin())) << nCut;
        char c;
        EXPECT_EQ(LZERROR_READ, LZRead(hLz, &c, 1)) << nCut;
        LZClose(hLz);
    }
}

TEST(LzRead, BytesAfterTheHeadersLengthAreIgnored)
{
    Bytes aData = Text(10000);
    Bytes aFile = Compress(aData);
    aFile.insert(aFile.end(), 100, 0xFF);
    WriteFileBytes(Dir() + "tail", aFile);
    INT hLz = OpenLz(Dir() + "tail");
    INT nLast;
    EXPECT_TRUE(ReadAll(hLz, 3000, &nLast) == aData);
    EXPECT_EQ(0, nLast);
    LZClose(hLz);
}

TEST(LzRead, UnknownModeIsAnError)
{
    Bytes aFile = Compress(Text(1000));
    aFile[8] = 'B';
    std::string sPath = Dir() + "mode";
    WriteFileBytes(sPath, aFile);
    HFILE hFile = _lopen(sPath.c_str(), OF_READ);
    ASSERT_NE(HFILE_ERROR, hFile);
    EXPECT_EQ(LZERROR_UNKNOWNALG, LZInit(hFile));
    EXPECT_EQ(0, _lclose(hFile)); // still the caller's to close
    OFSTRUCT of;
    EXPECT_EQ(LZERROR_UNKNOWNALG, LZOpenFileA((LPSTR)sPath.c_str(), &of, OF_READ));
}

TEST(LzRead, BadHandlesAndCountsAreRefused)
{
    char a[8];
    EXPECT_EQ(LZERROR_BADINHANDLE, LZRead(0, a, 8));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZRead(-1, a, 8));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZRead(0x400 + 999, a, 8));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZRead(0x3FF, a, 8));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZInit(0));
    EXPECT_EQ(LZERROR_BADINHANDLE, LZInit(77));
    LZClose(0x400 + 999);
    LZClose(-5);

    WriteFileBytes(Dir() + "f", ToBytes("abc"));
    INT hLz = OpenLz(Dir() + "f");
    EXPECT_EQ(LZERROR_BADVALUE, LZRead(hLz, a, -1));
    LZClose(hLz);
    EXPECT_EQ(LZERROR_BADINHANDLE, LZRead(hLz, a, 8));

    HFILE hFile = _lopen((Dir() + "f").c_str(), OF_READ);
    EXPECT_EQ(0, _lclose(hFile));
    EXPECT_EQ(HFILE_ERROR, _lclose(hFile));
    EXPECT_EQ(HFILE_ERROR, _lopen((Dir() + "missing").c_str(), OF_READ));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
}

TEST(LzRead, FileNumberReadsAsItIs)
{
    Bytes aFile = Compress(Text(1000));
    WriteFileBytes(Dir() + "raw", aFile);
    HFILE hFile = _lopen((Dir() + "raw").c_str(), OF_READ);
    ASSERT_NE(HFILE_ERROR, hFile);
    INT nLast;
    EXPECT_TRUE(ReadAll(hFile, 100, &nLast) == aFile);
    LZClose(hFile); // closes the file number
    EXPECT_EQ(HFILE_ERROR, _lclose(hFile));
}

TEST(LzRead, ReadStreamKeepsWritersOut)
{
    WriteFileBytes(Dir() + "shared", ToBytes("abc"));
    INT hLz = OpenLz(Dir() + "shared");
    HANDLE h = CreateFileA((Dir() + "shared").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, GetLastError());
    h = CreateFileA((Dir() + "shared").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    EXPECT_NE(INVALID_HANDLE_VALUE, h);
    CloseHandle(h);
    LZClose(hLz);
}

TEST(LzRead, ManyStreamsReadIndependently)
{
    std::vector<Bytes> aData;
    std::vector<INT> aLz;
    for (int i = 0; i < 20; i++) {
        aData.push_back(i % 2 ? Text(5000 + i) : Random(5000 + i, i));
        std::string sPath = Dir() + "many" + std::to_string(i);
        WriteFileBytes(sPath, i % 3 ? Compress(aData.back()) : aData.back());
        aLz.push_back(OpenLz(sPath));
        ASSERT_GE(aLz.back(), 0);
    }
    std::vector<Bytes> aOut(20);
    for (bool bMore = true; bMore;) {
        bMore = false;
        for (int i = 0; i < 20; i++) {
            char a[333];
            INT n = LZRead(aLz[i], a, sizeof a);
            ASSERT_GE(n, 0);
            aOut[i].insert(aOut[i].end(), a, a + n);
            bMore = bMore || n > 0;
        }
    }
    for (int i = 0; i < 20; i++) {
        EXPECT_TRUE(aOut[i] == aData[i]) << i;
        LZClose(aLz[i]);
    }
}

// The platform's call keeps the full path in a record of 128 bytes: longer paths do not open.
TEST(LzOpenFile, OpensPathsThatFitItsRecord)
{
    Bytes aData = Text(3000);
    Bytes aFile = Compress(aData);
    std::string sBase = Dir() + "deep";
    CreateDirectoryA(sBase.c_str(), NULL);
    for (size_t nLength : {(size_t)100, (size_t)127, (size_t)128, (size_t)200}) {
        std::string sPath = sBase + "\\" + std::string(nLength - sBase.size() - 1, 'n');
        ASSERT_EQ(nLength, sPath.size());
        WriteFileBytes(sPath, aFile);
        OFSTRUCT of;
        INT hLz = LZOpenFileA((LPSTR)sPath.c_str(), &of, OF_READ | OF_SHARE_DENY_WRITE);
        if (nLength < OFS_MAXPATHNAME) {
            ASSERT_GE(hLz, 0) << nLength;
            EXPECT_STREQ(sPath.c_str(), of.szPathName);
            INT nLast;
            EXPECT_TRUE(ReadAll(hLz, 1000, &nLast) == aData) << nLength;
            LZClose(hLz);
        } else {
            EXPECT_EQ(LZERROR_BADINHANDLE, hLz) << nLength;
        }
    }
}

TEST(LzOpenFile, MissingFileIsLookedForUnderItsCompressedName)
{
    Bytes aData = Text(2000);
    WriteFileBytes(Dir() + "setup.ex_", Compress(aData));
    OFSTRUCT of;
    INT hLz = LZOpenFileA((LPSTR)(Dir() + "setup.exe").c_str(), &of, OF_READ);
    ASSERT_GE(hLz, 0);
    EXPECT_STREQ("C:\\lz\\setup.ex_", of.szPathName);
    INT nLast;
    EXPECT_TRUE(ReadAll(hLz, 999, &nLast) == aData);
    LZClose(hLz);
    EXPECT_EQ(LZERROR_BADINHANDLE, LZOpenFileA((LPSTR)(Dir() + "none.txt").c_str(), &of, OF_READ));
}

TEST(LzOpenFile, WriteModeGivesTheFileItself)
{
    WriteFileBytes(Dir() + "w", ToBytes("abc"));
    OFSTRUCT of;
    INT h = LZOpenFileA((LPSTR)(Dir() + "w").c_str(), &of, OF_WRITE);
    ASSERT_GT(h, 0);
    EXPECT_LT(h, 0x400);
    LZClose(h);
    EXPECT_EQ(HFILE_ERROR, _lclose(h));
}
