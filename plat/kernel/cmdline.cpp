// cmdline.cpp - command lines split into arguments and joined from them by the platform's rules.

#include "kernel/kernel.h"

namespace plat
{

std::vector<std::string> SplitCommandLine(const std::string &sLine)
{
    std::vector<std::string> aArgs;
    const char *p = sLine.c_str();
    std::string sArg;
    bool bQuoted = false;

    // The program's name: quotes group and go, backslashes are plain characters.
    while (*p != '\0' && (bQuoted || (*p != ' ' && *p != '\t'))) {
        if (*p == '"')
            bQuoted = !bQuoted;
        else
            sArg += *p;
        p++;
    }
    aArgs.push_back(sArg);
    bQuoted = false;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            p++;
        if (*p == '\0')
            break;
        sArg.clear();
        for (;;) {
            size_t nSlashes = 0;
            while (*p == '\\') {
                p++;
                nSlashes++;
            }
            bool bCopy = true;
            if (*p == '"') {
                if (nSlashes % 2 == 0) {
                    if (bQuoted && p[1] == '"') {
                        p++; // "" inside quotes: one quote, still inside
                    } else {
                        bCopy = false;
                        bQuoted = !bQuoted;
                    }
                }
                nSlashes /= 2;
            }
            sArg.append(nSlashes, '\\');
            if (*p == '\0' || (!bQuoted && (*p == ' ' || *p == '\t')))
                break;
            if (bCopy)
                sArg += *p;
            p++;
        }
        aArgs.push_back(sArg);
    }
    return aArgs;
}

std::string JoinCommandLine(const std::vector<std::string> &aArgs)
{
    std::string sLine;
    for (size_t i = 0; i < aArgs.size(); i++) {
        const std::string &s = aArgs[i];
        if (i > 0)
            sLine += ' ';
        if (i == 0) {
            bool bQuote = s.empty() || s.find_first_of(" \t") != std::string::npos;
            sLine += bQuote ? '"' + s + '"' : s;
            continue;
        }
        if (!s.empty() && s.find_first_of(" \t\"") == std::string::npos) {
            sLine += s;
            continue;
        }
        sLine += '"';
        size_t nSlashes = 0;
        for (char c : s) {
            if (c == '\\') {
                nSlashes++;
                continue;
            }
            sLine.append(c == '"' ? nSlashes * 2 + 1 : nSlashes, '\\');
            nSlashes = 0;
            sLine += c;
        }
        sLine.append(nSlashes * 2, '\\'); // before the closing quote
        sLine += '"';
    }
    return sLine;
}

} // namespace plat
