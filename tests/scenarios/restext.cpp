// restext.cpp - prints the report the installer should show, composed from its own texts: a header text
// followed by message texts, each "%s" replaced by its argument, in UTF-8. The texts are code page 1251, as
// the installer holds them, whatever the system's code page.
//
//   restext HEADER [MESSAGE ARGUMENT]...      (ARGUMENT "-" stands for none: the empty string)

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

static std::string ToUtf8(const std::string &sAnsi)
{
    WCHAR wsz[4096];
    char sz[12288];
    if (MultiByteToWideChar(1251, 0, sAnsi.c_str(), -1, wsz, 4096) <= 0)
        return std::string();
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return std::string();
    return sz;
}

static std::string FromUtf8(const char *pszUtf8)
{
    WCHAR wsz[4096];
    char sz[4096];
    if (MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, wsz, 4096) <= 0)
        return std::string();
    if (WideCharToMultiByte(1251, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return std::string();
    return sz;
}

static std::string Text(int nId)
{
    WCHAR wsz[512];
    char sz[512];
    int n = LoadStringW(GetModuleHandleA(NULL), (UINT)nId, wsz, 512);
    if (n <= 0 || (n = WideCharToMultiByte(1251, 0, wsz, n, sz, sizeof sz - 1, NULL, NULL)) <= 0) {
        fprintf(stderr, "restext: no text %d\n", nId);
        exit(1);
    }
    sz[n] = '\0';
    return sz;
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc % 2 != 0) {
        fprintf(stderr, "usage: restext HEADER [MESSAGE ARGUMENT]...\n");
        return 2;
    }
    std::string sReport = Text(atoi(argv[1]));
    for (int i = 2; i + 1 < argc; i += 2) {
        std::string sMessage = Text(atoi(argv[i]));
        std::string sArg = strcmp(argv[i + 1], "-") == 0 ? std::string() : FromUtf8(argv[i + 1]);
        size_t nAt = sMessage.find("%s");
        if (nAt != std::string::npos)
            sMessage.replace(nAt, 2, sArg);
        sReport += sMessage;
    }
    fputs(ToUtf8(sReport).c_str(), stdout);
    return 0;
}
