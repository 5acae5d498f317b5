// test_wizard.cpp - the wizard engine against the dialog manager of the platform it runs on (plat/ on Linux,
// the real one under Wine): walks through page lists with the user's actions, and the state of the
// dialog's controls after each of them.

#include "charstr.h"
#include "resource.h"
#include "wizard.h"
#include "wizutl.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------------------------
// Helpers: texts in the code page, the dialog's state as one line

static std::string Ansi(const char *pszUtf8)
{
    WCHAR wsz[1024];
    char sz[1024];
    if (MultiByteToWideChar(CP_UTF8, 0, pszUtf8, -1, wsz, 1024) <= 0)
        return "?";
    if (WideCharToMultiByte(1251, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return "?";
    return sz;
}

static std::string Utf8(const std::string &sAnsi)
{
    WCHAR wsz[2048];
    char sz[4096];
    if (MultiByteToWideChar(1251, 0, sAnsi.c_str(), -1, wsz, 2048) <= 0)
        return "?";
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return "?";
    return sz;
}

static int Text(const char *pszUtf8)
{
    return ResDupString(Ansi(pszUtf8).c_str());
}

static HWND Dialog()
{
    return FindWindowA("#32770", NULL);
}

// A window's text as it reads on the screen, in UTF-8: read in UTF-16, so that it is the same whatever the
// system's code page.
static std::string WindowText(HWND h)
{
    WCHAR wsz[2048];
    char sz[6144];
    GetWindowTextW(h, wsz, 2048);
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return "?";
    return sz;
}

// The dialog's caption as its frame shows it: the dialog is an ANSI window, whose own procedure would give
// the text in the system's code page, so it is read through the wide default handling.
static std::string CaptionText()
{
    WCHAR wsz[2048];
    char sz[6144];
    wsz[0] = 0;
    DefWindowProcW(Dialog(), WM_GETTEXT, 2048, (LPARAM)wsz);
    if (WideCharToMultiByte(CP_UTF8, 0, wsz, -1, sz, sizeof sz, NULL, NULL) <= 0)
        return "?";
    return sz;
}

static std::string ControlText(int nId)
{
    HWND h = GetDlgItem(Dialog(), nId);
    if (h == NULL)
        return "<none>";
    return WindowText(h);
}

// "B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101": each button hidden (-), shown and enabled (+)
// or shown and disabled (~) with its label; the page controls shown; the control with the focus.
static std::string State()
{
    HWND hDlg = Dialog();
    if (hDlg == NULL)
        return "no dialog";
    std::string s;
    static const struct {
        int nId;
        const char *pszName;
    } kButtons[] = {{IDC_BACK, "B"}, {IDC_NEXT, "N"}, {IDCANCEL, "C"}};
    for (const auto &b : kButtons) {
        HWND h = GetDlgItem(hDlg, b.nId);
        s += b.pszName;
        if (!IsWindowVisible(h))
            s += "- ";
        else
            s += (IsWindowEnabled(h) ? "+" : "~") + ControlText(b.nId) + " ";
    }
    s += "|";
    static const int kPage[] = {IDC_PICTURE, IDC_PICTURE_TEXT, IDC_TEXT, IDC_TEXT_LABEL, IDC_OPTION_TEXT,
                                IDC_OPTION_CHECK, IDC_FINAL_TEXT};
    for (int nId : kPage)
        if (IsWindowVisible(GetDlgItem(hDlg, nId)))
            s += " " + std::to_string(nId);
    s += " | focus " + std::to_string(GetFocus() != NULL ? GetDlgCtrlID(GetFocus()) : 0);
    if (IsWindowVisible(GetDlgItem(hDlg, IDC_OPTION_CHECK)))
        s += IsDlgButtonChecked(hDlg, IDC_OPTION_CHECK) == BST_CHECKED ? " | [x]" : " | [ ]";
    HWND hText = GetDlgItem(hDlg, IDC_TEXT);
    if (IsWindowVisible(hText)) {
        DWORD nStart = 0, nEnd = 0;
        SendMessageA(hText, EM_GETSEL, (WPARAM)&nStart, (LPARAM)&nEnd);
        bool bAll = nStart == 0 && (int)nEnd == GetWindowTextLengthA(hText);
        s += " | caret " + (bAll ? std::string("all") : std::to_string(nStart) + "-" + std::to_string(nEnd)) +
             " top " + std::to_string(SendMessageA(hText, EM_GETFIRSTVISIBLELINE, 0, 0));
    }
    return s;
}

// ---------------------------------------------------------------------------------------------------------
// The walk driver: a message hook that, whenever the queue has settled, records the dialog's state and
// performs the next action. Actions: next, back, cancel (the command of the button, as a click sends it),
// check (a click on the check box), tab, enter, space, esc (keys to the control with the focus),
// proc:back, proc:next, proc:init, run (direct calls whose results are recorded), image (the bitmap the
// picture control shows, recorded as a result) and final (WizSetFinalText, then the final text control's
// text recorded in aWalkSeen).

#define WM_WALK (WM_APP + 7)

static std::vector<std::string> aWalkActions;
static size_t nWalkNext;
static std::vector<std::string> aWalkStates;
static std::vector<INT_PTR> aWalkResults;
static std::vector<std::string> aWalkSeen;
static bool bWalkStopAtFinal;
static bool bWalkForcedCancel;
static HHOOK hWalkHook;

static void PostKey(int nVk)
{
    HWND hTo = GetFocus() != NULL ? GetFocus() : Dialog();
    PostMessageA(hTo, WM_KEYDOWN, (WPARAM)nVk, 0);
    PostMessageA(hTo, WM_KEYUP, (WPARAM)nVk, 0);
}

static void PostCommand(int nId)
{
    HWND hDlg = Dialog();
    PostMessageA(hDlg, WM_COMMAND, MAKEWPARAM(nId, BN_CLICKED), (LPARAM)GetDlgItem(hDlg, nId));
}

static bool OnFinalPage()
{
    HWND hDlg = Dialog();
    return hDlg != NULL && IsWindowVisible(GetDlgItem(hDlg, IDC_FINAL_TEXT));
}

static void WalkAct()
{
    HWND hDlg = Dialog();
    aWalkStates.push_back(State());
    if (hDlg == NULL)
        return;
    if (bWalkStopAtFinal && OnFinalPage())
        return; // the quit message is pending: WizRun returns before the user can act
    if (nWalkNext >= aWalkActions.size()) {
        bWalkForcedCancel = true; // never leave the dialog waiting for input
        PostCommand(IDCANCEL);
        return;
    }
    std::string a = aWalkActions[nWalkNext++];
    if (a == "next")
        PostCommand(IDC_NEXT);
    else if (a == "back")
        PostCommand(IDC_BACK);
    else if (a == "cancel")
        PostCommand(IDCANCEL);
    else if (a == "check")
        SendMessageA(GetDlgItem(hDlg, IDC_OPTION_CHECK), BM_CLICK, 0, 0);
    else if (a == "tab")
        PostKey(VK_TAB);
    else if (a == "enter")
        PostKey(VK_RETURN);
    else if (a == "space")
        PostKey(VK_SPACE);
    else if (a == "esc")
        PostKey(VK_ESCAPE);
    else if (a == "scroll") { // the text box scrolled down with all its text selected
        HWND hText = GetDlgItem(hDlg, IDC_TEXT);
        SendMessageA(hText, EM_LINESCROLL, 0, 3);
        SendMessageA(hText, EM_SETSEL, 0, -1);
    } else if (a == "proc:back")
        aWalkResults.push_back(WizDialogProc(hDlg, WM_COMMAND, MAKEWPARAM(IDC_BACK, 0), 0));
    else if (a == "proc:next")
        aWalkResults.push_back(WizDialogProc(hDlg, WM_COMMAND, MAKEWPARAM(IDC_NEXT, 0), 0));
    else if (a == "proc:init")
        WizDialogProc(hDlg, WM_INITDIALOG, 0, 0);
    else if (a == "run")
        aWalkResults.push_back(WizRun(NULL) + 10 * WizRun((WizPage *)hDlg));
    else if (a == "image")
        aWalkResults.push_back(SendMessageA(GetDlgItem(hDlg, IDC_PICTURE), STM_GETIMAGE, IMAGE_BITMAP, 0));
    else if (a == "final") {
        WizSetFinalText(Text("раньше времени"));
        aWalkSeen.push_back(ControlText(IDC_FINAL_TEXT));
    }
    else
        ADD_FAILURE() << "unknown walk action " << a;
    PostMessageA(NULL, WM_WALK, 0, 0);
}

// What the test reads while the wizard shows the first page: a control's text, or the caption for id 0.
#define WM_SEE (WM_APP + 8)
static std::string sSeenText;

static LRESULT CALLBACK WalkHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    MSG *pMsg = (MSG *)lParam;
    if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->hwnd == NULL && pMsg->message == WM_SEE) {
        sSeenText = pMsg->wParam == 0 ? CaptionText() : ControlText((int)pMsg->wParam);
        PostCommand(IDCANCEL);
    }
    if (nCode == HC_ACTION && wParam == PM_REMOVE && pMsg->hwnd == NULL && pMsg->message == WM_WALK) {
        // Three rounds through the queue, so that what the last action posted has taken effect.
        if (pMsg->wParam < 2)
            PostMessageA(NULL, WM_WALK, pMsg->wParam + 1, 0);
        else
            WalkAct();
    }
    return CallNextHookEx(hWalkHook, nCode, wParam, lParam);
}

static void WalkStart(const std::vector<std::string> &aActions, bool bStopAtFinal)
{
    aWalkActions = aActions;
    nWalkNext = 0;
    aWalkStates.clear();
    aWalkResults.clear();
    aWalkSeen.clear();
    bWalkStopAtFinal = bStopAtFinal;
    bWalkForcedCancel = false;
    PostMessageA(NULL, WM_WALK, 0, 0);
}

// Continues the same walk inside WizWait.
static void WalkResume()
{
    bWalkStopAtFinal = false;
    PostMessageA(NULL, WM_WALK, 0, 0);
}

static std::vector<std::string> Split(const char *psz)
{
    std::vector<std::string> a;
    std::string s;
    for (const char *p = psz;; p++) {
        if (*p == ' ' || *p == '\0') {
            if (!s.empty())
                a.push_back(s);
            s.clear();
            if (*p == '\0')
                break;
        } else {
            s += *p;
        }
    }
    return a;
}

// ---------------------------------------------------------------------------------------------------------
// The fixture: the installer's configuration texts and a page list to fill

class Wizard : public ::testing::Test {
  protected:
    void SetUp() override
    {
        if (hWalkHook == NULL)
            hWalkHook = SetWindowsHookExA(WH_GETMESSAGE, WalkHook, NULL, GetCurrentThreadId());
        hWizInstance = GetModuleHandleA(NULL);
        ResInit();
        WizConfigLoad(&config, IDS_TITLE);
        WizSetConfig(&config);
        WizPagesInit(aPages);
    }
    void TearDown() override
    {
        if (Dialog() != NULL) { // a walk that went wrong: close the dialog so that later tests start clean
            WalkStart({"cancel"}, false);
            WizWait();
        }
        ResFreeAll();
    }
    // Builds the list from kinds: P picture, T text, O option (checked when o), then the final page.
    void Pages(const char *pszKinds)
    {
        WizPagesInit(aPages);
        for (const char *p = pszKinds; *p != '\0'; p++) {
            int nKind = *p == 'P' ? WIZ_PAGE_PICTURE : *p == 'T' ? WIZ_PAGE_TEXT : WIZ_PAGE_OPTION;
            WizPage *pPage = WizPagesAdd(aPages, nKind, 10);
            ASSERT_NE(nullptr, pPage);
            pPage->hImage = nKind == WIZ_PAGE_PICTURE ? ResLoadBitmap(IDB_WELCOME) : 0;
            if (nKind == WIZ_PAGE_TEXT) { // a text of 40 lines, to scroll
                std::string sLines;
                for (int i = 1; i <= 40; i++)
                    sLines += "line " + std::to_string(i) + "\r\n";
                pPage->hText = ResDupString(sLines.c_str());
            } else {
                pPage->hText = ResLoadString(nKind == WIZ_PAGE_PICTURE ? IDS_WELCOME : IDS_REINSTALL);
            }
            pPage->hLabel = ResLoadString(IDS_REINSTALL_CHECK);
            pPage->bChecked = *p == 'o';
        }
    }
    // Runs the walk to the final page (or the end of the actions), then WizWait with the rest.
    int Walk(const char *pszActions)
    {
        WalkStart(Split(pszActions), true);
        int nResult = WizRun(aPages);
        if (nResult == 1) {
            aWalkStates.push_back("after run: " + State());
            WalkResume();
            WizWait();
        }
        return nResult;
    }
    // The text of control nId (0: the caption) while the wizard shows the first page.
    std::string See(int nId)
    {
        sSeenText = "<not seen>";
        PostMessageA(NULL, WM_SEE, (WPARAM)nId, 0);
        WizRun(aPages);
        return sSeenText;
    }
    WizConfig config;
    WizPage aPages[10];
};

// The dialog's state after each settled step of a walk, on every kind of page list.
struct WalkCase {
    const char *pszPages;
    const char *pszActions;
    int nResult;
    std::vector<const char *> aStates;
};

static const WalkCase kWalks[] = {
    {"", "cancel", 1,
     {"B- N- C+Закрыть | 500 | focus 2", "after run: B- N- C~Закрыть | 500 | focus 0",
      "B- N- C+Закрыть | 500 | focus 2", "no dialog"}},
    {"P", "next cancel", 1,
     {"B- N+Закончить C+Отмена | 200 201 | focus 101", "B- N- C+Закрыть | 500 | focus 2",
      "after run: B- N- C~Закрыть | 500 | focus 0", "B- N- C+Закрыть | 500 | focus 2", "no dialog"}},
    // The text box shows its start with nothing selected whenever it gets the focus.
    {"T", "scroll tab tab tab cancel", 0,
     {"B- N+Закончить C+Отмена | 300 301 | focus 300 | caret 0-0 top 0",
      "B- N+Закончить C+Отмена | 300 301 | focus 300 | caret all top 28",
      "B- N+Закончить C+Отмена | 300 301 | focus 101 | caret all top 28",
      "B- N+Закончить C+Отмена | 300 301 | focus 2 | caret all top 28",
      "B- N+Закончить C+Отмена | 300 301 | focus 300 | caret 0-0 top 0", "no dialog"}},
    {"PO", "next check back next next cancel", 1,
     {"B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [ ]",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [x]",
      "B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [x]", "B- N- C+Закрыть | 500 | focus 2",
      "after run: B- N- C~Закрыть | 500 | focus 0", "B- N- C+Закрыть | 500 | focus 2", "no dialog"}},
    {"PTo", "next next back back next next next cancel", 1,
     {"B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101",
      "B+< &Назад N+&Вперёд > C+Отмена | 300 301 | focus 300 | caret 0-0 top 0",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [x]",
      "B+< &Назад N+&Вперёд > C+Отмена | 300 301 | focus 300 | caret 0-0 top 0",
      "B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101",
      "B+< &Назад N+&Вперёд > C+Отмена | 300 301 | focus 300 | caret 0-0 top 0",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [x]", "B- N- C+Закрыть | 500 | focus 2",
      "after run: B- N- C~Закрыть | 500 | focus 0", "B- N- C+Закрыть | 500 | focus 2", "no dialog"}},
    // Keys: Enter presses the focused or the default button, Space toggles the focused check box, Tab
    // moves over the visible, enabled tab stops, Escape cancels.
    {"PTO", "enter enter space tab tab enter enter", 1,
     {"B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101",
      "B+< &Назад N+&Вперёд > C+Отмена | 300 301 | focus 300 | caret 0-0 top 0",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [ ]",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 401 | [x]",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 100 | [x]",
      "B+< &Назад N+Закончить C+Отмена | 400 401 | focus 101 | [x]", "B- N- C+Закрыть | 500 | focus 2",
      "after run: B- N- C~Закрыть | 500 | focus 0", "B- N- C+Закрыть | 500 | focus 2", "no dialog"}},
    {"OT", "esc", 0, {"B~< &Назад N+&Вперёд > C+Отмена | 400 401 | focus 401 | [ ]", "no dialog"}},
};

TEST_F(Wizard, WalksShowTheButtonsAndFocusOfEveryPage)
{
    for (const auto &c : kWalks) {
        SCOPED_TRACE(std::string("pages \"") + c.pszPages + "\", actions \"" + c.pszActions + "\"");
        Pages(c.pszPages);
        EXPECT_EQ(c.nResult, Walk(c.pszActions));
        EXPECT_FALSE(bWalkForcedCancel);
        ASSERT_EQ(c.aStates.size(), aWalkStates.size());
        for (size_t i = 0; i < c.aStates.size(); i++)
            EXPECT_EQ(c.aStates[i], aWalkStates[i]) << "step " << i;
        EXPECT_EQ(nullptr, Dialog());
    }
}

TEST_F(Wizard, OptionStateIsKeptAcrossBackAndNextAndWrittenBack)
{
    Pages("PoO");
    EXPECT_EQ(1, Walk("next check next check back next next cancel"));
    EXPECT_EQ(0, aPages[1].bChecked);
    EXPECT_EQ(1, aPages[2].bChecked);
    EXPECT_EQ(0, IsDlgButtonChecked(Dialog(), IDC_OPTION_CHECK)); // no dialog any more
}

TEST_F(Wizard, CheckBoxStateIsShownWhenTheOptionPageIsEnteredAgain)
{
    Pages("OT");
    WalkStart(Split("check next back cancel"), true);
    EXPECT_EQ(0, WizRun(aPages));
    ASSERT_EQ(5u, aWalkStates.size());
    EXPECT_EQ("B~< &Назад N+&Вперёд > C+Отмена | 400 401 | focus 401 | [x]", aWalkStates[3]);
    EXPECT_EQ(1, aPages[0].bChecked);
}

TEST_F(Wizard, CancelOnAnyPageEndsTheRunAndLeavesNothingToWaitFor)
{
    for (int nPage = 0; nPage < 4; nPage++) {
        SCOPED_TRACE(nPage);
        Pages("PTO");
        std::string sActions;
        for (int i = 0; i < nPage; i++)
            sActions += "next ";
        EXPECT_EQ(nPage == 3 ? 1 : 0, Walk((sActions + "cancel").c_str()));
        if (nPage < 3) {
            EXPECT_EQ(nullptr, Dialog());
            WizSetFinalText(Text("не показывается"));
            WizWait(); // returns at once
        }
    }
}

TEST_F(Wizard, BackOnTheFirstPageAndBackOrNextOnTheFinalPageAreHandledAndChangeNothing)
{
    Pages("PO");
    EXPECT_EQ(1, Walk("proc:back next next proc:back proc:next cancel"));
    ASSERT_EQ(3u, aWalkResults.size());
    for (INT_PTR r : aWalkResults)
        EXPECT_EQ(1, r);
    ASSERT_GE(aWalkStates.size(), 7u);
    EXPECT_EQ(aWalkStates[0], aWalkStates[1]);
    EXPECT_EQ("B- N- C+Закрыть | 500 | focus 2", aWalkStates[5]);
    EXPECT_EQ(aWalkStates[5], aWalkStates[6]);
}

TEST_F(Wizard, ReinitialisingWhileAPageIsCurrentIsAnAssertion)
{
    Pages("P");
    EXPECT_EXIT(Walk("proc:init"), ::testing::ExitedWithCode(3),
                "Assertion failed: pWizCurPage == NULL, file ker.WIZARD, line .");
}

TEST_F(Wizard, RunIsRefusedWhileADialogExistsOrWithoutAList)
{
    Pages("P");
    EXPECT_EQ(0, Walk("run cancel"));
    ASSERT_EQ(1u, aWalkResults.size());
    EXPECT_EQ(0, aWalkResults[0]);
    EXPECT_EQ(0, WizRun(NULL));
}

static int RunWithoutConfig()
{
    WizPage aPages[2];
    hWizInstance = GetModuleHandleA(NULL);
    WizPagesInit(aPages);
    return WizRun(aPages);
}

TEST(WizardRun, IsRefusedWithoutAConfiguration)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    // A fresh process: no configuration was ever set there.
    EXPECT_EXIT(exit(RunWithoutConfig() == 0 && Dialog() == NULL ? 7 : 8), ::testing::ExitedWithCode(7), "");
}

TEST_F(Wizard, FinalPageTextNamesTheCloseButtonAndIsReplacedUntilTheWait)
{
    Pages("P");
    WalkStart(Split("next"), true);
    ASSERT_EQ(1, WizRun(aPages));
    EXPECT_EQ("", ControlText(IDC_FINAL_TEXT));
    WizSetFinalText(Text("Нажмите '$cancel', не '$next' и не '$back'."));
    EXPECT_EQ("Нажмите 'Закрыть', не 'Вперёд' и не 'Назад'.", ControlText(IDC_FINAL_TEXT));
    WizSetFinalText(0);
    EXPECT_EQ("", ControlText(IDC_FINAL_TEXT));
    WizSetFinalText(Text("Готово"));
    EXPECT_EQ("Готово", ControlText(IDC_FINAL_TEXT));
    WalkStart(Split("cancel"), false);
    WizWait();
    EXPECT_EQ(nullptr, Dialog());
}

// A final text given while an earlier page shows does not reach the final page's control, then or later;
// on the final page it does.
TEST_F(Wizard, FinalTextIsNotSetBeforeTheFinalPage)
{
    Pages("PO");
    WizSetFinalText(Text("без диалога")); // no dialog yet: nothing to set
    WalkStart(Split("final next final next cancel"), true);
    ASSERT_EQ(1, WizRun(aPages));
    ASSERT_EQ(2u, aWalkSeen.size());
    EXPECT_EQ("", aWalkSeen[0]); // on the picture page
    EXPECT_EQ("", aWalkSeen[1]); // on the option page
    EXPECT_EQ("", ControlText(IDC_FINAL_TEXT));
    WizSetFinalText(Text("Готово"));
    EXPECT_EQ("Готово", ControlText(IDC_FINAL_TEXT));
    WalkResume();
    WizWait();
    EXPECT_FALSE(bWalkForcedCancel);
    EXPECT_EQ(nullptr, Dialog());
}

// $next in a page text names the Next button as it reads on that page.
struct SymbolCase {
    const char *pszPages;
    const char *pszText;
    const char *pszShown;
};
static const SymbolCase kSymbols[] = {
    {"P", "кнопку '$next'.", "кнопку 'Закончить'."},
    {"PO", "кнопку '$next'.", "кнопку 'Вперёд'."},
    {"PO", "$NEXT $Back $cAnCeL", "Вперёд Назад Отмена"},
    {"P", "$nextstep $ $", "Закончитьstep $ $"},
    {"P", "$unknown $nex $$back", "$unknown $nex $Назад"},
};

TEST_F(Wizard, SymbolsInPageTextsNameTheButtonsOfThatPage)
{
    for (const auto &c : kSymbols) {
        SCOPED_TRACE(c.pszText);
        Pages(c.pszPages);
        aPages[0].hText = Text(c.pszText);
        EXPECT_EQ(c.pszShown, See(IDC_PICTURE_TEXT));
    }
}

// A label of 60 characters or more leaves its symbol as written while the button still carries it; a
// missing label gives an empty button and leaves the symbol; symbols in labels expand too.
TEST_F(Wizard, LabelsTooLongOrMissingLeaveTheirSymbolAsWritten)
{
    std::string s59(59, 'x'), s60(60, 'y');
    Pages("PO");
    aPages[0].hText = Text("[$next] [$back] [$cancel]");
    config.hNext = Text(s59.c_str());
    config.hBack = Text(s60.c_str());
    config.hCancel = 0;
    EXPECT_EQ("[" + s59 + "] [$back] [$cancel]", See(IDC_PICTURE_TEXT));
    EXPECT_EQ(s60, See(IDC_BACK));
    EXPECT_EQ("", See(IDCANCEL));
    config.hCancel = Text("Стоп ($next)");
    EXPECT_EQ("Стоп (" + s59 + ")", See(IDCANCEL));
}

TEST_F(Wizard, TitleIsTheTitleTextUnexpanded)
{
    Pages("P");
    config.hTitle = Text("Мастер $next");
    EXPECT_EQ("Мастер $next", See(0));
    config.hTitle = 0;
    EXPECT_EQ("", See(0));
}

// The picture control shows the bitmap of the picture page that is current, each page its own, also when
// the page is entered again; it carries no text.
TEST_F(Wizard, PictureControlShowsTheBitmapOfThePage)
{
    Pages("PP");
    aPages[1].hImage = ResLoadBitmap(IDB_WELCOME); // a second bitmap object
    HGDIOBJ hFirst = ResGetObject(aPages[0].hImage);
    HGDIOBJ hSecond = ResGetObject(aPages[1].hImage);
    ASSERT_NE(nullptr, hFirst);
    ASSERT_NE(nullptr, hSecond);
    ASSERT_NE(hFirst, hSecond);
    EXPECT_EQ(0, Walk("image next image back image cancel"));
    EXPECT_FALSE(bWalkForcedCancel);
    ASSERT_EQ(3u, aWalkResults.size());
    EXPECT_EQ((INT_PTR)hFirst, aWalkResults[0]);
    EXPECT_EQ((INT_PTR)hSecond, aWalkResults[1]);
    EXPECT_EQ((INT_PTR)hFirst, aWalkResults[2]);
    // The states before each action: the image was read on the first page, the second, the first again.
    ASSERT_GE(aWalkStates.size(), 5u);
    EXPECT_EQ("B~< &Назад N+&Вперёд > C+Отмена | 200 201 | focus 101", aWalkStates[0]);
    EXPECT_EQ("B+< &Назад N+Закончить C+Отмена | 200 201 | focus 101", aWalkStates[2]);
    EXPECT_EQ(aWalkStates[0], aWalkStates[4]);
    Pages("P");
    EXPECT_EQ("", See(IDC_PICTURE));
}

// ---------------------------------------------------------------------------------------------------------
// Symbol expansion and label cleaning

static const char *const kNames[] = {"back", "next", "cancel"};
static const char *const kValues[] = {"Back", "Next >", "Cancel"};

struct ExpandCase {
    const char *pszSrc;
    const char *pszOut;
};
static const ExpandCase kExpand[] = {
    {"Press $next.", "Press Next >."},
    {"$NEXT $Next $nExT", "Next > Next > Next >"},
    {"$back$cancel", "BackCancel"},
    {"ends in $", "ends in $"},
    {"$", "$"},
    {"$$next", "$Next >"},
    {"$nextstep", "Next >step"},
    {"$ne", "$ne"},
    {"$word and $ alone", "$word and $ alone"},
    {"", ""},
};

TEST(WizardSymbols, ExpandIgnoringCaseAndLeaveOtherDollarsAsWritten)
{
    for (const auto &c : kExpand) {
        char sz[64];
        EXPECT_EQ((int)strlen(c.pszOut) + 1, WizExpandSymbols(NULL, c.pszSrc, 0, kNames, kValues, 3)) << c.pszSrc;
        EXPECT_EQ(1, WizExpandSymbols(sz, c.pszSrc, sizeof sz, kNames, kValues, 3)) << c.pszSrc;
        EXPECT_STREQ(c.pszOut, sz);
    }
}

TEST(WizardSymbols, CyrillicNamesMatchIgnoringCase)
{
    std::string sName = Ansi("далее"), sSrc = Ansi("[$ДаЛее]");
    const char *apszNames[] = {sName.c_str()};
    const char *apszValues[] = {"ok"};
    char sz[32];
    EXPECT_EQ(1, WizExpandSymbols(sz, sSrc.c_str(), sizeof sz, apszNames, apszValues, 1));
    EXPECT_STREQ("[ok]", sz);
}

TEST(WizardSymbols, NullValueOrNullNameLeavesTheSymbolAsWritten)
{
    const char *apszValues[] = {"Back", NULL, "Cancel"};
    const char *apszNames[] = {NULL, "next", "cancel"};
    char sz[64];
    EXPECT_EQ(1, WizExpandSymbols(sz, "$next $back $cancel", sizeof sz, kNames, apszValues, 3));
    EXPECT_STREQ("$next Back Cancel", sz);
    EXPECT_EQ(1, WizExpandSymbols(sz, "$back $next", sizeof sz, apszNames, kValues, 3));
    EXPECT_STREQ("$back Next >", sz);
    EXPECT_EQ(1, WizExpandSymbols(sz, "$next", sizeof sz, kNames, kValues, 0));
    EXPECT_STREQ("$next", sz);
}

TEST(WizardSymbols, TheFirstMatchingNameDecides)
{
    const char *apszNames[] = {"ne", "next"};
    const char *apszValues[] = {"1", "2"};
    const char *apszNull[] = {NULL, "2"};
    char sz[32];
    WizExpandSymbols(sz, "$next", sizeof sz, apszNames, apszValues, 2);
    EXPECT_STREQ("1xt", sz);
    WizExpandSymbols(sz, "$next", sizeof sz, apszNames, apszNull, 2);
    EXPECT_STREQ("$next", sz);
}

TEST(WizardSymbols, EveryBufferSizeAroundTheExactOne)
{
    const char *pszSrc = "a $next b $cancel";
    const std::string sFull = "a Next > b Cancel";
    int nNeed = WizExpandSymbols(NULL, pszSrc, 0, kNames, kValues, 3);
    ASSERT_EQ((int)sFull.size() + 1, nNeed);
    for (int nSize = 0; nSize <= nNeed + 2; nSize++) {
        SCOPED_TRACE(nSize);
        char sz[64];
        memset(sz, '#', sizeof sz);
        int r = WizExpandSymbols(sz, pszSrc, nSize, kNames, kValues, 3);
        EXPECT_EQ(nSize >= nNeed ? 1 : 0, r);
        if (nSize == 0) {
            EXPECT_EQ('#', sz[0]); // nothing written
            continue;
        }
        std::string sWant = sFull.substr(0, (size_t)std::min(nSize - 1, (int)sFull.size()));
        EXPECT_EQ(sWant, std::string(sz));
        EXPECT_EQ('#', sz[sWant.size() + 1]); // nothing written past the terminator
    }
}

struct CleanCase {
    const char *pszLabel;
    const char *pszClean;
};
static const CleanCase kClean[] = {
    {"< &Назад", "Назад"},
    {"&Вперёд >", "Вперёд"},
    {"Закончить", "Закончить"},
    {"  &Да,   &нет!  ", "Да нет"},
    {"<<>>", ""},
    {"Шаг 2", "Шаг 2"},
};

TEST(WizardLabels, CleaningKeepsLettersDigitsAndSingleBlanks)
{
    ResInit();
    for (const auto &c : kClean) {
        char sz[60];
        int h = ResDupString(Ansi(c.pszLabel).c_str());
        ASSERT_EQ(sz, WizCleanLabel(sz, h, sizeof sz)) << c.pszLabel;
        EXPECT_EQ(c.pszClean, Utf8(sz));
        ResFree(h);
    }
    ResFreeAll();
}

TEST(WizardLabels, NoTextOrALabelThatDoesNotFitGivesNull)
{
    ResInit();
    char sz[60];
    EXPECT_EQ(nullptr, WizCleanLabel(sz, 0, sizeof sz));
    EXPECT_STREQ("", sz);
    std::string s59(59, 'a'), s60(60, 'b');
    int h59 = ResDupString(s59.c_str()), h60 = ResDupString(s60.c_str());
    EXPECT_EQ(sz, WizCleanLabel(sz, h59, sizeof sz));
    EXPECT_EQ(s59, sz);
    EXPECT_EQ(nullptr, WizCleanLabel(sz, h60, sizeof sz));
    ResFreeAll();
}

// ---------------------------------------------------------------------------------------------------------
// Assertions

static void ExpandNull(int nWhich)
{
    char sz[8];
    const char *apsz[] = {"x"};
    WizExpandSymbols(sz, nWhich == 0 ? NULL : "s", 8, nWhich == 1 ? NULL : apsz, nWhich == 2 ? NULL : apsz,
                     nWhich == 3 ? -1 : 1);
}

TEST(WizardAssertions, PreconditionsEndTheProcessWithTheirText)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe"; // a fresh process: no page list was ever run
    char sz[8];
    EXPECT_EXIT(ExpandNull(0), ::testing::ExitedWithCode(3), "Assertion failed: szSrc != NULL, file ker.WIZARD, line .");
    EXPECT_EXIT(ExpandNull(1), ::testing::ExitedWithCode(3),
                "Assertion failed: pszSymbols != NULL, file ker.WIZARD, line .");
    EXPECT_EXIT(ExpandNull(2), ::testing::ExitedWithCode(3),
                "Assertion failed: pszValues != NULL, file ker.WIZARD, line .");
    EXPECT_EXIT(ExpandNull(3), ::testing::ExitedWithCode(3), "Assertion failed: nCount >= 0, file ker.WIZARD, line .");
    EXPECT_EXIT(WizCleanLabel(NULL, 0, 8), ::testing::ExitedWithCode(3),
                "Assertion failed: szBuf != NULL, file ker.WIZARD, line .");
    EXPECT_EXIT(WizCleanLabel(sz, 0, 0), ::testing::ExitedWithCode(3),
                "Assertion failed: nSize > 0, file ker.WIZARD, line .");
    EXPECT_EXIT(WizSetConfig(NULL), ::testing::ExitedWithCode(3),
                "Assertion failed: pConfig != NULL, file ker.WIZARD, line .");
    EXPECT_EXIT(WizDialogProc(NULL, WM_NULL, 0, 0), ::testing::ExitedWithCode(3),
                "Assertion failed: pWizPages != NULL, file ker.WIZARD, line .");
}

// While the steps run: the progress line under the final page's text, the messages handled, every way of
// closing refused, a quit message kept for the wait.
TEST_F(Wizard, WhileTheStepsRunProgressShowsAndClosingIsRefused)
{
    Pages("P");
    WalkStart(Split("next"), true);
    ASSERT_EQ(1, WizRun(aPages));
    HWND hDlg = Dialog();
    WizSetFinalText(Text("Идёт установка"));
    int hLine = Text("Файл %1 из %2, %3 %%");
    PostMessageA(hDlg, WM_CLOSE, 0, 0);
    PostMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostCommand(IDCANCEL);
    PostKey(VK_ESCAPE);
    WizProgress(hLine, 3, 48, 7);
    EXPECT_EQ("Идёт установка\nФайл 3 из 48, 7 %", ControlText(IDC_FINAL_TEXT));
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)); // all handled
    ASSERT_EQ(hDlg, Dialog());
    EXPECT_EQ("B- N- C~Закрыть | 500", State().substr(0, State().find(" | focus")));

    PostQuitMessage(7);
    WizProgress(hLine, 4, 48, 9);
    EXPECT_EQ("Идёт установка\nФайл 4 из 48, 9 %", ControlText(IDC_FINAL_TEXT));
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)); // the quit message was taken
    WizSetFinalText(Text("Готово"));
    EXPECT_EQ("Готово", ControlText(IDC_FINAL_TEXT));
    WizWait(); // ends at once on the quit message posted again
    ASSERT_EQ(hDlg, Dialog());
    WalkStart(Split("cancel"), false);
    WizWait(); // closing is allowed again
    EXPECT_EQ(nullptr, Dialog());
    WizProgress(hLine, 5, 48, 10); // no dialog: nothing happens
}

struct FormatCase {
    const char *pszFormat;
    int nSize;
    int nResult;
    const char *pszExpected;
};

static const FormatCase kFormats[] = {
    {"Файл %1 из %2, %3 %%", 64, 1, "Файл 12 из 48, 100 %"},
    {"%3%2%1", 64, 1, "1004812"},
    {"%4 %0 %", 64, 1, "%4 %0 %"}, // no such number: as written
    {"-%1-", 64, 1, "-12-"},
    {"%1", 3, 1, "12"},
    {"%1", 2, 0, ""}, // the number does not fit: left out
    {"ab%1", 4, 0, "ab"},
    {"abcdef", 4, 0, "abc"},
    {"", 1, 1, ""},
};

TEST(WizardFormat, NumbersReplaceTheirMarksAndACutIsSaid)
{
    for (const FormatCase &c : kFormats) {
        char szBuf[64];
        memset(szBuf, 'x', sizeof szBuf);
        EXPECT_EQ(c.nResult, WizFormatNumbers(szBuf, Ansi(c.pszFormat).c_str(), c.nSize, 12, 48, 100))
            << c.pszFormat;
        EXPECT_EQ(c.pszExpected, Utf8(szBuf)) << c.pszFormat;
    }
    char szNegative[16];
    WizFormatNumbers(szNegative, "%1 %2", sizeof szNegative, -2147483647 - 1, 0, 0);
    EXPECT_STREQ("-2147483648 0", szNegative);
}
