// wizutl.cpp - the wizard's utilities for the application: building a page list.

#include "wizutl.h"
#include "sysassert.h"

static const char szThisModule[] = "app\\WIZUTL";

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
    for (pTmp = pPages; pTmp->nKind != WIZ_PAGE_END; pTmp++)
        ASSERT(pTmp+1-pPages < nSize);
    if (pTmp + 1 - pPages >= nSize)
        return NULL;
    pTmp[1].nKind = WIZ_PAGE_END;
    pTmp->nKind = nKind;
    return pTmp;
}
