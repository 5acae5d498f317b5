// szdd.cpp - the SZDD format: header, streaming LZSS decoder and encoder over the 4096-byte window.

#include "lz/szdd.h"

#include <string.h>

namespace szdd
{

static const unsigned char kSignature[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
static const unsigned kMask = kWindowSize - 1;

HeaderKind ParseHeader(const unsigned char *p, size_t n, uint32_t *pnLength, unsigned char *pcLastChar)
{
    if (n < kHeaderSize || memcmp(p, kSignature, sizeof kSignature) != 0)
        return kPlain;
    if (p[8] != 'A')
        return kUnknownMode;
    if (pcLastChar != nullptr)
        *pcLastChar = p[9];
    if (pnLength != nullptr)
        *pnLength = (uint32_t)p[10] | (uint32_t)p[11] << 8 | (uint32_t)p[12] << 16 | (uint32_t)p[13] << 24;
    return kCompressed;
}

void MakeHeader(unsigned char aHeader[kHeaderSize], uint32_t nLength, unsigned char cLastChar)
{
    memcpy(aHeader, kSignature, sizeof kSignature);
    aHeader[8] = 'A';
    aHeader[9] = cLastChar;
    for (int i = 0; i < 4; i++)
        aHeader[10 + i] = (unsigned char)(nLength >> (8 * i));
}

// ---------------------------------------------------------------------------------------------------------
// Decoder

void DecoderInit(Decoder *pDecoder, uint32_t nLength)
{
    memset(pDecoder->aWindow, ' ', sizeof pDecoder->aWindow);
    pDecoder->nPos = kWindowStart;
    pDecoder->nFlags = 1;
    pDecoder->nCopyPos = 0;
    pDecoder->nCopyLeft = 0;
    pDecoder->nLength = nLength;
    pDecoder->nDone = 0;
}

// Copies n bytes of a match from window position nFrom, through the window, to the output. A match may
// overlap the bytes it writes: then it repeats a pattern, byte by byte as the format requires.
static inline void CopyMatch(unsigned char *pWindow, unsigned &nPos, unsigned nFrom, unsigned n,
                             unsigned char *pOut)
{
    if (nFrom + n <= kWindowSize && nPos + n <= kWindowSize) {
        unsigned char *pTo = pWindow + nPos;
        const unsigned char *pFrom = pWindow + nFrom;
        if (nFrom < nPos && nFrom + n > nPos) {
            for (unsigned i = 0; i < n; i++)
                pTo[i] = pFrom[i];
        } else {
            memmove(pTo, pFrom, n);
        }
        memcpy(pOut, pTo, n);
        nPos = (nPos + n) & kMask;
        return;
    }
    for (unsigned i = 0; i < n; i++) {
        unsigned char c = pWindow[(nFrom + i) & kMask];
        pWindow[nPos] = c;
        nPos = (nPos + 1) & kMask;
        pOut[i] = c;
    }
}

size_t Decode(Decoder *pDecoder, const unsigned char *pIn, size_t nIn, size_t *pnUsed, unsigned char *pOut,
              size_t nOutMax)
{
    const unsigned char *pInEnd = pIn + nIn;
    const unsigned char *pNext = pIn;
    unsigned char *pWindow = pDecoder->aWindow;
    size_t nRoom = pDecoder->nLength - pDecoder->nDone;
    if (nRoom > nOutMax)
        nRoom = nOutMax;
    unsigned char *pOutNext = pOut;
    unsigned char *pOutEnd = pOut + nRoom;
    unsigned nPos = pDecoder->nPos;
    unsigned nFlags = pDecoder->nFlags;

    if (pDecoder->nCopyLeft > 0 && pOutNext < pOutEnd) {
        unsigned n = pDecoder->nCopyLeft;
        if (n > (size_t)(pOutEnd - pOutNext))
            n = (unsigned)(pOutEnd - pOutNext);
        CopyMatch(pWindow, nPos, pDecoder->nCopyPos, n, pOutNext);
        pOutNext += n;
        pDecoder->nCopyPos = (pDecoder->nCopyPos + n) & kMask;
        pDecoder->nCopyLeft -= n;
    }
    // Whole groups of eight items while the input surely holds them and the output has room for them.
    while (nFlags == 1 && pInEnd - pNext >= 1 + 2 * 8 && pOutEnd - pOutNext >= 8 * (ptrdiff_t)kMaxMatch) {
        unsigned nGroup = *pNext++;
        for (int k = 0; k < 8; k++, nGroup >>= 1) {
            if (nGroup & 1) {
                unsigned char c = *pNext++;
                pWindow[nPos] = c;
                nPos = (nPos + 1) & kMask;
                *pOutNext++ = c;
            } else {
                unsigned nFrom = pNext[0] | (pNext[1] & 0xF0) << 4;
                unsigned nLength = (pNext[1] & 0x0F) + kMinMatch;
                pNext += 2;
                CopyMatch(pWindow, nPos, nFrom, nLength, pOutNext);
                pOutNext += nLength;
            }
        }
    }
    while (pOutNext < pOutEnd) {
        if (nFlags == 1) {
            if (pNext == pInEnd)
                break;
            nFlags = *pNext++ | 0x100;
        }
        if (nFlags & 1) {
            if (pNext == pInEnd)
                break;
            unsigned char c = *pNext++;
            pWindow[nPos] = c;
            nPos = (nPos + 1) & kMask;
            *pOutNext++ = c;
        } else {
            if (pInEnd - pNext < 2)
                break;
            unsigned nFrom = pNext[0] | (pNext[1] & 0xF0) << 4;
            unsigned nLength = (pNext[1] & 0x0F) + kMinMatch;
            pNext += 2;
            unsigned n = nLength;
            if (n > (size_t)(pOutEnd - pOutNext))
                n = (unsigned)(pOutEnd - pOutNext);
            CopyMatch(pWindow, nPos, nFrom, n, pOutNext);
            pOutNext += n;
            if (n < nLength) {
                pDecoder->nCopyPos = (nFrom + n) & kMask;
                pDecoder->nCopyLeft = nLength - n;
            }
        }
        nFlags >>= 1;
    }
    pDecoder->nPos = nPos;
    pDecoder->nFlags = nFlags;
    pDecoder->nDone += (uint32_t)(pOutNext - pOut);
    *pnUsed = (size_t)(pNext - pIn);
    return (size_t)(pOutNext - pOut);
}

// ---------------------------------------------------------------------------------------------------------
// Encoder

// Matches reach back less than a whole window, so that no reader can meet a byte it is about to overwrite.
static const unsigned kMaxDistance = kWindowSize - kMaxMatch;
static const unsigned kMaxChain = 32;

Encoder::Encoder()
    : aBuf(kWindowSize + kBlock), nNext(0), nFill(0), nBase(0), nInserted(0), aHead(1u << kHashBits, 0),
      aPrev(kWindowSize, 0), nGroup(1), nItems(0)
{
    aGroup[0] = 0;
}

// How many of the first nMax bytes at p and q agree.
static inline unsigned MatchLength(const unsigned char *p, const unsigned char *q, unsigned nMax)
{
    unsigned n = 0;
    while (n + 8 <= nMax) {
        uint64_t a, b;
        memcpy(&a, p + n, 8);
        memcpy(&b, q + n, 8);
        if (a != b)
            return n + (unsigned)__builtin_ctzll(a ^ b) / 8;
        n += 8;
    }
    while (n < nMax && p[n] == q[n])
        n++;
    return n;
}

static inline unsigned Hash(const unsigned char *p)
{
    uint32_t v = (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16;
    return (v * 2654435761u) >> (32 - Encoder::kHashBits);
}

void Encoder::Insert(size_t i)
{
    uint32_t nPosition = (uint32_t)(nBase + i);
    unsigned h = Hash(&aBuf[i]);
    aPrev[nPosition & kMask] = aHead[h];
    aHead[h] = nPosition + 1;
}

// The longest match for the bytes at index i that ends before nEnd: its length (0 when below kMinMatch)
// and, through pnFrom, its file position. Every position before i is entered in the chains first.
unsigned Encoder::LongestMatch(size_t i, size_t nEnd, size_t *pnFrom)
{
    uint64_t nPosition = nBase + i;
    for (; nInserted < nPosition; nInserted++) {
        size_t j = (size_t)(nInserted - nBase);
        if (j + kMinMatch <= nFill)
            Insert(j);
    }
    unsigned nMax = nEnd - i > kMaxMatch ? kMaxMatch : (unsigned)(nEnd - i);
    if (nMax < kMinMatch)
        return 0;

    const unsigned char *p = &aBuf[i];
    unsigned nBest = 0;
    uint32_t nCandidate = aHead[Hash(p)];
    // Positions are kept in 32 bits: distances, taken modulo 2^32, stay right for a window's length.
    for (unsigned nChain = 0; nCandidate != 0 && nChain < kMaxChain; nChain++) {
        uint32_t nDistance = (uint32_t)nPosition - (nCandidate - 1);
        if (nDistance == 0 || nDistance > kMaxDistance)
            break;
        const unsigned char *q = p - nDistance;
        if (q[nBest] == p[nBest]) {
            unsigned n = MatchLength(p, q, nMax);
            if (n > nBest) {
                nBest = n;
                *pnFrom = (size_t)(nPosition - nDistance);
                if (n == nMax)
                    break;
            }
        }
        uint32_t nOlder = aPrev[(nCandidate - 1) & kMask];
        if ((uint32_t)(nCandidate - nOlder) - 1 >= kMaxDistance)
            break;
        nCandidate = nOlder;
    }
    return nBest >= kMinMatch ? nBest : 0;
}

void Encoder::PutItem(const unsigned char *p, size_t n, bool bLiteral, std::vector<unsigned char> &out)
{
    if (bLiteral)
        aGroup[0] |= (unsigned char)(1u << nItems);
    memcpy(aGroup + nGroup, p, n);
    nGroup += n;
    if (++nItems == 8)
        FlushGroup(out);
}

void Encoder::FlushGroup(std::vector<unsigned char> &out)
{
    if (nItems > 0)
        out.insert(out.end(), aGroup, aGroup + nGroup);
    aGroup[0] = 0;
    nGroup = 1;
    nItems = 0;
}

// Encodes the bytes from nNext up to nLimit; matches may extend to the end of the buffer.
void Encoder::Process(size_t nLimit, std::vector<unsigned char> &out)
{
    size_t i = nNext;
    size_t nFrom = 0;
    unsigned nLength = i < nLimit ? LongestMatch(i, nFill, &nFrom) : 0;

    while (i < nLimit) {
        if (nLength > 0 && nLength < kMaxMatch && i + 1 < nLimit) {
            // One step of lazy evaluation: a longer match at the next byte wins over this one.
            size_t nFromNext = 0;
            unsigned nLengthNext = LongestMatch(i + 1, nFill, &nFromNext);
            if (nLengthNext > nLength) {
                PutItem(&aBuf[i], 1, true, out);
                i++;
                nLength = nLengthNext;
                nFrom = nFromNext;
                continue;
            }
        }
        if (nLength > 0) {
            unsigned nRing = (unsigned)((kWindowStart + nFrom) & kMask);
            unsigned char a[2] = {(unsigned char)nRing,
                                  (unsigned char)(((nRing >> 4) & 0xF0) | (nLength - kMinMatch))};
            PutItem(a, 2, false, out);
            i += nLength;
        } else {
            PutItem(&aBuf[i], 1, true, out);
            i++;
        }
        nLength = i < nLimit ? LongestMatch(i, nFill, &nFrom) : 0;
    }
    nNext = i;
}

void Encoder::Encode(const unsigned char *pIn, size_t nIn, bool bFinal, std::vector<unsigned char> &out)
{
    while (nIn > 0) {
        if (nFill == aBuf.size()) {
            // Keep one window behind the next byte to encode, and the lookahead.
            size_t nDrop = nNext > kWindowSize ? nNext - kWindowSize : 0;
            memmove(&aBuf[0], &aBuf[nDrop], nFill - nDrop);
            nBase += nDrop;
            nNext -= nDrop;
            nFill -= nDrop;
        }
        size_t n = aBuf.size() - nFill;
        if (n > nIn)
            n = nIn;
        memcpy(&aBuf[nFill], pIn, n);
        nFill += n;
        pIn += n;
        nIn -= n;
        if (nFill > kMaxMatch + 1)
            Process(nFill - (kMaxMatch + 1), out);
    }
    if (bFinal) {
        Process(nFill, out);
        FlushGroup(out);
    }
}

} // namespace szdd
