// scenarios.cpp - what the sweep knows before it starts: the scenarios, the sweep's settings, and how it
// reads a transcript (the final report, the upgrade page's box), a package list's times and a shell link.

#include "faultsweep.h"

namespace faultsweep
{

const std::vector<Scenario> kScenarios = {
    {"first-install", "next cancel", false, false, false, 0, false, false},
    {"reinstall-keep", "next next cancel", true, false, false, 0, false, false},
    {"reinstall-replace", "next check next cancel", true, false, false, 0, false, false},
    {"upgrade-remove", "next next cancel", false, true, true, 0, false, false},
    {"upgrade-keep", "next uncheck next cancel", false, true, false, 0, false, false},
    {"upgrade-nested-data", "next next cancel", false, true, true, 0, false, true},
    {"uninstall-keep", "next next cancel", true, false, false, 1, false, false},
    {"uninstall-delete", "next check next cancel", true, false, false, 2, false, false},
    {"install-over-kept", "next cancel", false, false, false, 0, true, false},
};

Sweep gSweep;

// "2001-02-03T04:05:06.1234567Z" as 100 ns ticks since 1601.
uint64_t ParseIsoTime(const std::string &s)
{
    struct tm tm = {};
    if (s.size() < 19)
        return 0;
    tm.tm_year = atoi(s.substr(0, 4).c_str()) - 1900;
    tm.tm_mon = atoi(s.substr(5, 2).c_str()) - 1;
    tm.tm_mday = atoi(s.substr(8, 2).c_str());
    tm.tm_hour = atoi(s.substr(11, 2).c_str());
    tm.tm_min = atoi(s.substr(14, 2).c_str());
    tm.tm_sec = atoi(s.substr(17, 2).c_str());
    int64_t t = (int64_t)timegm(&tm);
    uint64_t nFrac = 0;
    size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        int nDigits = 0;
        for (i++; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++, nDigits++)
            if (nDigits < 7)
                nFrac = nFrac * 10 + (uint64_t)(s[i] - '0');
        for (; nDigits < 7; nDigits++)
            nFrac *= 10;
    }
    return (uint64_t)(t + 11644473600ll) * 10000000ull + nFrac;
}

// The report of a transcript: the final page's text lines, blanks at their ends and blank lines around
// them removed; "" when no final page was shown.
std::string ReportOf(const std::string &sTranscript)
{
    std::vector<std::string> lines = Split(sTranscript, '\n');
    std::vector<std::string> block;
    for (const std::string &sLine : lines) {
        if (sLine.compare(0, 4, "=== ") == 0) {
            block.clear();
            continue;
        }
        if (sLine.compare(0, 4, "--- ") == 0) {
            bool bFinal = false;
            for (const std::string &b : block)
                if (b.compare(0, 2, "> ") == 0 || b.compare(0, 2, "  ") == 0)
                    if (b.compare(2, strlen("[Закрыть]"), "[Закрыть]") == 0)
                        bFinal = true;
            if (bFinal) {
                std::vector<std::string> text;
                for (const std::string &b : block) {
                    if (b.size() >= 3 && (b[0] == '>' || b[0] == ' ') && b[1] == ' ' && b[2] == '[')
                        continue;
                    std::string t = b.size() >= 2 ? b.substr(2) : std::string();
                    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r'))
                        t.pop_back();
                    text.push_back(t);
                }
                while (!text.empty() && text.front().empty())
                    text.erase(text.begin());
                while (!text.empty() && text.back().empty())
                    text.pop_back();
                std::string r;
                for (const std::string &t : text)
                    r += t + "\n";
                return r;
            }
            block.clear();
            continue;
        }
        block.push_back(sLine);
    }
    return "";
}

// What a shell link says: its target (the LinkInfo's local path) and its working folder; false when the
// file is not a whole link.
bool ReadLink(const std::string &s, std::string *psTarget, std::string *psWorkDir)
{
    auto U16 = [&](size_t at) -> uint32_t {
        return at + 2 <= s.size() ? (uint32_t)(unsigned char)s[at] | (uint32_t)(unsigned char)s[at + 1] << 8
                                  : 0;
    };
    auto U32 = [&](size_t at) -> uint32_t { return at + 4 <= s.size() ? U16(at) | U16(at + 2) << 16 : 0; };
    if (s.size() < 0x4c || U32(0) != 0x4c)
        return false;
    uint32_t nFlags = U32(0x14);
    size_t at = 0x4c;
    if (nFlags & 1) // an item list
        at += 2 + U16(at);
    psTarget->clear();
    psWorkDir->clear();
    if (nFlags & 2) { // LinkInfo
        uint32_t nSize = U32(at);
        if (nSize < 0x1c || at + nSize > s.size())
            return false;
        if (U32(at + 8) & 1) { // a local path
            size_t p = at + U32(at + 16);
            while (p < at + nSize && s[p] != '\0')
                *psTarget += s[p++];
            size_t q = at + U32(at + 24);
            while (q < at + nSize && s[q] != '\0')
                *psTarget += s[q++];
        }
        at += nSize;
    }
    // The strings, each a count and that many characters: name, relative path, working folder, ...
    for (uint32_t nBit : {4u, 8u, 0x10u, 0x20u, 0x40u}) {
        if (!(nFlags & nBit))
            continue;
        uint32_t n = U16(at);
        size_t nBytes = (nFlags & 0x80) ? 2 * (size_t)n : n;
        if (at + 2 + nBytes > s.size())
            return false;
        std::string sText;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t c = (nFlags & 0x80) ? U16(at + 2 + 2 * i) : (unsigned char)s[at + 2 + i];
            sText += c < 0x80 ? (char)c : '?';
        }
        if (nBit == 0x10)
            *psWorkDir = sText;
        at += 2 + nBytes;
    }
    return true;
}

// True when the transcript shows the upgrade page's check box on as the user went on from it.
bool RemovalChosen(const std::string &sTranscript)
{
    bool bChecked = false;
    for (const std::string &sLine : Split(sTranscript, '\n')) {
        if (sLine.compare(0, 4, "=== ") == 0)
            bChecked = false;
        else if (sLine.size() > 6 && sLine.compare(2, 4, "[x] ") == 0)
            bChecked = true;
        else if (sLine == "--- next" && bChecked)
            return true;
    }
    return false;
}

} // namespace faultsweep
