// test_dlgmgr.cpp - the Linux dialog manager: dialogs built from the wizard's template, the focus, the
// keyboard rules of IsDialogMessageA, clicks, the queue, and the text the terminal and script front ends
// show.

#include "user/user.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A front end with no user: the queue runs dry and GetMessageA fails instead of waiting.
class NoInput : public plat::FrontEnd {
  public:
    const char *Name() const override { return "none"; }
    bool WaitInput() override
    {
        nWaits++;
        return false;
    }
    int MessageBox(plat::Wnd *, const std::string &sText, const std::string &sCaption, UINT) override
    {
        aBoxes.push_back(sCaption + ": " + sText);
        return IDOK;
    }
    void PollInput() override { nPolls++; }
    std::vector<std::string> aBoxes;
    int nWaits = 0; // times the dialog manager asked for input
    int nPolls = 0; // times it looked for input without waiting
};

static NoInput theNoInput;
static std::vector<std::string> aCommands; // "id/code" of every WM_COMMAND the dialog received
static INT_PTR nInitResult;

static INT_PTR CALLBACK RecordProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    (void)hDlg;
    (void)lParam;
    if (uMsg == WM_INITDIALOG)
        return nInitResult;
    if (uMsg == WM_COMMAND) {
        aCommands.push_back(std::to_string(LOWORD(wParam)) + "/" + std::to_string(HIWORD(wParam)));
        return 1;
    }
    return 0;
}

class DialogManager : public ::testing::Test {
  protected:
    void SetUp() override
    {
        plat::SetFrontEnd(&theNoInput);
        aCommands.clear();
        nInitResult = 0;
        hDlg = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(20000), NULL, RecordProc, 0);
        ASSERT_NE(nullptr, hDlg);
    }
    void TearDown() override
    {
        if (IsWindow(hDlg))
            DestroyWindow(hDlg);
        Pump();
    }
    // Delivers everything queued; returns the quit code, or -1 when the queue ran dry.
    int Pump()
    {
        MSG msg;
        for (;;) {
            BOOL r = GetMessageA(&msg, NULL, 0, 0);
            if (r == 0)
                return (int)msg.wParam;
            if (r != 1)
                return -1;
            IsDialogMessageA(hDlg, &msg);
        }
    }
    HWND Item(int nId) { return GetDlgItem(hDlg, nId); }
    void Show(std::initializer_list<int> aIds)
    {
        for (int nId : aIds)
            ShowWindow(Item(nId), SW_SHOW);
    }
    void Key(int nVk, bool bShift = false)
    {
        HWND hTo = GetFocus() != NULL ? GetFocus() : hDlg;
        if (bShift)
            plat::PostInput(plat::WndFromHandle(hTo), WM_KEYDOWN, VK_SHIFT, 0);
        plat::PostInput(plat::WndFromHandle(hTo), WM_KEYDOWN, (WPARAM)nVk, 0);
        plat::PostInput(plat::WndFromHandle(hTo), WM_KEYUP, (WPARAM)nVk, 0);
        if (bShift)
            plat::PostInput(plat::WndFromHandle(hTo), WM_KEYUP, VK_SHIFT, 0);
        Pump();
    }
    void Char(UINT uMsg, unsigned char c)
    {
        HWND hTo = GetFocus() != NULL ? GetFocus() : hDlg;
        plat::PostInput(plat::WndFromHandle(hTo), uMsg, c, 0);
        Pump();
    }
    int FocusId() { return GetFocus() == hDlg ? -2 : GetDlgCtrlID(GetFocus()); }
    HWND hDlg = NULL;
};

// The template: ids, classes, styles, geometry in dialog units and the tab order, as the script has them.
struct ControlCase {
    int nId;
    plat::WndKind nKind;
    int x, y, cx, cy;
    bool bTabStop;
};
static const ControlCase kControls[] = {
    {100, plat::KindPushButton, 74, 158, 50, 14, true},  {101, plat::KindPushButton, 124, 158, 50, 14, true},
    {2, plat::KindPushButton, 182, 158, 50, 14, true},   {0xFFFF, plat::KindEtched, 8, 150, 224, 1, false},
    {200, plat::KindPicture, 8, 8, 224, 110, false},     {201, plat::KindStatic, 8, 126, 224, 16, false},
    {300, plat::KindEdit, 8, 8, 224, 110, true},         {301, plat::KindStatic, 8, 126, 224, 16, false},
    {400, plat::KindStatic, 8, 8, 224, 90, false},       {401, plat::KindCheckBox, 8, 114, 224, 20, true},
    {500, plat::KindStatic, 8, 8, 224, 134, false},
};

TEST_F(DialogManager, TemplateGivesTheControlsInTabOrderWithTheirGeometry)
{
    plat::Wnd *pDlg = plat::WndFromHandle(hDlg);
    EXPECT_EQ(240, pDlg->cx);
    EXPECT_EQ(180, pDlg->cy);
    EXPECT_EQ("MS Sans Serif", pDlg->sFont);
    EXPECT_EQ(8, pDlg->nPointSize);
    EXPECT_EQ(101, pDlg->nDefId);
    EXPECT_TRUE(IsWindowVisible(hDlg));
    EXPECT_FALSE(GetWindowLongA(hDlg, GWL_STYLE) & WS_SYSMENU);
    ASSERT_EQ(sizeof kControls / sizeof kControls[0], pDlg->aChildren.size());
    for (size_t i = 0; i < pDlg->aChildren.size(); i++) {
        const plat::Wnd *p = pDlg->aChildren[i];
        const ControlCase &c = kControls[i];
        SCOPED_TRACE(c.nId);
        EXPECT_EQ(c.nId, p->nId);
        EXPECT_EQ(c.nKind, p->nKind);
        EXPECT_EQ(c.x, p->x);
        EXPECT_EQ(c.y, p->y);
        EXPECT_EQ(c.cx, p->cx);
        EXPECT_EQ(c.cy, p->cy);
        EXPECT_EQ(c.bTabStop, (p->dwStyle & WS_TABSTOP) != 0);
        EXPECT_EQ("", p->sText);
        EXPECT_EQ(c.nId == 0xFFFF, IsWindowVisible(plat::HandleOf((plat::Wnd *)p)) != 0);
    }
    EXPECT_TRUE(GetWindowLongA(Item(300), GWL_STYLE) & ES_MULTILINE);
    EXPECT_EQ(nullptr, Item(999));
}

TEST_F(DialogManager, InitialisationIsSentDuringCreationAndFocusFollowsItsResult)
{
    // Every control is hidden: the focus goes to the dialog itself.
    EXPECT_EQ(-2, FocusId());
    DestroyWindow(hDlg);
    nInitResult = 1;
    hDlg = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(20000), NULL, RecordProc, 0);
    EXPECT_EQ(-2, FocusId());
}

TEST_F(DialogManager, TabAndShiftTabMoveOverVisibleEnabledTabStopsAndWrap)
{
    Show({100, 101, 2, 300, 401});
    EnableWindow(Item(100), FALSE);
    SetFocus(Item(101));
    static const int kForward[] = {2, 300, 401, 101, 2};
    for (int nId : kForward) {
        Key(VK_TAB);
        EXPECT_EQ(nId, FocusId());
    }
    static const int kBackward[] = {101, 401, 300, 2};
    for (int nId : kBackward) {
        Key(VK_TAB, true);
        EXPECT_EQ(nId, FocusId());
    }
}

TEST_F(DialogManager, NextTabItemReturnsTheStartWhenNothingElseQualifies)
{
    EXPECT_EQ(nullptr, GetNextDlgTabItem(hDlg, NULL, FALSE));
    Show({2});
    EXPECT_EQ(Item(2), GetNextDlgTabItem(hDlg, Item(2), FALSE));
    EXPECT_EQ(Item(2), GetNextDlgTabItem(hDlg, NULL, FALSE));
    EnableWindow(Item(2), FALSE);
    EXPECT_EQ(Item(2), GetNextDlgTabItem(hDlg, Item(2), FALSE)); // the start itself, though disabled
    Show({101});
    EXPECT_EQ(Item(101), GetNextDlgTabItem(hDlg, Item(2), FALSE));
    EXPECT_EQ(Item(101), GetNextDlgTabItem(hDlg, Item(2), TRUE));
}

TEST_F(DialogManager, EnterPressesTheFocusedButtonElseTheDefaultOne)
{
    Show({100, 101, 2, 401});
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(100), 1);
    Pump();
    Key(VK_RETURN);
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(401), 1);
    Pump();
    Key(VK_RETURN);
    EnableWindow(Item(101), FALSE);
    Key(VK_RETURN); // a disabled default button is not pressed
    EXPECT_EQ((std::vector<std::string>{"100/0", "101/0"}), aCommands);
}

// Which push buttons carry the default-button look, by id.
static std::vector<int> DefaultLooks(HWND hDlg)
{
    std::vector<int> a;
    for (plat::Wnd *p : plat::WndFromHandle(hDlg)->aChildren)
        if (plat::IsDefaultLook(p))
            a.push_back(p->nId);
    return a;
}

TEST_F(DialogManager, DefaultLookFollowsTheFocusedPushButtonAndReturnsToTheDefaultButton)
{
    Show({100, 101, 2, 300, 401});
    EXPECT_EQ(std::vector<int>{101}, DefaultLooks(hDlg));
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
    EXPECT_EQ(std::vector<int>{2}, DefaultLooks(hDlg));
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(401), 1);
    EXPECT_EQ(std::vector<int>{101}, DefaultLooks(hDlg)); // the check box: back to the default button
    // By the keyboard: Tab from Cancel to the text box, then Enter presses the button that looks default.
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
    Key(VK_TAB);
    EXPECT_EQ(300, FocusId());
    EXPECT_EQ(std::vector<int>{101}, DefaultLooks(hDlg));
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
    Key(VK_TAB, true);
    EXPECT_EQ(101, FocusId());
    Key(VK_TAB, true);
    EXPECT_EQ(100, FocusId());
    EXPECT_EQ(std::vector<int>{100}, DefaultLooks(hDlg));
    Key(VK_TAB, true); // wraps to the check box
    EXPECT_EQ(401, FocusId());
    EXPECT_EQ(std::vector<int>{101}, DefaultLooks(hDlg));
    aCommands.clear(); // the text box's focus notifications
    Key(VK_RETURN);
    EXPECT_EQ((std::vector<std::string>{"101/0"}), aCommands);
    // The default button as the dialog says it now.
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
    SendMessageA(hDlg, DM_SETDEFID, 100, 0);
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(300), 1);
    EXPECT_EQ(std::vector<int>{100}, DefaultLooks(hDlg));
}

// A click moves the focus as the keyboard does: on the check box or the text box the look goes back to the
// dialog's default button, and Enter then presses that button.
TEST_F(DialogManager, ClickingAControlThatIsNoPushButtonGivesTheLookBackToTheDefaultButton)
{
    Show({100, 101, 2, 300, 401});
    for (int nId : {401, 300}) {
        SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
        ASSERT_EQ(std::vector<int>{2}, DefaultLooks(hDlg));
        plat::PostInput(plat::WndFromHandle(Item(nId)), WM_LBUTTONDOWN, 0, 0);
        plat::PostInput(plat::WndFromHandle(Item(nId)), WM_LBUTTONUP, 0, 0);
        Pump();
        EXPECT_EQ(nId, FocusId());
        EXPECT_EQ(std::vector<int>{101}, DefaultLooks(hDlg)) << "clicked " << nId;
        aCommands.clear();
        Key(VK_RETURN);
        EXPECT_EQ((std::vector<std::string>{"101/0"}), aCommands) << "clicked " << nId;
    }
    // The default button as the dialog says it now.
    SendMessageA(hDlg, DM_SETDEFID, 100, 0);
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(2), 1);
    plat::PostInput(plat::WndFromHandle(Item(401)), WM_LBUTTONDOWN, 0, 0);
    plat::PostInput(plat::WndFromHandle(Item(401)), WM_LBUTTONUP, 0, 1); // released outside: no toggle
    Pump();
    EXPECT_EQ(std::vector<int>{100}, DefaultLooks(hDlg));
}

TEST_F(DialogManager, EscapeSendsCancelAndSpaceTogglesOrPresses)
{
    Show({101, 2, 401});
    SetFocus(Item(401));
    Key(VK_SPACE);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(hDlg, 401));
    Key(VK_SPACE);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(hDlg, 401));
    SetFocus(Item(101));
    Key(VK_SPACE);
    Key(VK_ESCAPE);
    EXPECT_EQ((std::vector<std::string>{"401/0", "401/0", "101/0", "2/0"}), aCommands);
}

TEST_F(DialogManager, EscapeDoesNothingWhileCancelIsDisabled)
{
    Show({101, 2, 401});
    SetFocus(Item(401));
    EnableWindow(Item(2), FALSE); // as while the installer works
    Key(VK_ESCAPE);
    EXPECT_EQ(std::vector<std::string>{}, aCommands);
    EXPECT_EQ(401, FocusId());
    EnableWindow(Item(2), TRUE); // Close at the end
    Key(VK_ESCAPE);
    EXPECT_EQ((std::vector<std::string>{"2/0"}), aCommands);
}

TEST_F(DialogManager, EscapeInTheTextBoxClosesThroughTheEnabledCancelButton)
{
    Show({2, 300});
    SetFocus(Item(300));
    Key(VK_ESCAPE);
    EnableWindow(Item(2), FALSE);
    SetFocus(Item(300));
    Key(VK_ESCAPE); // the close request finds Cancel disabled
    EXPECT_EQ((std::vector<std::string>{"300/256", "2/0"}), aCommands);
}

TEST_F(DialogManager, AltLetterPressesTheButtonCaseFoldedCyrillicIncluded)
{
    Show({100, 101, 2});
    SetWindowTextA(Item(100), plat::Utf8ToAnsi("< &Назад").c_str());
    SetWindowTextA(Item(101), plat::Utf8ToAnsi("&Вперёд >").c_str());
    SetWindowTextA(Item(2), "&&Cancel");
    SetFocus(Item(2));
    Char(WM_SYSCHAR, (unsigned char)plat::Utf8ToAnsi("н")[0]);
    EXPECT_EQ(100, FocusId());
    Char(WM_SYSCHAR, (unsigned char)plat::Utf8ToAnsi("В")[0]);
    Char(WM_CHAR, (unsigned char)plat::Utf8ToAnsi("в")[0]); // a button takes no characters: a plain letter works
    Char(WM_SYSCHAR, 'c');                                    // "&&" is no mnemonic
    ShowWindow(Item(100), SW_HIDE);
    Char(WM_SYSCHAR, (unsigned char)plat::Utf8ToAnsi("Н")[0]); // hidden
    ShowWindow(Item(100), SW_SHOW);
    EnableWindow(Item(100), FALSE);
    Char(WM_SYSCHAR, (unsigned char)plat::Utf8ToAnsi("Н")[0]); // disabled
    EXPECT_EQ((std::vector<std::string>{"100/0", "101/0", "101/0"}), aCommands);
}

TEST_F(DialogManager, ClickingTheAutoCheckBoxTogglesItAndGivesItTheFocus)
{
    Show({101, 401});
    HWND hBox = Item(401);
    plat::PostInput(plat::WndFromHandle(hBox), WM_LBUTTONDOWN, 0, 0);
    plat::PostInput(plat::WndFromHandle(hBox), WM_LBUTTONUP, 0, 0);
    Pump();
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(hDlg, 401));
    EXPECT_EQ(401, FocusId());
    plat::PostInput(plat::WndFromHandle(hBox), WM_LBUTTONDOWN, 0, 0);
    plat::PostInput(plat::WndFromHandle(hBox), WM_LBUTTONUP, 0, 1); // released outside
    Pump();
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(hDlg, 401));
    EXPECT_EQ((std::vector<std::string>{"401/0"}), aCommands);
}

TEST_F(DialogManager, HidingTheFocusGivesItToTheDialogAndDisablingDropsIt)
{
    Show({101, 2});
    SetFocus(Item(101));
    ShowWindow(Item(101), SW_HIDE);
    EXPECT_EQ(hDlg, GetFocus());
    SetFocus(Item(2));
    EnableWindow(Item(2), FALSE);
    EXPECT_EQ(nullptr, GetFocus());
    EXPECT_EQ(nullptr, SetFocus(Item(2))); // a disabled window takes no focus
    EXPECT_EQ(nullptr, GetFocus());
}

// The quit message comes only when nothing else is queued: posted messages first, then the user's input,
// then the quit message, whatever the order they were queued in. Wine differs: it returns the quit message
// after the posted messages but before the input (WM_COMMAND, the quit message, then WM_KEYDOWN), so this
// test, run under Wine, would fail at the second message.
TEST_F(DialogManager, PostedMessagesAndInputComeBeforeTheQuitMessage)
{
    Show({2});
    SetFocus(Item(2));
    theNoInput.nWaits = 0;
    plat::PostInput(plat::WndFromHandle(Item(2)), WM_KEYDOWN, VK_ESCAPE, 0);
    PostQuitMessage(5);
    PostMessageA(hDlg, WM_COMMAND, 7, 0);
    MSG msg;
    ASSERT_EQ(1, GetMessageA(&msg, NULL, 0, 0));
    EXPECT_EQ((UINT)WM_COMMAND, msg.message);
    PostMessageA(hDlg, WM_NULL, 0, 0); // posted after the quit message, still before it
    ASSERT_EQ(1, GetMessageA(&msg, NULL, 0, 0));
    EXPECT_EQ((UINT)WM_NULL, msg.message);
    ASSERT_EQ(1, GetMessageA(&msg, NULL, 0, 0));
    EXPECT_EQ((UINT)WM_KEYDOWN, msg.message);
    ASSERT_EQ(0, GetMessageA(&msg, NULL, 0, 0));
    EXPECT_EQ(5u, msg.wParam);
    EXPECT_EQ(0, theNoInput.nWaits); // the quit message does not wait for more input
    EXPECT_EQ(-1, GetMessageA(&msg, NULL, 0, 0)); // nothing more can come
}

TEST_F(DialogManager, PeekLooksWithoutWaitingAndRemovesOnlyWhenAsked)
{
    theNoInput.nWaits = 0;
    theNoInput.nPolls = 0;
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)); // nothing queued: no wait
    EXPECT_EQ(0, theNoInput.nWaits);
    EXPECT_EQ(1, theNoInput.nPolls); // the display was looked at
    PostMessageA(hDlg, WM_COMMAND, 7, 0);
    PostQuitMessage(3);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE));
    EXPECT_EQ((UINT)WM_COMMAND, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ((UINT)WM_COMMAND, msg.message);
    EXPECT_EQ(7u, msg.wParam);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE)); // the quit message stays until removed
    EXPECT_EQ((UINT)WM_QUIT, msg.message);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ((UINT)WM_QUIT, msg.message);
    EXPECT_EQ(3u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(0, theNoInput.nWaits);
}

TEST_F(DialogManager, CloseFromTheWindowMenuAsksTheDialogToClose)
{
    Show({101, 2});
    SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_EQ((std::vector<std::string>{"2/0"}), aCommands);
    aCommands.clear();
    EnableWindow(Item(2), FALSE); // as while the installer works: nothing happens
    SendMessageA(hDlg, WM_SYSCOMMAND, SC_CLOSE, 0);
    Pump();
    EXPECT_EQ(std::vector<std::string>{}, aCommands);
}

// A message sent from another thread: answered when this thread retrieves messages, with a text carried
// both ways; given up with ERROR_TIMEOUT, and never delivered, while this thread does not.
TEST_F(DialogManager, MessagesFromAnotherThreadWaitForThisThreadToRetrieveMessages)
{
    SetWindowTextA(Item(500), "progress 1");
    std::atomic<bool> bDone(false);
    LRESULT r = -1, rText = -1;
    DWORD_PTR dwResult = 0, dwTextLength = 0;
    DWORD dwError = 0;
    char szText[32] = "";
    std::thread sender([&] {
        r = SendMessageTimeoutA(hDlg, WM_COMMAND, 42, 0, SMTO_NORMAL, 5000, &dwResult);
        rText = SendMessageTimeoutA(Item(500), WM_GETTEXT, sizeof szText, (LPARAM)szText, SMTO_NORMAL, 5000,
                                    &dwTextLength);
        bDone = true;
    });
    MSG msg;
    for (int i = 0; i < 5000 && !bDone; i++) {
        PeekMessageA(&msg, NULL, 0, 0, PM_NOREMOVE);
        Sleep(1);
    }
    sender.join();
    EXPECT_EQ(1, r);
    EXPECT_EQ(1u, dwResult); // what the dialog procedure answered
    EXPECT_EQ((std::vector<std::string>{"42/0"}), aCommands);
    EXPECT_EQ(1, rText);
    EXPECT_EQ(10u, dwTextLength);
    EXPECT_STREQ("progress 1", szText);

    // Not retrieved: the sender gives up, and the message is withdrawn.
    aCommands.clear();
    std::thread late([&] {
        r = SendMessageTimeoutA(hDlg, WM_COMMAND, 43, 0, SMTO_NORMAL, 100, &dwResult);
        dwError = GetLastError();
    });
    late.join();
    EXPECT_EQ(0, r);
    EXPECT_EQ((DWORD)ERROR_TIMEOUT, dwError);
    EXPECT_FALSE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(std::vector<std::string>{}, aCommands);

    // A window that is none, and a message posted from there.
    std::thread other([&] {
        r = SendMessageTimeoutA((HWND)&dwError, WM_NULL, 0, 0, SMTO_NORMAL, 100, &dwResult);
        dwError = GetLastError();
        PostMessageA(hDlg, WM_COMMAND, 44, 0);
    });
    other.join();
    EXPECT_EQ(0, r);
    EXPECT_EQ(1400u, dwError);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ((UINT)WM_COMMAND, msg.message);
    EXPECT_EQ(44u, msg.wParam);
}

TEST_F(DialogManager, DestroyedWindowsAreGoneWithTheirMessages)
{
    HWND hNext = Item(101);
    PostMessageA(hNext, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_TRUE(DestroyWindow(hDlg));
    EXPECT_FALSE(IsWindow(hDlg));
    EXPECT_FALSE(IsWindow(hNext));
    EXPECT_EQ(nullptr, GetDlgItem(hDlg, 101));
    EXPECT_EQ(nullptr, FindWindowA("#32770", NULL));
    EXPECT_FALSE(PostMessageA(hDlg, WM_NULL, 0, 0));
    MSG msg;
    EXPECT_EQ(-1, GetMessageA(&msg, NULL, 0, 0));
}

TEST_F(DialogManager, EditSelectionScrollingAndTheFocusNotification)
{
    std::string sText;
    for (int i = 0; i < 30; i++)
        sText += "line\r\n";
    SetWindowTextA(Item(300), sText.c_str());
    Show({300});
    EXPECT_EQ(MAKELONG(0, 0), SendMessageA(Item(300), EM_GETSEL, 0, 0));
    SendMessageA(Item(300), EM_SETSEL, 0, -1);
    EXPECT_EQ(MAKELONG(0, sText.size()), SendMessageA(Item(300), EM_GETSEL, 0, 0));
    EXPECT_EQ(31 - 13, SendMessageA(Item(300), EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageA(Item(300), EM_SETSEL, 0, 0);
    EXPECT_EQ(0, SendMessageA(Item(300), EM_GETFIRSTVISIBLELINE, 0, 0));
    SendMessageA(hDlg, WM_NEXTDLGCTL, (WPARAM)Item(300), 1);
    EXPECT_EQ((std::vector<std::string>{"300/256"}), aCommands); // EN_SETFOCUS
    EXPECT_EQ(MAKELONG(0, sText.size()), SendMessageA(Item(300), EM_GETSEL, 0, 0)); // all, set by the dialog
}

TEST_F(DialogManager, PictureControlKeepsTheBitmapItIsGiven)
{
    HBITMAP hBitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(1100));
    ASSERT_NE(nullptr, hBitmap);
    EXPECT_EQ(0, SendMessageA(Item(200), STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)hBitmap));
    EXPECT_EQ((LRESULT)hBitmap, SendMessageA(Item(200), STM_GETIMAGE, IMAGE_BITMAP, 0));
    EXPECT_EQ((LRESULT)hBitmap, SendMessageA(Item(200), STM_SETIMAGE, IMAGE_BITMAP, 0));
    DeleteObject(hBitmap);
}

// A copy of a bitmap at another size is a bitmap of its own, each pixel taken from the one its centre falls
// on; 0 keeps the width or the height. What is not a bitmap is not copied.
TEST(Bitmaps, CopiesAreStretchedToTheSizeAsked)
{
    HBITMAP hBitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(1100));
    ASSERT_NE(nullptr, hBitmap);
    const plat::Bitmap *pFrom = plat::BitmapFromHandle(hBitmap);
    ASSERT_NE(nullptr, pFrom);
    const int w = pFrom->nWidth, h = pFrom->nHeight;
    struct SizeCase {
        int cx, cy, nWantW, nWantH;
    };
    const SizeCase aCases[] = {{0, 0, w, h}, {w * 3 / 2, h * 3 / 2, w * 3 / 2, h * 3 / 2}, {2 * w, 0, 2 * w, h},
                               {1, 1, 1, 1}};
    for (const SizeCase &c : aCases) {
        HANDLE hCopy = CopyImage(hBitmap, IMAGE_BITMAP, c.cx, c.cy, 0);
        ASSERT_NE(nullptr, hCopy) << c.cx << "x" << c.cy;
        EXPECT_NE((HANDLE)hBitmap, hCopy);
        BITMAP bm;
        ASSERT_EQ((int)sizeof bm, GetObjectA(hCopy, sizeof bm, &bm));
        EXPECT_EQ(c.nWantW, bm.bmWidth);
        EXPECT_EQ(c.nWantH, bm.bmHeight);
        const plat::Bitmap *pTo = plat::BitmapFromHandle(hCopy);
        ASSERT_NE(nullptr, pTo);
        for (int y = 0; y < pTo->nHeight; y += 7)
            for (int x = 0; x < pTo->nWidth; x += 5)
                ASSERT_EQ(pFrom->aPixels[(size_t)((2 * y + 1) * h / (2 * pTo->nHeight)) * w +
                                         (2 * x + 1) * w / (2 * pTo->nWidth)],
                          pTo->aPixels[(size_t)y * pTo->nWidth + x])
                    << c.cx << "x" << c.cy << " at " << x << "," << y;
        EXPECT_TRUE(DeleteObject(hCopy));
    }
    EXPECT_EQ(nullptr, CopyImage(hBitmap, IMAGE_ICON, 0, 0, 0));
    EXPECT_EQ(nullptr, CopyImage(hBitmap, IMAGE_BITMAP, -1, 0, 0));
    EXPECT_TRUE(DeleteObject(hBitmap));
    EXPECT_EQ(nullptr, CopyImage(hBitmap, IMAGE_BITMAP, 0, 0, 0));
}

// The front ends draw dialogs at 96 dots per inch, and the screen's device context says so.
TEST(Bitmaps, TheScreenIsOf96DotsPerInch)
{
    HDC hDC = GetDC(NULL);
    ASSERT_NE(nullptr, hDC);
    EXPECT_EQ(96, GetDeviceCaps(hDC, LOGPIXELSX));
    EXPECT_EQ(96, GetDeviceCaps(hDC, LOGPIXELSY));
    EXPECT_EQ(0, GetDeviceCaps(hDC, 0));
    EXPECT_EQ(1, ReleaseDC(NULL, hDC));
}

// The common controls need no registering: the record of the right size is accepted, any other refused.
TEST(CommonControls, InitialisationTakesTheRecordOfTheRightSize)
{
    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_STANDARD_CLASSES};
    EXPECT_TRUE(InitCommonControlsEx(&icc));
    icc.dwSize = 4;
    EXPECT_FALSE(InitCommonControlsEx(&icc));
    EXPECT_FALSE(InitCommonControlsEx(NULL));
}

TEST_F(DialogManager, MessageBoxesGoThroughTheFrontEnd)
{
    theNoInput.aBoxes.clear();
    EXPECT_EQ(IDOK, MessageBoxA(hDlg, "text", "caption", MB_OK));
    EXPECT_EQ((std::vector<std::string>{"caption: text"}), theNoInput.aBoxes);
}

// The page as the terminal and the script show it: caption, then the visible controls in tab order, the
// focus marked, buttons with their state, the check box as [x] or [ ], the text box behind "| ".
TEST_F(DialogManager, TextRenderingListsTheVisibleControlsInTabOrder)
{
    SetWindowTextA(hDlg, plat::Utf8ToAnsi("Установка").c_str());
    SetWindowTextA(Item(100), "< &Back");
    SetWindowTextA(Item(101), "&Next >");
    SetWindowTextA(Item(2), "Cancel");
    SetWindowTextA(Item(300), "one\r\ntwo");
    SetWindowTextA(Item(301), "label");
    SetWindowTextA(Item(401), plat::Utf8ToAnsi("Флажок").c_str());
    Show({100, 101, 2, 300, 301, 401});
    EnableWindow(Item(100), FALSE);
    CheckDlgButton(hDlg, 401, BST_CHECKED);
    SetFocus(Item(300));
    EXPECT_EQ("=== Установка ===\n"
              "  [< &Back] disabled\n"
              "  [&Next >] default\n"
              "  [Cancel]\n"
              "> | one\n"
              "  | two\n"
              "  label\n"
              "  [x] Флажок\n",
              plat::RenderDialog(plat::WndFromHandle(hDlg)));
    EXPECT_EQ("=== Ошибка ===\n  Нет файла.\n  [OK] [Отмена]\n",
              plat::RenderMessageBox(plat::Utf8ToAnsi("Нет файла."), plat::Utf8ToAnsi("Ошибка"), MB_OKCANCEL));
}

struct ScriptCase {
    const char *pszScript;
    bool bValid;
};
static const ScriptCase kScripts[] = {
    {"next next check back next next cancel", true},
    {"tab,enter, space ,esc,,uncheck", true},
    {"", true},
    {"next jump", false},
    {"Next", false},
};

TEST(ScriptFrontEnd, ActionsAreCheckedBeforeAnyIsTaken)
{
    for (const auto &c : kScripts) {
        std::string sError;
        plat::FrontEnd *p = plat::NewScriptFrontEnd(c.pszScript, &sError);
        EXPECT_EQ(c.bValid, p != nullptr) << c.pszScript;
        EXPECT_EQ(c.bValid, sError.empty()) << c.pszScript;
        delete p;
    }
}

// The wide calls a program makes to show Cyrillic whatever the system's code page (these tests run again with
// PLAT_ACP=1252, as on a Western machine): window texts and message boxes in UTF-16 keep every letter, the
// ANSI view of them is in the machine's code page.
TEST_F(DialogManager, WideWindowTextsKeepCyrillicInAnyCodePage)
{
    const WCHAR *pwszLabel = u"&Вперёд >";
    WCHAR wsz[64];
    char sz[64];
    ASSERT_TRUE(SetWindowTextW(Item(101), pwszLabel));
    EXPECT_EQ(9, GetWindowTextW(Item(101), wsz, 64));
    EXPECT_EQ(std::u16string(pwszLabel), std::u16string(wsz));
    EXPECT_EQ(4, GetWindowTextW(Item(101), wsz, 5)); // cut to the buffer, terminated
    EXPECT_EQ(std::u16string(u"&Впе"), std::u16string(wsz));
    EXPECT_EQ(9, GetWindowTextA(Item(101), sz, sizeof sz));
    EXPECT_EQ(plat::Utf8ToAnsi("&Вперёд >"), std::string(sz));
    ASSERT_TRUE(SetWindowTextW(hDlg, NULL));
    EXPECT_EQ(0, GetWindowTextW(hDlg, wsz, 64));
    EXPECT_FALSE(SetWindowTextW(NULL, pwszLabel));
    Show({101});
    EXPECT_NE(std::string::npos, plat::RenderDialog(plat::WndFromHandle(hDlg)).find("[&Вперёд >]"));
}

TEST_F(DialogManager, WideMessageBoxesKeepCyrillicInAnyCodePage)
{
    theNoInput.aBoxes.clear();
    EXPECT_EQ(IDOK, MessageBoxW(hDlg, u"Нет файла.", u"Установка", MB_OK));
    EXPECT_EQ(IDOK, MessageBoxW(hDlg, u"Текст", NULL, MB_OK));
    ASSERT_EQ(2u, theNoInput.aBoxes.size());
    EXPECT_EQ("Установка: Нет файла.", plat::TextToUtf8(theNoInput.aBoxes[0]));
    EXPECT_EQ("Ошибка: Текст", plat::TextToUtf8(theNoInput.aBoxes[1]));
}

// LoadStringW gives the resource's UTF-16 in any code page: cut to the buffer and terminated, or with a
// capacity of 0 a read-only pointer to the resource's own characters (not terminated) and their number;
// LoadStringA gives the machine's code page, '?' for what it lacks.
TEST_F(DialogManager, LoadStringWGivesTheResourceInAnyCodePage)
{
    HINSTANCE hInstance = GetModuleHandleA(NULL);
    const std::u16string sTitle = u"Установка";
    WCHAR wsz[512];
    EXPECT_EQ(9, LoadStringW(hInstance, 1000, wsz, 512));
    EXPECT_EQ(sTitle, std::u16string(wsz));
    EXPECT_EQ(3, LoadStringW(hInstance, 1000, wsz, 4));
    EXPECT_EQ(std::u16string(u"Уст"), std::u16string(wsz));
    const WCHAR *pwszResource = nullptr;
    EXPECT_EQ(9, LoadStringW(hInstance, 1000, (LPWSTR)&pwszResource, 0));
    ASSERT_NE(nullptr, pwszResource);
    EXPECT_EQ(sTitle, std::u16string(pwszResource, 9));
    EXPECT_EQ(0, LoadStringW(hInstance, 1006, wsz, 512)); // none between the table's entries
    EXPECT_EQ(0, LoadStringW(hInstance, 1000, NULL, 512));
    char sz[512];
    EXPECT_EQ(9, LoadStringA(hInstance, 1000, sz, sizeof sz));
    EXPECT_EQ(plat::Utf8ToAnsi("Установка"), std::string(sz));
}
