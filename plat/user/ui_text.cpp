// ui_text.cpp - the terminal front end: the dialog rendered as text in tab order (render.cpp), keys read
// from standard input (Tab, Shift+Tab, Enter, Space, Escape, arrows, letters and Alt+letters).

#include "user/user.h"

#include <errno.h>
#include <fcntl.h>
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
    void PollInput() override;
    void Wake() override;
    int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType) override;

  private:
    enum Key { KeyNone, KeyChar, KeyAltChar, KeyTab, KeyBackTab, KeyEnter, KeySpace, KeyEscape, KeyVk, KeyWoken };
    Key ReadKey(std::string &sChar, int &nVk);
    bool PostKeyInput(Key k, const std::string &sChar, int nVk, Wnd *pDlg);
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

// The pipe Wake writes to, which ends a wait for a key (-1: none made).
static int afdWake[2] = {-1, -1};

// The next byte of standard input: -2 when none came within nTimeoutMs, -3 when woken (only with no
// timeout, -1), -1 at the end of the input.
static int ReadByte(int nTimeoutMs)
{
    if (nTimeoutMs >= 0) {
        struct pollfd pfd = {0, POLLIN, 0};
        if (poll(&pfd, 1, nTimeoutMs) <= 0)
            return -2;
    } else if (afdWake[0] >= 0) {
        struct pollfd apfd[2] = {{0, POLLIN, 0}, {afdWake[0], POLLIN, 0}};
        while (poll(apfd, 2, -1) < 0 && errno == EINTR) {
        }
        if (apfd[1].revents & POLLIN) {
            char aDrain[64];
            while (read(afdWake[0], aDrain, sizeof aDrain) > 0) {
            }
            return -3;
        }
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
    if (c == -3)
        return KeyWoken;
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

// Posts the key read as the dialog's input; false for a key that means nothing here.
bool TextFrontEnd::PostKeyInput(Key k, const std::string &sChar, int nVk, Wnd *pDlg)
{
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
            return false;
        PostInput(pTo, k == KeyAltChar ? WM_SYSCHAR : WM_CHAR, (unsigned char)sAnsi[0], 0);
        return true;
    }
    default:
        return false;
    }
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
        if (k == KeyWoken || PostKeyInput(k, sChar, nVk, pDlg))
            return true;
    }
}

// The keys typed on the terminal so far, without waiting; the page is shown again when the dialog next
// waits. Input that is not a terminal is left for that wait, where its end is noticed.
void TextFrontEnd::PollInput()
{
    std::vector<Wnd *> aDlgs = LiveDialogs();
    if (aDlgs.empty() || !isatty(0))
        return;
    struct pollfd pfd = {0, POLLIN, 0};
    while (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLIN)) {
        std::string sChar;
        int nVk = 0;
        Key k = ReadKey(sChar, nVk);
        PostKeyInput(k, sChar, nVk, aDlgs.back());
    }
}

void TextFrontEnd::Wake()
{
    if (afdWake[1] >= 0) {
        ssize_t n = write(afdWake[1], "w", 1);
        (void)n;
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
    if (afdWake[0] < 0 && pipe2(afdWake, O_CLOEXEC | O_NONBLOCK) != 0)
        afdWake[0] = afdWake[1] = -1;
    return new TextFrontEnd;
}

} // namespace plat
