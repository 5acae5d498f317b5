// sysassert.cpp - the system's assertion report and the end of the process that follows it.

#include "platform.h"
#include "sysassert.h"

#include <stdio.h>

// The report goes to standard error when the process has one, else into a message box shown through the
// wide call (the condition's text is code page 1251, as every text of the program), captioned with the
// program's file name as the platform gives it in UTF-16.
void SysAssertFail(const char *szCond, const char *szModule, int nLine)
{
    char szText[1024];
    WCHAR wszText[1024];
    WCHAR wszProgram[MAX_PATH];
    const WCHAR *pwszCaption = wszProgram;
    DWORD nLength;
    DWORD nWritten;
    HANDLE hErr;
    int n;

    n = snprintf(szText, sizeof szText, "Assertion failed: %s, file %s, line %d", szCond ? szCond : "",
                 szModule ? szModule : "", nLine);
    if (n < 0)
        szText[0] = '\0';

    hErr = GetStdHandle(STD_ERROR_HANDLE);
    if (hErr != NULL && hErr != INVALID_HANDLE_VALUE) {
        char szLine[sizeof szText + 1];
        n = snprintf(szLine, sizeof szLine, "%s\n", szText);
        if (n > 0 && WriteFile(hErr, szLine, (DWORD)n, &nWritten, NULL))
            ExitProcess(3);
    }

    nLength = GetModuleFileNameW(NULL, wszProgram, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH)
        wszProgram[0] = 0;
    for (const WCHAR *p = wszProgram; *p != 0; p++)
        if (*p == '\\')
            pwszCaption = p + 1;
    if (MultiByteToWideChar(1251, 0, szText, -1, wszText, sizeof wszText / sizeof wszText[0]) <= 0)
        wszText[0] = 0;
    MessageBoxW(NULL, wszText, pwszCaption, MB_OK | MB_ICONSTOP | MB_TASKMODAL | MB_SETFOREGROUND);
    ExitProcess(3);
}
