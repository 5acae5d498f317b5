// wizutl.cpp - the wizard's utilities for the application: its configuration, building a page list, and the
// result report.

#include "wizutl.h"
#include "charstr.h"
#include "sysassert.h"

#include <stdio.h>
#include <stdlib.h>

static const char szThisModule[] = "app\\WIZUTL";

// ---------------------------------------------------------------------------------------------------------
// Configuration

void WizConfigLoad(WizConfig *pConfig, int nFirstId)
{
    ASSERT(pConfig != NULL);
    ASSERT(nFirstId > 0);
    pConfig->nReserved = 1;
    pConfig->hTitle = ResLoadString(nFirstId);
    pConfig->hBack = ResLoadString(nFirstId + 1);
    pConfig->hNext = ResLoadString(nFirstId + 2);
    pConfig->hFinish = ResLoadString(nFirstId + 3);
    pConfig->hCancel = ResLoadString(nFirstId + 4);
    pConfig->hClose = ResLoadString(nFirstId + 5);
}

// ---------------------------------------------------------------------------------------------------------
// Page list

void WizPagesInit(WizPage *pPages)
{
    ASSERT(pPages != NULL);
    pPages[0].nKind = WIZ_PAGE_END;
}

WizPage *WizPagesAdd(WizPage *pPages, int nKind, int nSize)
{
    WizPage *pTmp;

    ASSERT(pPages != NULL);
    ASSERT(nSize > 1);
    // clang-format off
    for (pTmp = pPages; pTmp->nKind != WIZ_PAGE_END; pTmp++)
        ASSERT(pTmp+1-pPages < nSize);
    // clang-format on
    if (pTmp + 1 - pPages >= nSize)
        return NULL;
    pTmp[1].nKind = WIZ_PAGE_END;
    pTmp->nKind = nKind;
    return pTmp;
}

// ---------------------------------------------------------------------------------------------------------
// Result report: a header text followed by the messages added under it.

void WizResultInit(WizResult *pRes, int nHeader)
{
    ASSERT(pRes != NULL);
    pRes->nInitial = nHeader;
    pRes->hReport = ResLoadString(nHeader);
    pRes->nHeader = nHeader;
}

// Makes nHeader the header in force (a new header discards the messages under the old one) and appends the
// message nMessage, its "%s" replaced by szArg (empty when null). A message that cannot be formed is dropped.
void WizResultAdd(WizResult *pRes, int nHeader, int nMessage, const char *szArg)
{
    char *pszMessage = NULL;
    const char *pszFormat;
    int hMessage;

    ASSERT(pRes != NULL);
    if (nHeader != pRes->nHeader) {
        ResFree(pRes->hReport);
        pRes->hReport = ResLoadString(nHeader);
        pRes->nHeader = nHeader;
    }
    if (nMessage == 0)
        return;
    hMessage = ResLoadString(nMessage);
    pszFormat = ResGetString(hMessage);
    if (pszFormat != NULL) {
        const char *pszArg = szArg != NULL ? szArg : "";
        int nSize = StrLength(pszFormat) + StrLength(pszArg) + 1;
        pszMessage = (char *)malloc(nSize);
        if (pszMessage != NULL)
            snprintf(pszMessage, nSize, pszFormat, pszArg);
    }
    ResFree(hMessage);
    if (pszMessage != NULL) {
        const char *pszReport = ResGetString(pRes->hReport);
        if (pszReport != NULL) {
            int nSize = StrLength(pszReport) + StrLength(pszMessage) + 1;
            char *pszNew = (char *)malloc(nSize);
            if (pszNew != NULL) {
                StrCopy(pszNew, pszReport, nSize);
                StrAppend(pszNew, pszMessage, nSize);
                ResFree(pRes->hReport);
                pRes->hReport = ResAddString(pszNew);
                if (pRes->hReport == 0)
                    free(pszNew);
            }
        }
        free(pszMessage);
    }
}

int WizResultText(const WizResult *pRes)
{
    ASSERT(pRes != NULL);
    return pRes->hReport;
}

int WizResultOk(const WizResult *pRes)
{
    ASSERT(pRes != NULL);
    return pRes->nHeader == pRes->nInitial;
}
