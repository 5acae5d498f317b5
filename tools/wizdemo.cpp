// wizdemo.cpp - the wizard demonstration: the engine runs a page list of one page of each kind (picture,
// text with a long scrolling text, option, final) with the installer's configuration texts.

#include "charstr.h"
#include "resource.h"
#include "wizard.h"
#include "wizutl.h"

#include <stdlib.h>

#define DEMO_PAGES 10
#define IDS_DEMO_TEXT 1900 // 1900-1902: the text page's text, in parts
#define IDS_DEMO_LABEL 1903
#define IDS_DEMO_ON 1910
#define IDS_DEMO_OFF 1911

// The text page's text: the parts joined, each line break made the CR LF pair an edit control wants.
static int DemoLongText(void)
{
    char szText[2048];
    char *pszOut;
    int n = 0;
    int h;

    szText[0] = EOS;
    for (int nId = IDS_DEMO_TEXT; nId <= IDS_DEMO_TEXT + 2; nId++) {
        h = ResLoadString(nId);
        if (ResGetString(h) != NULL)
            StrAppend(szText, ResGetString(h), sizeof szText);
        ResFree(h);
    }
    pszOut = (char *)malloc(2 * sizeof szText);
    if (pszOut == NULL)
        return 0;
    for (const char *s = szText; *s != EOS; s++) {
        if (*s == '\n')
            pszOut[n++] = '\r';
        pszOut[n++] = *s;
    }
    pszOut[n] = EOS;
    h = ResAddString(pszOut);
    if (h == 0)
        free(pszOut);
    return h;
}

int InstallMain(void)
{
    WizConfig config;
    WizPage aPages[DEMO_PAGES];
    WizPage *pPage;
    WizPage *pOption;

    WizConfigLoad(&config, IDS_TITLE);
    WizSetConfig(&config);

    WizPagesInit(aPages);
    pPage = WizPagesAdd(aPages, WIZ_PAGE_PICTURE, DEMO_PAGES);
    pPage->hImage = ResLoadBitmap(IDB_WELCOME);
    pPage->hText = ResLoadString(IDS_WELCOME);
    pPage = WizPagesAdd(aPages, WIZ_PAGE_TEXT, DEMO_PAGES);
    pPage->hText = DemoLongText();
    pPage->hLabel = ResLoadString(IDS_DEMO_LABEL);
    pOption = WizPagesAdd(aPages, WIZ_PAGE_OPTION, DEMO_PAGES);
    pOption->hText = ResLoadString(IDS_REINSTALL);
    pOption->hLabel = ResLoadString(IDS_REINSTALL_CHECK);
    pOption->bChecked = 0;

    if (WizRun(aPages)) {
        WizSetFinalText(ResLoadString(IDS_INSTALLING));
        WizSetFinalText(ResLoadString(pOption->bChecked ? IDS_DEMO_ON : IDS_DEMO_OFF));
        WizWait();
    }
    return 0;
}
