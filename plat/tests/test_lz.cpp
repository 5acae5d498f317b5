// test_lz.cpp - LZ expansion: the SZDD decoder and encoder, and the LZ calls over the platform's files.

#include "szdd.h"

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
