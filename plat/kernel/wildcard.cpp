// wildcard.cpp - matching names against the platform's wildcard patterns, without case.

#include "kernel/kernel.h"

namespace plat
{

bool MatchWildcards(const std::string &sPattern, const std::string &sName, bool bDosTail)
{
    std::string p = UpperName(sPattern), n = UpperName(sName);
    size_t i = 0, j = 0;
    size_t nStar = std::string::npos, nMark = 0;

    // Greedy with one step of backtracking to the last star: linear in practice, never exponential.
    while (j < n.size()) {
        if (i < p.size() && (p[i] == '?' || p[i] == n[j]) && p[i] != '*') {
            i++;
            j++;
        } else if (i < p.size() && p[i] == '*') {
            nStar = i++;
            nMark = j;
        } else if (nStar != std::string::npos) {
            i = nStar + 1;
            j = ++nMark;
        } else {
            return false;
        }
    }
    while (i < p.size() && (p[i] == '*' || (bDosTail && p[i] == '.')))
        i++;
    return i == p.size();
}

} // namespace plat
