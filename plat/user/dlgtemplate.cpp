// dlgtemplate.cpp - the dialog template (DLGTEMPLATE or DLGTEMPLATEEX) read into the window records of a
// dialog and its controls: ids, classes, styles, geometry in dialog units, texts, font, default button.

#include "user/user.h"

#include <string.h>

#include <memory>

namespace plat
{

namespace
{

struct Reader {
    const unsigned char *p, *pEnd;
    bool bBad = false;
    unsigned Word()
    {
        if (pEnd - p < 2) {
            bBad = true;
            return 0;
        }
        unsigned w = (unsigned)(p[0] | p[1] << 8);
        p += 2;
        return w;
    }
    DWORD Dword()
    {
        unsigned lo = Word();
        return lo | (DWORD)Word() << 16;
    }
    int Short()
    {
        return (int)(int16_t)Word();
    }
    // A text, an ordinal (0xFFFF then the number) or nothing (0). Texts come back in the ANSI code page.
    void SzOrOrd(std::string &s, int &nOrd)
    {
        s.clear();
        nOrd = -1;
        unsigned w = Word();
        if (w == 0xFFFF) {
            nOrd = (int)Word();
            return;
        }
        while (w != 0 && !bBad) {
            int b = UnicodeToCodePage(1251, (char16_t)w); // kept as the windows keep their texts
            s += (char)(b < 0 ? '?' : b);
            w = Word();
        }
    }
    void Align(const unsigned char *pBase)
    {
        size_t n = (size_t)(p - pBase);
        size_t nPad = (4 - n % 4) % 4;
        if ((size_t)(pEnd - p) < nPad)
            p = pEnd;
        else
            p += nPad;
    }
};

} // namespace

static WndKind KindOf(const std::string &sClass, DWORD dwStyle)
{
    if (strcasecmp(sClass.c_str(), "Button") == 0) {
        switch (dwStyle & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            return KindPushButton;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
            return KindCheckBox;
        default:
            return KindOther;
        }
    }
    if (strcasecmp(sClass.c_str(), "Edit") == 0)
        return KindEdit;
    if (strcasecmp(sClass.c_str(), "Static") == 0) {
        DWORD dwType = dwStyle & SS_TYPEMASK;
        if (dwType == SS_BITMAP)
            return KindPicture;
        if ((dwType >= SS_BLACKRECT && dwType <= SS_WHITEFRAME) ||
            (dwType >= SS_ETCHEDHORZ && dwType <= SS_ETCHEDFRAME))
            return KindEtched;
        if (dwType == SS_LEFT || dwType == SS_CENTER || dwType == SS_RIGHT || dwType == SS_SIMPLE ||
            dwType == SS_LEFTNOWORDWRAP)
            return KindStatic;
    }
    return KindOther;
}

static std::string ClassOfOrdinal(int nOrd)
{
    switch (nOrd) {
    case 0x80:
        return "Button";
    case 0x81:
        return "Edit";
    case 0x82:
        return "Static";
    case 0x83:
        return "ListBox";
    case 0x84:
        return "ScrollBar";
    case 0x85:
        return "ComboBox";
    default:
        return "#" + std::to_string(nOrd);
    }
}

// Builds the dialog and its controls from a DLGTEMPLATE or DLGTEMPLATEEX; null when the template is
// malformed.
Wnd *BuildFromTemplate(const unsigned char *pData, DWORD nSize)
{
    Reader r{pData, pData + nSize};
    std::unique_ptr<Wnd> pDlg(new Wnd);
    bool bEx = nSize >= 4 && r.p[0] == 1 && r.p[1] == 0 && r.p[2] == 0xFF && r.p[3] == 0xFF;
    unsigned nItems;
    std::string s;
    int nOrd;

    pDlg->nKind = KindDialog;
    pDlg->sClass = "#32770";
    if (bEx) {
        r.Dword(); // version and signature
        r.Dword(); // help id
        pDlg->dwExStyle = r.Dword();
        pDlg->dwStyle = r.Dword();
    } else {
        pDlg->dwStyle = r.Dword();
        pDlg->dwExStyle = r.Dword();
    }
    nItems = r.Word();
    pDlg->x = r.Short();
    pDlg->y = r.Short();
    pDlg->cx = r.Short();
    pDlg->cy = r.Short();
    r.SzOrOrd(s, nOrd); // menu
    r.SzOrOrd(s, nOrd); // class
    r.SzOrOrd(pDlg->sText, nOrd);
    if (pDlg->dwStyle & DS_SETFONT) {
        pDlg->nPointSize = (int)r.Word();
        if (bEx) {
            r.Word(); // weight
            r.Word(); // italic, charset
        }
        r.SzOrOrd(pDlg->sFont, nOrd);
    }
    for (unsigned i = 0; i < nItems && !r.bBad; i++) {
        std::unique_ptr<Wnd> pCtl(new Wnd);
        r.Align(pData);
        if (bEx) {
            r.Dword(); // help id
            pCtl->dwExStyle = r.Dword();
            pCtl->dwStyle = r.Dword();
        } else {
            pCtl->dwStyle = r.Dword();
            pCtl->dwExStyle = r.Dword();
        }
        pCtl->x = r.Short();
        pCtl->y = r.Short();
        pCtl->cx = r.Short();
        pCtl->cy = r.Short();
        pCtl->nId = bEx ? (int)r.Dword() : (int)r.Word();
        r.SzOrOrd(pCtl->sClass, nOrd);
        if (nOrd >= 0)
            pCtl->sClass = ClassOfOrdinal(nOrd);
        r.SzOrOrd(pCtl->sText, nOrd);
        unsigned nExtra = r.Word();
        if ((size_t)(r.pEnd - r.p) < nExtra)
            r.bBad = true;
        else
            r.p += nExtra;
        pCtl->nKind = KindOf(pCtl->sClass, pCtl->dwStyle);
        pCtl->pParent = pDlg.get();
        if (pCtl->nKind == KindPushButton && (pCtl->dwStyle & BS_TYPEMASK) == BS_DEFPUSHBUTTON &&
            pDlg->nDefId == 0)
            pDlg->nDefId = pCtl->nId;
        pDlg->aChildren.push_back(pCtl.release());
    }
    if (r.bBad) {
        for (Wnd *p : pDlg->aChildren)
            delete p;
        return nullptr;
    }
    return pDlg.release();
}

} // namespace plat
