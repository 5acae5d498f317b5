// render.cpp - the page and the message box as text, in tab order: what the text front end shows and the
// script front end prints as its transcript.

#include "user/user.h"

namespace plat
{

static void AppendLines(std::string &sOut, const char *pszMark, const std::string &sUtf8,
                        const char *pszPrefix)
{
    size_t nStart = 0;
    bool bFirst = true;
    for (;;) {
        size_t nEnd = sUtf8.find('\n', nStart);
        std::string sLine =
            sUtf8.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (!sLine.empty() && sLine.back() == '\r')
            sLine.pop_back();
        std::string s = std::string(bFirst ? pszMark : "  ") + pszPrefix + sLine;
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        sOut += s + "\n";
        bFirst = false;
        if (nEnd == std::string::npos)
            break;
        nStart = nEnd + 1;
    }
}

std::string RenderDialog(Wnd *pDlg)
{
    std::string sOut = "=== " + TextToUtf8(pDlg->sText) + " ===\n";
    for (Wnd *p : pDlg->aChildren) {
        if (!IsShown(p))
            continue;
        const char *pszMark = p == FocusWnd() ? "> " : "  ";
        std::string sText = TextToUtf8(p->sText);
        std::string sState;
        if (IsDefaultLook(p))
            sState += " default";
        if (!IsEnabled(p))
            sState += " disabled";
        switch (p->nKind) {
        case KindPushButton:
            AppendLines(sOut, pszMark, "[" + sText + "]" + sState, "");
            break;
        case KindCheckBox:
            AppendLines(sOut, pszMark, (p->bChecked ? "[x] " : "[ ] ") + sText + sState, "");
            break;
        case KindPicture: {
            Bitmap *pBitmap = BitmapFromHandle(p->hImage);
            if (pBitmap != nullptr)
                AppendLines(sOut, pszMark,
                            "<picture " + std::to_string(pBitmap->nWidth) + "x" +
                                std::to_string(pBitmap->nHeight) + ">",
                            "");
            else
                AppendLines(sOut, pszMark, "<no picture>", "");
            break;
        }
        case KindEdit:
            AppendLines(sOut, pszMark, sText, "| ");
            break;
        case KindEtched:
            break;
        default:
            AppendLines(sOut, pszMark, sText + sState, "");
            break;
        }
    }
    return sOut;
}

std::string RenderMessageBox(const std::string &sText, const std::string &sCaption, UINT uType)
{
    std::string sOut = "=== " + TextToUtf8(sCaption) + " ===\n";
    AppendLines(sOut, "  ", TextToUtf8(sText), "");
    std::string sButtons;
    for (auto &b : MessageBoxButtons(uType))
        sButtons += (sButtons.empty() ? "[" : " [") + b.first + "]";
    AppendLines(sOut, "  ", sButtons, "");
    return sOut;
}

} // namespace plat
