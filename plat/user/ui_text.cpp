// ui_text.cpp - the terminal front end: the dialog rendered as text in tab order (render.cpp), keys read
// from standard input (Tab, Shift+Tab, Enter, Space, Escape, arrows, letters and Alt+letters).

#include "user/user.h"

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace plat {

namespace {

class TextFrontEnd : public FrontEnd {
  public:
    const char *Name() const override { return "text"; }
    bool WaitInput() override;
    int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType) override;

  private:
    enum Key { KeyNone, KeyChar, KeyAltChar, KeyTab, KeyBackTab, KeyEnter, KeySpace, KeyEscape, KeyVk };
    Key ReadKey(std::string &sChar, int &nVk);
    void Show(const std::string &s);
    bool bRaw = false;
};

struct termios tmSaved;

void RestoreTerminal()
{
    tcsetattr(0, TCSANOW, &tmSaved);
}

void TextFrontEnd::Show(const std::string &s)
{
    if (isatty(1))
        fputs("\x1b[H\x1b[2J", stdout);
    fputs(s.c_str(), stdout);
    fflush(stdout);
}

static int ReadByte(int nTimeoutMs)
{
    if (nTimeoutMs >= 0) {
        struct pollfd pfd = {0, POLLIN, 0};
        if (poll(&pfd, 1, nTimeoutMs) <= 0)
            return -2;
    }
    unsigned char c;
    ssize_t n = read(0, &c, 1);
    return n == 1 ? c : -1;
}

static void InputEnded()
{
    fputs("standard input ended while the wizard waits for input\n", stderr);
    fflush(stderr);
    fflush(stdout);
    _exit(3);
}

TextFrontEnd::Key TextFrontEnd::ReadKey(std::string &sChar, int &nVk)
{
    if (!bRaw && isatty(0) && tcgetattr(0, &tmSaved) == 0) {
        struct termios tm = tmSaved;
        tm.c_lflag &= ~(tcflag_t)(ICANON | ECHO);
        tm.c_cc[VMIN] = 1;
        tm.c_cc[VTIME] = 0;
        tcsetattr(0, TCSANOW, &tm);
        atexit(RestoreTerminal);
        bRaw = true;
    }
    int c = ReadByte(-1);
    if (c < 0)
        InputEnded();
    if (c == '\t')
        return KeyTab;
    if (c == '\r' || c == '\n')
        return KeyEnter;
    if (c == ' ')
        return KeySpace;
    bool bAlt = false;
    if (c == 0x1b) {
        int d = ReadByte(isatty(0) ? 50 : 0);
        if (d < 0)
            return KeyEscape;
        if (d == '[' || d == 'O') {
            std::string sSeq;
            int e;
            while ((e = ReadByte(50)) >= 0) {
                sSeq += (char)e;
                if (e >= 0x40 && e <= 0x7e)
                    break;
            }
            static const struct {
                const char *psz;
                int nVk;
            } kSeq[] = {{"A", VK_UP},    {"B", VK_DOWN}, {"C", VK_RIGHT},  {"D", VK_LEFT},  {"H", VK_HOME},
                        {"F", VK_END},   {"5~", VK_PRIOR}, {"6~", VK_NEXT}, {"1~", VK_HOME}, {"4~", VK_END}};
            if (sSeq == "Z")
                return KeyBackTab;
            for (auto &k : kSeq)
                if (sSeq == k.psz) {
                    nVk = k.nVk;
                    return KeyVk;
                }
            return KeyNone;
        }
        c = d;
        bAlt = true;
    }
    // One UTF-8 character.
    sChar = std::string(1, (char)c);
    int nMore = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 0;
    for (int i = 0; i < nMore; i++) {
        int d = ReadByte(-1);
        if (d < 0)
            InputEnded();
        sChar += (char)d;
    }
    return bAlt ? KeyAltChar : KeyChar;
}

static void PostKey(Wnd *pTo, int nVk)
{
    PostInput(pTo, WM_KEYDOWN, (WPARAM)nVk, 0);
    PostInput(pTo, WM_KEYUP, (WPARAM)nVk, 0);
}

bool TextFrontEnd::WaitInput()
{
    std::vector<Wnd *> aDlgs = LiveDialogs();
    if (aDlgs.empty())
        return false;
    Wnd *pDlg = aDlgs.back();
    Show(RenderDialog(pDlg) + "\n(Tab, Shift+Tab, Enter, Space, Esc, a button's letter)\n");
    for (;;) {
        std::string sChar;
        int nVk = 0;
        Key k = ReadKey(sChar, nVk);
        Wnd *pTo = FocusWnd() != nullptr ? FocusWnd() : pDlg;
        switch (k) {
        case KeyTab:
            PostKey(pTo, VK_TAB);
            return true;
        case KeyBackTab:
            PostInput(pTo, WM_KEYDOWN, VK_SHIFT, 0);
            PostKey(pTo, VK_TAB);
            PostInput(pTo, WM_KEYUP, VK_SHIFT, 0);
            return true;
        case KeyEnter:
            PostKey(pTo, VK_RETURN);
            return true;
        case KeySpace:
            PostKey(pTo, VK_SPACE);
            return true;
        case KeyEscape:
            PostKey(pTo, VK_ESCAPE);
            return true;
        case KeyVk:
            PostKey(pTo, nVk);
            return true;
        case KeyChar:
        case KeyAltChar: {
            std::string sAnsi = Utf8ToText(sChar);
            if (sAnsi.size() != 1)
                continue;
            PostInput(pTo, k == KeyAltChar ? WM_SYSCHAR : WM_CHAR, (unsigned char)sAnsi[0], 0);
            return true;
        }
        default:
            continue;
        }
    }
}

int TextFrontEnd::MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType)
{
    (void)pOwner;
    auto aButtons = MessageBoxButtons(uType);
    Show(RenderMessageBox(sText, sCaption, uType) + "\n(Enter: the first button, Esc: cancel, 1-" +
         std::to_string(aButtons.size()) + ": a button)\n");
    for (;;) {
        std::string sChar;
        int nVk = 0;
        Key k = ReadKey(sChar, nVk);
        if (k == KeyEnter || k == KeySpace)
            return aButtons[0].second;
        if (k == KeyEscape) {
            for (auto &b : aButtons)
                if (b.second == IDCANCEL)
                    return IDCANCEL;
            if (aButtons.size() == 1)
                return aButtons[0].second;
            continue;
        }
        if (k == KeyChar && sChar.size() == 1 && sChar[0] >= '1' && sChar[0] < '1' + (int)aButtons.size())
            return aButtons[(size_t)(sChar[0] - '1')].second;
    }
}

} // namespace

FrontEnd *NewTextFrontEnd()
{
    return new TextFrontEnd;
}

} // namespace plat
