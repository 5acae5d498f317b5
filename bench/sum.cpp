// sum.cpp - the package's sum reader alone, for unpack.sh: the package is read into memory first, then fed to
// PkgSumBegin/PkgSumFeed/PkgSumEnd in blocks of PKG_CHECK_BLOCK bytes, as the installer's check feeds it,
// RUNS times; prints the fastest run's rate in MB/s and the answer. No disk and no copy: the hash and the
// reading of entries, which is what the check adds to the second read of the package.
// Usage: sum PACKAGE [RUNS] (a host path; RUNS 5 unless given).

#include "package.h"

#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <fstream>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: sum PACKAGE [RUNS]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary | std::ios::ate);
    std::vector<char> a(in ? (size_t)in.tellg() : 0);
    if (!in || a.empty() || !in.seekg(0) || !in.read(a.data(), (std::streamsize)a.size())) {
        fprintf(stderr, "sum: cannot read %s\n", argv[1]);
        return 1;
    }
    int nRuns = argc == 3 ? atoi(argv[2]) : 5;
    double dBest = 0;
    int nAnswer = -1;
    for (int r = 0; r < nRuns; r++) {
        auto t0 = std::chrono::steady_clock::now();
        PkgSum *pSum = PkgSumBegin();
        if (pSum == NULL)
            return 1;
        for (size_t i = 0; i < a.size(); i += PKG_CHECK_BLOCK) {
            size_t n = a.size() - i < PKG_CHECK_BLOCK ? a.size() - i : PKG_CHECK_BLOCK;
            PkgSumFeed(pSum, a.data() + i, (int)n);
        }
        nAnswer = PkgSumEnd(pSum, 0);
        PkgSumFree(pSum);
        double d = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (r == 0 || d < dBest)
            dBest = d;
    }
    printf("%.0f MB/s over %zu bytes (fastest of %d), answer %d\n", (double)a.size() / dBest / 1e6, a.size(),
           nRuns, nAnswer);
    return nAnswer == PKG_SUM_OK ? 0 : 1;
}
