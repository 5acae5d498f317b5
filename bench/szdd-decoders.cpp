// szdd-decoders.cpp - the SZDD decoder of plat/ against libmspack's on the same compressed file, both in
// memory (the file read whole first, the output counted and dropped), so that only decoding is timed.
// Built by szdd.sh: g++ -O2 -I plat szdd-decoders.cpp plat/lz/szdd.cpp -lmspack

#include "lz/szdd.h"

#include <mspack.h>

#include <chrono>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

static std::vector<unsigned char> aInput;

// libmspack's file system: the input is the buffer, the output a counter.
struct MemFile {
    bool bOutput;
    size_t nPos;
};
static size_t nOutputBytes;

static mspack_file *MemOpen(mspack_system *, const char *pszName, int nMode)
{
    MemFile *p = new MemFile{nMode != MSPACK_SYS_OPEN_READ, 0};
    (void)pszName;
    return (mspack_file *)p;
}
static void MemClose(mspack_file *f)
{
    delete (MemFile *)f;
}
static int MemRead(mspack_file *f, void *pBuffer, int nBytes)
{
    MemFile *p = (MemFile *)f;
    size_t n = std::min((size_t)nBytes, aInput.size() - p->nPos);
    memcpy(pBuffer, aInput.data() + p->nPos, n);
    p->nPos += n;
    return (int)n;
}
static int MemWrite(mspack_file *, void *, int nBytes)
{
    nOutputBytes += (size_t)nBytes;
    return nBytes;
}
static int MemSeek(mspack_file *f, off_t nOffset, int nMode)
{
    MemFile *p = (MemFile *)f;
    size_t nBase = nMode == MSPACK_SYS_SEEK_START ? 0
                   : nMode == MSPACK_SYS_SEEK_CUR ? p->nPos
                                                  : aInput.size();
    p->nPos = nBase + nOffset;
    return 0;
}
static off_t MemTell(mspack_file *f)
{
    return (off_t)((MemFile *)f)->nPos;
}
static void MemMessage(mspack_file *, const char *pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    vfprintf(stderr, pszFormat, ap);
    va_end(ap);
    fputc('\n', stderr);
}
static void *MemAlloc(mspack_system *, size_t n)
{
    return malloc(n);
}
static void MemFree(void *p)
{
    free(p);
}
static void MemCopy(void *pFrom, void *pTo, size_t n)
{
    memcpy(pTo, pFrom, n);
}
static mspack_system memSystem = {MemOpen,    MemClose, MemRead, MemWrite, MemSeek, MemTell,
                                  MemMessage, MemAlloc, MemFree, MemCopy,  NULL};

static size_t DecodeOwn()
{
    uint32_t nLength = 0;
    szdd::ParseHeader(aInput.data(), aInput.size(), &nLength, NULL);
    static szdd::Decoder decoder;
    szdd::DecoderInit(&decoder, nLength);
    std::vector<unsigned char> aOut(1 << 16);
    size_t nPos = szdd::kHeaderSize, nTotal = 0;
    for (;;) {
        size_t nUsed = 0;
        size_t n = szdd::Decode(&decoder, aInput.data() + nPos, aInput.size() - nPos, &nUsed, aOut.data(),
                                aOut.size());
        nPos += nUsed;
        nTotal += n;
        if (n == 0)
            break;
    }
    return nTotal;
}

static size_t DecodeMspack()
{
    msszdd_decompressor *p = mspack_create_szdd_decompressor(&memSystem);
    nOutputBytes = 0;
    if (p->decompress(p, "in", "out") != MSPACK_ERR_OK)
        fprintf(stderr, "libmspack: error %d\n", p->last_error(p));
    mspack_destroy_szdd_decompressor(p);
    return nOutputBytes;
}

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    FILE *f = fopen(argv[1], "rb");
    if (f == NULL)
        return 1;
    unsigned char a[1 << 16];
    size_t n;
    while ((n = fread(a, 1, sizeof a, f)) > 0)
        aInput.insert(aInput.end(), a, a + n);
    fclose(f);
    struct {
        const char *pszName;
        size_t (*pfn)();
    } aDecoders[] = {{"plat/szdd", DecodeOwn}, {"libmspack", DecodeMspack}};
    for (auto &d : aDecoders) {
        double dBest = 1e9;
        size_t nOut = 0;
        for (int i = 0; i < 5; i++) {
            auto t0 = std::chrono::steady_clock::now();
            nOut = d.pfn();
            double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            dBest = std::min(dBest, dSeconds);
        }
        printf("%-10s %zu bytes out in %.3f s (best of 5): %.0f MB/s of output\n", d.pszName, nOut, dBest,
               nOut / dBest / 1e6);
    }
    return 0;
}
