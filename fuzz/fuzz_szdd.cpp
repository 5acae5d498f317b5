// fuzz_szdd.cpp - the SZDD decoder over arbitrary bytes, fed and drained in pieces of every size, against
// itself fed whole; and the encoder's round trip of the same bytes.

#include "lz/szdd.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

typedef std::vector<unsigned char> Bytes;

// Decodes data (after the header) for a header length, feeding nIn and draining nOut bytes at a time.
static Bytes Decode(const unsigned char *p, size_t n, uint32_t nLength, size_t nIn, size_t nOut)
{
    static szdd::Decoder decoder;
    szdd::DecoderInit(&decoder, nLength);
    Bytes out;
    Bytes buf(nOut);
    size_t nPos = 0;
    size_t nHeld = nIn < n ? nIn : n;
    for (;;) {
        size_t nUsed = 0;
        size_t k = szdd::Decode(&decoder, p + nPos, nHeld, &nUsed, buf.data(), buf.size());
        if (nUsed > nHeld || k > buf.size())
            abort();
        out.insert(out.end(), buf.begin(), buf.begin() + k);
        nPos += nUsed;
        nHeld -= nUsed;
        if (k == 0 && nUsed == 0) {
            size_t nMore = n - nPos - nHeld;
            if (nMore > nIn)
                nMore = nIn;
            if (nMore == 0)
                break;
            nHeld += nMore;
        }
    }
    if (out.size() > nLength)
        abort();
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize)
{
    if (nSize < 2)
        return 0;
    size_t nIn = 1 + pData[0] % 64;
    size_t nOut = 1 + pData[1] * 7;
    const unsigned char *p = pData + 2;
    size_t n = nSize - 2;

    // As a file: the header decides; the claimed length is capped to keep runs short.
    uint32_t nLength = 0;
    if (szdd::ParseHeader(p, n, &nLength, NULL) == szdd::kCompressed) {
        if (nLength > (1u << 20))
            nLength = 1u << 20;
        Bytes aWhole = Decode(p + szdd::kHeaderSize, n - szdd::kHeaderSize, nLength, n, 1 << 20);
        Bytes aPieces = Decode(p + szdd::kHeaderSize, n - szdd::kHeaderSize, nLength, nIn, nOut);
        if (aWhole != aPieces)
            abort();
    }

    // As data: compressed in pieces and expanded again.
    Bytes aPacked;
    szdd::Encoder encoder;
    for (size_t i = 0; i < n; i += nIn)
        encoder.Encode(p + i, n - i < nIn ? n - i : nIn, false, aPacked);
    encoder.Encode(NULL, 0, true, aPacked);
    Bytes aBack = Decode(aPacked.data(), aPacked.size(), (uint32_t)n, nIn, nOut);
    if (aBack.size() != n || (n > 0 && memcmp(aBack.data(), p, n) != 0))
        abort();
    return 0;
}
