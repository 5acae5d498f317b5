// szdd.h - the SZDD format of the platform's LZ file compression: a 14-byte header, then LZSS data over a
// 4096-byte window. Plain functions over memory, with no file system of their own: the LZ expansion layer
// reads through the decoder, and the package builder compresses with the encoder (on both targets).
//
// The lz group's header: lz.cpp (_lopen, _lclose, LZInit, LZOpenFileA, LZRead, LZClose) needs this from
// szdd.cpp, and from kernel/ (kernel.h) the file calls, full paths and the fault switch; it gives the rest of
// plat/ nothing but the Win32 calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

namespace szdd
{

const size_t kHeaderSize = 14;
const unsigned kWindowSize = 4096;
const unsigned kWindowStart = kWindowSize - 16; // where the first byte of the file is written
const unsigned kMinMatch = 3;
const unsigned kMaxMatch = 18;

enum HeaderKind {
    kPlain,       // too short or without the signature: the file is read unchanged
    kCompressed,  // signature and mode 'A'
    kUnknownMode, // signature with another mode: an error
};

// Examines the first bytes of a file (n of them, fewer than kHeaderSize meaning the file is that short).
// For kCompressed, *pnLength receives the expanded length and *pcLastChar the name's missing last character.
HeaderKind ParseHeader(const unsigned char *p, size_t n, uint32_t *pnLength, unsigned char *pcLastChar);
void MakeHeader(unsigned char aHeader[kHeaderSize], uint32_t nLength, unsigned char cLastChar);

// A streaming decoder of the data after the header: any split of the input gives the same output, and it
// never produces more than the header's length. Its memory is the window and a few counters.
struct Decoder {
    unsigned char aWindow[kWindowSize];
    unsigned nPos;      // where the next byte goes in the window
    unsigned nFlags;    // flag bits not yet used, above them a marker bit; 1 when a new flag byte is due
    unsigned nCopyPos;  // a match cut short by a full output: window position of its next byte
    unsigned nCopyLeft; // and the number of its bytes still to come
    uint32_t nLength;   // the expanded length from the header
    uint32_t nDone;     // bytes produced so far
};

void DecoderInit(Decoder *pDecoder, uint32_t nLength);

// Decodes from pIn (nIn bytes) into pOut (room for nOutMax) and returns the bytes produced; *pnUsed receives
// the input consumed. It stops when the output is full, at the header's length, or when the input left
// holds no whole item (a match needs two bytes): the caller then supplies the unconsumed rest again with
// more input after it.
size_t Decode(Decoder *pDecoder, const unsigned char *pIn, size_t nIn, size_t *pnUsed, unsigned char *pOut,
              size_t nOutMax);

inline bool DecoderFinished(const Decoder *pDecoder)
{
    return pDecoder->nDone == pDecoder->nLength;
}

// A streaming encoder: greedy longest matches (with one step of lazy evaluation) found through hash chains.
// Memory is fixed: a window and lookahead buffer and the chain tables.
class Encoder
{
  public:
    Encoder();
    // Compresses the next piece of the file and appends the compressed bytes to out; bFinal on the last
    // call flushes everything. The header is the caller's (MakeHeader).
    void Encode(const unsigned char *pIn, size_t nIn, bool bFinal, std::vector<unsigned char> &out);

    static const unsigned kHashBits = 15;

  private:
    static const size_t kBlock = 1 << 16;
    void Process(size_t nEnd, std::vector<unsigned char> &out);
    void Insert(size_t i);
    unsigned LongestMatch(size_t i, size_t nEnd, size_t *pnFrom);
    void PutItem(const unsigned char *p, size_t n, bool bLiteral, std::vector<unsigned char> &out);
    void FlushGroup(std::vector<unsigned char> &out);

    std::vector<unsigned char> aBuf; // the window behind nNext and the input not yet encoded
    size_t nNext;                    // next byte to encode, as an index into aBuf
    size_t nFill;                    // bytes held in aBuf
    uint64_t nBase;                  // file position of aBuf[0]
    uint64_t nInserted;              // file positions below this are in the hash chains
    std::vector<uint32_t> aHead;     // per hash: 1 + the latest file position with it (mod 2^32), 0: none
    std::vector<uint32_t> aPrev;     // per window slot: 1 + the previous position of the same hash
    unsigned char aGroup[1 + 2 * 8]; // the flag byte and up to eight items being collected
    size_t nGroup;
    unsigned nItems;
};

} // namespace szdd
