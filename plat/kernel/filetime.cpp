// filetime.cpp - file times: FILETIME counts and the host's times, and the calendar (proleptic Gregorian,
// UTC): FileTimeToSystemTime, SystemTimeToFileTime, GetSystemTimeAsFileTime.

#include "kernel/file.h"

#include <time.h>

namespace plat
{

// Ticks (100 ns) from 1601-01-01 to 1970-01-01.
static const int64_t EPOCH_DIFF = 116444736000000000LL;

FILETIME FileTimeFromTicks(int64_t n)
{
    FILETIME ft;
    ft.dwLowDateTime = (DWORD)((uint64_t)n & 0xFFFFFFFFu);
    ft.dwHighDateTime = (DWORD)((uint64_t)n >> 32);
    return ft;
}

int64_t TicksFromFileTime(const FILETIME &ft)
{
    return (int64_t)(((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime);
}

FILETIME FileTimeFromTimespec(const struct timespec &ts)
{
    return FileTimeFromTicks((int64_t)ts.tv_sec * 10000000 + ts.tv_nsec / 100 + EPOCH_DIFF);
}

FILETIME FileTimeFromStatx(const struct statx_timestamp &t)
{
    struct timespec ts = {(time_t)t.tv_sec, (long)t.tv_nsec};
    return FileTimeFromTimespec(ts);
}

// From the unsigned count, so that every time (up to all bits set) converts without an overflow; the epoch
// difference is a whole number of seconds.
struct timespec TimespecFromFileTime(const FILETIME &ft)
{
    uint64_t n = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    struct timespec ts;
    ts.tv_sec = (time_t)((int64_t)(n / 10000000) - EPOCH_DIFF / 10000000);
    ts.tv_nsec = (long)(n % 10000000 * 100);
    return ts;
}

} // namespace plat

using namespace plat;

// Calendar times (proleptic Gregorian, UTC).

static const int aMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

static bool IsLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 1601-01-01 to a date, and back.
static int64_t DaysFromDate(int y, int m, int d)
{
    int64_t nYears = y - 1601;
    int64_t n = nYears * 365 + nYears / 4 - nYears / 100 + nYears / 400;
    for (int i = 0; i < m - 1; i++)
        n += aMonthDays[i] + (i == 1 && IsLeapYear(y));
    return n + d - 1;
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    if (lpFileTime == NULL || lpSystemTime == NULL || (lpFileTime->dwHighDateTime & 0x80000000u))
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    int64_t n = TicksFromFileTime(*lpFileTime);
    int64_t nDays = n / 864000000000LL;
    int64_t nRest = n % 864000000000LL;
    lpSystemTime->wDayOfWeek = (WORD)((nDays + 1) % 7); // 1601-01-01 was a Monday
    lpSystemTime->wMilliseconds = (WORD)(nRest / 10000 % 1000);
    lpSystemTime->wSecond = (WORD)(nRest / 10000000 % 60);
    lpSystemTime->wMinute = (WORD)(nRest / 600000000 % 60);
    lpSystemTime->wHour = (WORD)(nRest / 36000000000LL);
    // Whole 400-year cycles first, then years.
    int y = 1601 + (int)(nDays / 146097) * 400;
    nDays %= 146097;
    for (;;) {
        int nYearDays = IsLeapYear(y) ? 366 : 365;
        if (nDays < nYearDays)
            break;
        nDays -= nYearDays;
        y++;
    }
    int m = 0;
    for (;; m++) {
        int nMonthDays = aMonthDays[m] + (m == 1 && IsLeapYear(y));
        if (nDays < nMonthDays)
            break;
        nDays -= nMonthDays;
    }
    lpSystemTime->wYear = (WORD)y;
    lpSystemTime->wMonth = (WORD)(m + 1);
    lpSystemTime->wDay = (WORD)(nDays + 1);
    return TRUE;
}

BOOL WINAPI SystemTimeToFileTime(const SYSTEMTIME *lpSystemTime, LPFILETIME lpFileTime)
{
    if (lpSystemTime == NULL || lpFileTime == NULL)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    const SYSTEMTIME &t = *lpSystemTime;
    if (t.wYear < 1601 || t.wYear > 30828 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > aMonthDays[t.wMonth - 1] + (t.wMonth == 2 && IsLeapYear(t.wYear)) || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    uint64_t n = (uint64_t)DaysFromDate(t.wYear, t.wMonth, t.wDay);
    n = ((n * 24 + t.wHour) * 60 + t.wMinute) * 60 + t.wSecond;
    n = n * 10000000 + (uint64_t)t.wMilliseconds * 10000;
    if (n > (uint64_t)INT64_MAX) // beyond the last time a FILETIME holds (30828-09-14 02:48:05.477)
        return Fail(ERROR_INVALID_PARAMETER, FALSE);
    *lpFileTime = FileTimeFromTicks((int64_t)n);
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    *lpSystemTimeAsFileTime = FileTimeFromTimespec(ts);
}
