// mksample.cpp - makes the 48 sample files of the demo medium's package, always the same: the same names,
// sizes, bytes, attributes and times on every run. The names are the installer's file table (they must agree
// with it in number and order); the package itself carries no names.
//
//   mksample FOLDER LIST
//
// FOLDER is made (it must not exist) and filled; LIST receives the files' paths, one a line, in package
// order, written with "/" between the names so that pkgtool takes them as typed. Exit code 0, or 1 with a
// message naming what failed.

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

struct Sample {
    const char *pszName;
    DWORD dwSize;
    DWORD dwAttributes; // read-only 1, hidden 2, system 4
};

static const Sample aSamples[] = {
    {"Kalmori.exe", 48128, 0},
    {"Kalmori.hlp", 23552, FILE_ATTRIBUTE_READONLY},
    {"Kalmori.cnt", 812, FILE_ATTRIBUTE_HIDDEN},
    {"Kalmori.lgo", 4096, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
    {"Trevan.lgo", 4096, 0},
    {"Trevan.pdf", 65536, FILE_ATTRIBUTE_READONLY},
    {"Katalogy\\StavPrv.kmc", 7350, 0},
    {"Katalogy\\StavPrv.bak", 7350, FILE_ATTRIBUTE_HIDDEN},
    {"Katalogy\\TvAgreg.kmc", 11264, 0},
    {"Katalogy\\TvAgreg.bak", 0, 0},
    {"Modely\\Stul.gim", 3072, 0},
    {"Modely\\Stul.pdf", 65537, FILE_ATTRIBUTE_READONLY},
    {"Modely\\Zidle.gim", 2816, 0},
    {"Modely\\Zidle.pdf", 18000, 0},
    {"Modely\\Skrin.gim", 4600, 0},
    {"Modely\\Skrin.pdf", 21000, 0},
    {"Modely\\Postel.gim", 5120, 0},
    {"Modely\\Postel.pdf", 19500, 0},
    {"Modely\\Regal.gim", 1, 0},
    {"Modely\\Regal.pdf", 16000, 0},
    {"Modely\\Komoda.gim", 3900, 0},
    {"Modely\\Komoda.pdf", 17250, 0},
    {"Modely\\Lavice.gim", 2200, 0},
    {"Modely\\Lavice.pdf", 15800, 0},
    {"Modely\\Police.gim", 1800, 0},
    {"Modely\\Police.pdf", 14100, 0},
    {"Modely\\Dvere.gim", 2600, 0},
    {"Modely\\Dvere.pdf", 20480, 0},
    {"Modely\\Okno.gim", 2400, 0},
    {"Modely\\Okno.pdf", 12900, 0},
    {"Modely\\Schody.gim", 6144, 0},
    {"Modely\\Schody.pdf", 24000, 0},
    {"Modely\\Kuchyn.gim", 8192, 0},
    {"Modely\\Kuchyn.pdf", 30000, 0},
    {"Modely\\Koupelna.gim", 7000, 0},
    {"Modely\\Koupelna.pdf", 26000, 0},
    {"Modely\\Garaz.gim", 3300, 0},
    {"Modely\\Garaz.pdf", 15000, 0},
    {"Modely\\Terasa.gim", 2700, 0},
    {"Modely\\Terasa.pdf", 13300, 0},
    {"Modely\\Plot.gim", 900, 0},
    {"Modely\\Strecha.gim", 5500, 0},
    {"Modely\\Strecha.pdf", 22500, 0},
    {"Modely\\Sklep.gim", 4100, 0},
    {"Modely\\Podkrovi.gim", 4800, 0},
    {"Modely\\Podkrovi.pdf", 19000, 0},
    {"Modely\\Zahrada.gim", 6600, 0},
    {"Modely\\Zahrada.pdf", 27000, 0},
};
static const int nSamples = (int)(sizeof aSamples / sizeof aSamples[0]);

static const char *const apszFolders[] = {"Katalogy", "Modely"};

static int Fail(const std::string &sWhat)
{
    fprintf(stderr, "mksample: %s (error %lu)\n", sWhat.c_str(), (unsigned long)GetLastError());
    return 1;
}

// A file time from a calendar time, in UTC.
static FILETIME Time(WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute)
{
    SYSTEMTIME st;
    FILETIME ft;
    memset(&st, 0, sizeof st);
    st.wYear = wYear;
    st.wMonth = wMonth;
    st.wDay = wDay;
    st.wHour = wHour;
    st.wMinute = wMinute;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

// The bytes of sample i: text for the help and logo files, pseudo-random bytes for the rest.
static void FillSample(int i, unsigned char *pBuffer, DWORD dwSize)
{
    const char *pszName = aSamples[i].pszName;
    bool bText =
        strstr(pszName, ".hlp") != NULL || strstr(pszName, ".cnt") != NULL || strstr(pszName, ".lgo") != NULL;
    uint32_t x = 2166136261u;
    for (const char *p = pszName; *p != '\0'; p++)
        x = (x ^ (unsigned char)*p) * 16777619u;
    for (DWORD n = 0; n < dwSize; n++) {
        x = x * 1664525u + 1013904223u;
        if (bText) {
            static const char szLine[] = "Kalmorist 6.1 sample data line.\r\n";
            pBuffer[n] = (unsigned char)szLine[(n + (DWORD)i) % (sizeof szLine - 1)];
        } else {
            pBuffer[n] = (unsigned char)(x >> 24);
        }
    }
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: mksample FOLDER LIST\n");
        return 2;
    }
    std::string sFolder = argv[1];
    FILE *pList = fopen(argv[2], "wb");
    if (pList == NULL)
        return Fail(std::string("cannot write the list ") + argv[2]);
    if (!CreateDirectoryA(sFolder.c_str(), NULL))
        return Fail("cannot make the folder " + sFolder);
    for (const char *pszSub : apszFolders)
        if (!CreateDirectoryA((sFolder + "\\" + pszSub).c_str(), NULL))
            return Fail(std::string("cannot make the folder ") + pszSub);

    static unsigned char aBuffer[70000];
    for (int i = 0; i < nSamples; i++) {
        std::string sPath = sFolder + "\\" + aSamples[i].pszName;
        DWORD dwSize = aSamples[i].dwSize;
        HANDLE h =
            CreateFileA(sPath.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
        if (h == INVALID_HANDLE_VALUE)
            return Fail("cannot create " + sPath);
        FillSample(i, aBuffer, dwSize);
        DWORD dwWritten = 0;
        if (dwSize > 0 && (!WriteFile(h, aBuffer, dwSize, &dwWritten, NULL) || dwWritten != dwSize))
            return Fail("cannot write " + sPath);
        FILETIME ftCreation = Time(2024, 1, 10, 9, (WORD)i);
        FILETIME ftAccess = Time(2024, 6, 1, 8, (WORD)i);
        FILETIME ftWrite = Time(2024, 3, 15, (WORD)(i % 24), (WORD)(i % 60));
        if (!SetFileTime(h, &ftCreation, &ftAccess, &ftWrite))
            return Fail("cannot set the times of " + sPath);
        CloseHandle(h);
        if (aSamples[i].dwAttributes != 0 && !SetFileAttributesA(sPath.c_str(), aSamples[i].dwAttributes))
            return Fail("cannot set the attributes of " + sPath);
        std::string sLine = sPath;
        for (char &c : sLine)
            if (c == '\\')
                c = '/';
        fprintf(pList, "%s\n", sLine.c_str());
    }
    if (fclose(pList) != 0)
        return Fail(std::string("cannot write the list ") + argv[2]);
    return 0;
}
