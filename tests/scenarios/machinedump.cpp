// machinedump.cpp - prints what a folder tree of a machine holds, one line per entry, sorted, as the
// scenario tests compare it: through the platform's own file calls, so the attributes and times are the
// ones the installer sees. Run over plat's machine or over a Wine prefix (PLAT_ROOT names either: both keep
// drive C: in drive_c and the DOS attributes in the same extended attribute).
//
//   machinedump [--no-hash] FOLDER...
//
// Lines, paths relative to the FOLDER given (with "\"), times in UTC:
//   D PATH ATTRS
//   F PATH ATTRS SIZE WRITE ACCESS CREATION HASH
//   L PATH ATTRS                       (a link: never followed)
// ATTRS are the letters R H S A of the set bits (or "-"); HASH is "-" with --no-hash, which leaves the
// files unread (reading a file may move its access time). A missing FOLDER prints "none FOLDER".

#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

static std::string Attrs(DWORD a)
{
    std::string s;
    if (a & FILE_ATTRIBUTE_READONLY)
        s += 'R';
    if (a & FILE_ATTRIBUTE_HIDDEN)
        s += 'H';
    if (a & FILE_ATTRIBUTE_SYSTEM)
        s += 'S';
    if (a & FILE_ATTRIBUTE_ARCHIVE)
        s += 'A';
    return s.empty() ? "-" : s;
}

static std::string Time(const FILETIME &ft)
{
    SYSTEMTIME st;
    char sz[64];
    if (!FileTimeToSystemTime(&ft, &st))
        return "?";
    snprintf(sz, sizeof sz, "%04u-%02u-%02uT%02u:%02u:%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
             st.wMinute, st.wSecond);
    return sz;
}

// FNV-1a over the file's bytes: enough to tell contents apart in a test.
static std::string Hash(const std::string &sPath)
{
    HANDLE h = CreateFileA(sPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "unreadable";
    uint64_t x = 14695981039346656037ull;
    static unsigned char aBuffer[65536];
    DWORD n = 0;
    while (ReadFile(h, aBuffer, sizeof aBuffer, &n, NULL) && n > 0)
        for (DWORD i = 0; i < n; i++)
            x = (x ^ aBuffer[i]) * 1099511628211ull;
    CloseHandle(h);
    char sz[32];
    snprintf(sz, sizeof sz, "%016llx", (unsigned long long)x);
    return sz;
}

static bool bHash = true;

static void Walk(const std::string &sRoot, const std::string &sRelative, std::vector<std::string> *pLines)
{
    std::string sFolder = sRelative.empty() ? sRoot : sRoot + "\\" + sRelative;
    WIN32_FIND_DATAA fd;
    HANDLE hFind = FindFirstFileA((sFolder + "\\*").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    do {
        if (strcmp(fd.cFileName, ".") == 0 || strcmp(fd.cFileName, "..") == 0)
            continue;
        std::string sName = sRelative.empty() ? fd.cFileName : sRelative + "\\" + fd.cFileName;
        DWORD a = fd.dwFileAttributes;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            pLines->push_back("L " + sName + " " + Attrs(a));
        } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
            pLines->push_back("D " + sName + " " + Attrs(a));
            Walk(sRoot, sName, pLines);
        } else {
            char szSize[32];
            snprintf(szSize, sizeof szSize, "%lu", (unsigned long)fd.nFileSizeLow);
            pLines->push_back("F " + sName + " " + Attrs(a) + " " + szSize + " " + Time(fd.ftLastWriteTime) +
                              " " + Time(fd.ftLastAccessTime) + " " + Time(fd.ftCreationTime) + " " +
                              (bHash ? Hash(sFolder + "\\" + fd.cFileName) : std::string("-")));
        }
    } while (FindNextFileA(hFind, &fd));
    FindClose(hFind);
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--no-hash") == 0) {
            bHash = false;
            continue;
        }
        DWORD a = GetFileAttributesA(argv[i]);
        if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            printf("none %s\n", argv[i]);
            continue;
        }
        std::vector<std::string> aLines;
        Walk(argv[i], "", &aLines);
        std::sort(aLines.begin(), aLines.end(), [](const std::string &a, const std::string &b) {
            return a.compare(2, std::string::npos, b, 2, std::string::npos) < 0;
        });
        for (const std::string &s : aLines)
            printf("%s\n", s.c_str());
    }
    return 0;
}
