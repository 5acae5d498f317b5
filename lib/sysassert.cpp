// sysassert.cpp - the system's assertion report and the end of the process that follows it.

#include "platform.h"
#include "sysassert.h"

#include <stdio.h>

void SysAssertFail(const char *szCond, const char *szModule, int nLine)
{
    char szText[1024];
    char szProgram[MAX_PATH];
    const char *pszCaption = szProgram;
    DWORD nLength;
    DWORD nWritten;
    HANDLE hErr;
    int n;

    n = snprintf(szText, sizeof szText, "Assertion failed: %s, file %s, line %d", szCond ? szCond : "",
                 szModule ? szModule : "", nLine);
    if (n < 0)
        szText[0] = '\0';

    nLength = GetModuleFileNameA(NULL, szProgram, sizeof szProgram);
    if (nLength == 0 || nLength >= sizeof szProgram)
        szProgram[0] = '\0';
    for (const char *p = szProgram; *p != '\0'; p++)
        if (*p == '\\')
            pszCaption = p + 1;

    hErr = GetStdHandle(STD_ERROR_HANDLE);
    if (hErr != NULL && hErr != INVALID_HANDLE_VALUE) {
        char szLine[sizeof szText + 1];
        n = snprintf(szLine, sizeof szLine, "%s\n", szText);
        if (n > 0 && WriteFile(hErr, szLine, (DWORD)n, &nWritten, NULL))
            ExitProcess(3);
    }
    MessageBoxA(NULL, szText, pszCaption, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
    ExitProcess(3);
}
