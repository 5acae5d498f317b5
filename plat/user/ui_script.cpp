// ui_script.cpp - the scripted front end: the user's actions come from PLAT_SCRIPT (words separated by
// blanks or commas); each time the dialog waits for input the page is printed as the text front end
// renders it, followed by the action taken. The transcript goes to standard output in UTF-8.

#include "user/user.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <deque>

namespace plat {

namespace {

const char *const kActions[] = {"next", "back", "cancel", "check", "uncheck", "tab", "enter", "space", "esc"};

class ScriptFrontEnd : public FrontEnd {
  public:
    explicit ScriptFrontEnd(std::deque<std::string> a) : aActions(std::move(a)) {}
    const char *Name() const override { return "script"; }
    bool WaitInput() override;
    int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType) override;

  private:
    std::deque<std::string> aActions;
};

void Print(const std::string &s)
{
    fputs(s.c_str(), stdout);
    fflush(stdout);
}

void Click(Wnd *p)
{
    PostInput(p, WM_LBUTTONDOWN, 0, 0);
    PostInput(p, WM_LBUTTONUP, 0, 0);
}

void Key(Wnd *p, int nVk)
{
    PostInput(p, WM_KEYDOWN, (WPARAM)nVk, 0);
    PostInput(p, WM_KEYUP, (WPARAM)nVk, 0);
}

Wnd *Control(Wnd *pDlg, int nId)
{
    for (Wnd *p : pDlg->aChildren)
        if (p->nId == nId)
            return p;
    return nullptr;
}

bool ScriptFrontEnd::WaitInput()
{
    std::vector<Wnd *> aDlgs = LiveDialogs();
    if (aDlgs.empty())
        return false;
    Wnd *pDlg = aDlgs.back();
    Print(RenderDialog(pDlg));
    if (aActions.empty()) {
        fflush(stdout);
        fputs("script ended while the wizard waits for input\n", stderr);
        fflush(stderr);
        _exit(3);
    }
    std::string sAction = aActions.front();
    aActions.pop_front();
    Wnd *pFocus = FocusWnd() != nullptr ? FocusWnd() : pDlg;
    std::string sNote;

    if (sAction == "next" || sAction == "back" || sAction == "cancel") {
        Wnd *p = Control(pDlg, sAction == "next" ? 101 : sAction == "back" ? 100 : IDCANCEL);
        if (p == nullptr || !IsShown(p))
            sNote = " (no such button shown: nothing happens)";
        else if (!IsEnabled(p))
            sNote = " (the button is disabled: nothing happens)";
        else
            Click(p);
    } else if (sAction == "check" || sAction == "uncheck") {
        Wnd *pBox = nullptr;
        for (Wnd *p : pDlg->aChildren)
            if (p->nKind == KindCheckBox && IsShown(p)) {
                pBox = p;
                break;
            }
        if (pBox == nullptr)
            sNote = " (no check box shown: nothing happens)";
        else if (!IsEnabled(pBox))
            sNote = " (the check box is disabled: nothing happens)";
        else if (pBox->bChecked != (sAction == "check"))
            Click(pBox);
    } else if (sAction == "tab") {
        Key(pFocus, VK_TAB);
    } else if (sAction == "enter") {
        Key(pFocus, VK_RETURN);
    } else if (sAction == "space") {
        Key(pFocus, VK_SPACE);
    } else {
        Key(pFocus, VK_ESCAPE);
    }
    Print("--- " + sAction + sNote + "\n");
    return true;
}

int ScriptFrontEnd::MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType)
{
    (void)pOwner;
    auto aButtons = MessageBoxButtons(uType);
    Print(RenderMessageBox(sText, sCaption, uType) + "--- " + StripMnemonic(aButtons[0].first, nullptr) + "\n");
    return aButtons[0].second;
}

} // namespace

FrontEnd *NewScriptFrontEnd(const char *pszScript, std::string *psError)
{
    std::deque<std::string> aActions;
    std::string sWord;
    std::string sScript = pszScript != nullptr ? pszScript : "";
    sScript += ' ';
    for (char c : sScript) {
        if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r') {
            if (sWord.empty())
                continue;
            bool bKnown = false;
            for (const char *psz : kActions)
                bKnown = bKnown || sWord == psz;
            if (!bKnown) {
                if (psError != nullptr)
                    *psError = "unknown action \"" + sWord +
                               "\" (next, back, cancel, check, uncheck, tab, enter, space, esc)";
                return nullptr;
            }
            aActions.push_back(sWord);
            sWord.clear();
        } else {
            sWord += c;
        }
    }
    return new ScriptFrontEnd(aActions);
}

} // namespace plat
