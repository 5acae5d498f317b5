// ui_gui.cpp - the GUI front end: each dialog is an FLTK window laid out from its template in dialog units
// (converted from the font's base units the Win32 way) and drawn in the Win32 manner: raised push buttons
// with the default frame and the focus rectangle, sunken check boxes and edit boxes, the etched line, the
// picture at its own size in a sunken frame, "&" underlined. Input becomes messages for the dialog manager.
//
// The parts of this file, in order:
//   units       the system colours, the dialog font's base units, dialog units to pixels
//   drawing     edges (raised, sunken, etched), the focus rectangle, labels with their mnemonic, wrapped
//               text, the push button, bitmaps
//   controls    one class per kind of control, as the dialog manager has one window procedure per class:
//               Control (what they share: the clip, the font, a press taken), ButtonControl
//               (PushButtonControl, CheckBoxControl), the statics (TextControl, PictureControl,
//               EtchedControl), EditControl (wrapped text, the scroll bar), OtherControl; NewControl
//   dialogs     the dialog window and keyboard input (keys to virtual keys, Alt+letter)
//   msgboxes    the message box window and its buttons
//   front end   GuiFrontEnd (FrontEnd): dialogs made, changed and destroyed, the wait for input, MessageBox;
//               NewGuiFrontEnd, which frontend.cpp reaches through a weak reference

#include "user/user.h"

#include <FL/Fl.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_RGB_Image.H>
#include <FL/fl_draw.H>
#include <FL/x.H>
#include <X11/Xlib.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <memory>

namespace plat {

namespace {

// The system colours of the platform's light scheme.
const Fl_Color cFace = 0xF5F5F500;
const Fl_Color cHighlight = 0xFFFFFF00;
const Fl_Color cLight = 0xE3E3E300;
const Fl_Color cShadow = 0xA6A6A600;
const Fl_Color cDkShadow = 0x6A6A6A00;
const Fl_Color cFrame = 0x9E9E9E00;   // the default button's frame
const Fl_Color cScrollFrame = 0xAEAEAE00;
const Fl_Color cGlyph = 0x61616100;
const Fl_Color cText = 0x00000000;
const Fl_Color cGrayText = 0xA6A6A600;
const Fl_Color cWindow = 0xFFFFFF00;

const int kScrollWidth = 17; // the width of a vertical scroll bar
const int kCheckSize = 13;

Fl_Font nFont = FL_HELVETICA;
int nFontSize = 11;
int nBaseX = 6, nBaseY = 13; // the dialog font's base units
int nLineHeight = 13;

int MulDivRound(int a, int b, int c)
{
    long long n = (long long)a * b;
    return (int)(n >= 0 ? (n + c / 2) / c : (n - c / 2) / c);
}

int PxX(int n)
{
    return MulDivRound(n, nBaseX, 4);
}

int PxY(int n)
{
    return MulDivRound(n, nBaseY, 8);
}

// ---------------------------------------------------------------------------------------------------------
// Drawing in the Win32 manner

void HLine(int x1, int x2, int y, Fl_Color c)
{
    fl_color(c);
    fl_xyline(x1, y, x2);
}

void VLine(int x, int y1, int y2, Fl_Color c)
{
    fl_color(c);
    fl_yxline(x, y1, y2);
}

// One ring of an edge: top and left in cTL, bottom and right in cBR.
void Ring(int x, int y, int w, int h, Fl_Color cTL, Fl_Color cBR)
{
    if (w <= 0 || h <= 0)
        return;
    HLine(x, x + w - 2, y, cTL);
    VLine(x, y, y + h - 2, cTL);
    HLine(x, x + w - 1, y + h - 1, cBR);
    VLine(x + w - 1, y, y + h - 1, cBR);
}

void RaisedEdge(int x, int y, int w, int h)
{
    Ring(x, y, w, h, cHighlight, cDkShadow);
    Ring(x + 1, y + 1, w - 2, h - 2, cLight, cShadow);
}

void SunkenEdge(int x, int y, int w, int h)
{
    Ring(x, y, w, h, cShadow, cHighlight);
    Ring(x + 1, y + 1, w - 2, h - 2, cDkShadow, cLight);
}

void EtchedEdge(int x, int y, int w, int h)
{
    Ring(x, y, w, h, cShadow, cHighlight);
    if (w > 2 && h > 2)
        Ring(x + 1, y + 1, w - 2, h - 2, cHighlight, cShadow);
}

void FocusRect(int x, int y, int w, int h)
{
    fl_color(cText);
    for (int i = x; i < x + w; i += 2) {
        fl_point(i, y);
        fl_point(i, y + h - 1);
    }
    for (int j = y; j < y + h; j += 2) {
        fl_point(x, j);
        fl_point(x + w - 1, j);
    }
}

// A one-line label with its mnemonic underlined, at (x, baseline y).
void DrawLabel(const std::string &sAnsi, int x, int y, Fl_Color c)
{
    int nMnemonic;
    std::string sShown = StripMnemonic(sAnsi, &nMnemonic);
    std::string sUtf8 = TextToUtf8(sShown);
    fl_color(c);
    fl_draw(sUtf8.c_str(), x, y);
    if (nMnemonic >= 0) {
        std::string sBefore = TextToUtf8(sShown.substr(0, (size_t)nMnemonic));
        std::string sChar = TextToUtf8(sShown.substr((size_t)nMnemonic, 1));
        int x1 = x + (int)fl_width(sBefore.c_str());
        int w = (int)fl_width(sChar.c_str());
        fl_xyline(x1, y + 1, x1 + w - 1);
    }
}

void DrawLabelState(const std::string &sAnsi, int x, int y, bool bEnabled)
{
    if (bEnabled) {
        DrawLabel(sAnsi, x, y, cText);
    } else {
        DrawLabel(sAnsi, x + 1, y + 1, cHighlight);
        DrawLabel(sAnsi, x, y, cGrayText);
    }
}

int LabelWidth(const std::string &sAnsi)
{
    return (int)fl_width(TextToUtf8(StripMnemonic(sAnsi, nullptr)).c_str());
}

// Word-wrapped lines of a text (UTF-8) for a width, breaking at blanks, and inside a word only when the
// word alone is too wide; line breaks ("\n", "\r\n") are kept.
std::vector<std::string> WrapText(const std::string &sUtf8, int nWidth)
{
    std::vector<std::string> aLines;
    std::string sText;
    for (char c : sUtf8)
        if (c != '\r')
            sText += c;
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = sText.find('\n', nStart);
        std::string sPara = sText.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        std::string sLine;
        size_t i = 0;
        if (sPara.empty())
            aLines.push_back("");
        while (i < sPara.size()) {
            size_t j = sPara.find(' ', i);
            std::string sWord = sPara.substr(i, j == std::string::npos ? std::string::npos : j - i + 1);
            i = j == std::string::npos ? sPara.size() : j + 1;
            std::string sTry = sLine + sWord;
            std::string sTrimmed = sTry;
            while (!sTrimmed.empty() && sTrimmed.back() == ' ')
                sTrimmed.pop_back();
            if (fl_width(sTrimmed.c_str()) <= nWidth || sLine.empty()) {
                if (!sLine.empty() || fl_width(sTrimmed.c_str()) <= nWidth) {
                    sLine = sTry;
                    continue;
                }
                // A word wider than the line: cut it at a character.
                std::string sPart;
                for (size_t k = 0; k < sWord.size();) {
                    size_t n = 1;
                    unsigned char c = (unsigned char)sWord[k];
                    if (c >= 0xC0)
                        n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
                    std::string sNext = sPart + sWord.substr(k, n);
                    if (fl_width(sNext.c_str()) > nWidth && !sPart.empty()) {
                        aLines.push_back(sPart);
                        sPart.clear();
                        continue;
                    }
                    sPart = sNext;
                    k += n;
                }
                sLine = sPart;
                continue;
            }
            while (!sLine.empty() && sLine.back() == ' ')
                sLine.pop_back();
            aLines.push_back(sLine);
            sLine = sWord;
        }
        if (!sPara.empty()) {
            while (!sLine.empty() && sLine.back() == ' ')
                sLine.pop_back();
            aLines.push_back(sLine);
        }
        if (nEnd == std::string::npos)
            break;
        nStart = nEnd + 1;
    }
    return aLines;
}

void DrawPushButton(int x, int y, int w, int h, const std::string &sLabel, bool bDefault, bool bFocus,
                    bool bPushed, bool bEnabled)
{
    int fx = x, fy = y, fw = w, fh = h;
    fl_color(cFace);
    fl_rectf(x, y, w, h);
    if (bDefault) {
        fl_color(cFrame);
        fl_rect(x, y, w, h);
        x++, y++, w -= 2, h -= 2;
    }
    if (bPushed) {
        fl_color(cShadow);
        fl_rect(x, y, w, h);
    } else {
        RaisedEdge(x, y, w, h);
    }
    int nText = LabelWidth(sLabel);
    int tx = x + (w - nText) / 2 + (bPushed ? 1 : 0);
    int ty = y + (h - fl_height()) / 2 + fl_height() - fl_descent() + (bPushed ? 1 : 0);
    DrawLabelState(sLabel, tx, ty, bEnabled);
    if (bFocus)
        FocusRect(fx + 3, fy + 3, fw - 6, fh - 6);
}

Fl_RGB_Image *ImageOf(Bitmap *pBitmap, std::vector<unsigned char> &aRgb)
{
    aRgb.resize((size_t)pBitmap->nWidth * pBitmap->nHeight * 3);
    for (size_t i = 0; i < pBitmap->aPixels.size(); i++) {
        aRgb[3 * i] = (unsigned char)(pBitmap->aPixels[i] >> 16);
        aRgb[3 * i + 1] = (unsigned char)(pBitmap->aPixels[i] >> 8);
        aRgb[3 * i + 2] = (unsigned char)pBitmap->aPixels[i];
    }
    return new Fl_RGB_Image(aRgb.data(), pBitmap->nWidth, pBitmap->nHeight, 3);
}

// ---------------------------------------------------------------------------------------------------------
// Controls

// One class per kind of control, as the dialog manager has one window procedure per class: the buttons
// (ButtonProc) push buttons and check boxes, which take the mouse; the statics (StaticProc) text, pictures
// and etched lines, which take none; the edit control (EditProc) with its text wrapped and its scroll bar.
// Each draws itself within its own rectangle, in the dialog's font.
class Control : public Fl_Widget {
  public:
    Control(Wnd *p, int x, int y, int w, int h) : Fl_Widget(x, y, w, h), pWnd(p) { visible_focus(0); }
    void draw() override;
    int handle(int nEvent) override;
    // Tells the dialog manager what the control's layout makes of its text (an edit control's lines).
    virtual void Layout() {}

  protected:
    virtual void Draw() = 0;
    // Mouse input, while the control is shown: a press is taken (and so are the drag and release that
    // follow it), and nothing else.
    virtual int Input(int nEvent);
    void FillFace();
    Wnd *pWnd;
};

void Control::draw()
{
    fl_font(nFont, nFontSize);
    fl_push_clip(x(), y(), w(), h());
    Draw();
    fl_pop_clip();
}

int Control::handle(int nEvent)
{
    if (!IsShown(pWnd))
        return 0;
    return Input(nEvent);
}

int Control::Input(int nEvent)
{
    return nEvent == FL_PUSH || nEvent == FL_DRAG || nEvent == FL_RELEASE ? 1 : 0;
}

void Control::FillFace()
{
    fl_color(cFace);
    fl_rectf(x(), y(), w(), h());
}

// A control of a class this dialog manager does not draw: the face colour.
class OtherControl : public Control
{
  public:
    using Control::Control;

  protected:
    void Draw() override
    {
        FillFace();
    }
};

// ---------------------------------------------------------------------------------------------------------
// Buttons: the left mouse button pressed and released on them is passed on, the dialog manager deciding
// what a click is.

class ButtonControl : public Control
{
  public:
    using Control::Control;

  protected:
    int Input(int nEvent) override;
};

int ButtonControl::Input(int nEvent)
{
    if (nEvent == FL_PUSH && IsEnabled(pWnd) && Fl::event_button() == FL_LEFT_MOUSE)
        PostInput(pWnd, WM_LBUTTONDOWN, 0, 0);
    else if (nEvent == FL_RELEASE)
        PostInput(pWnd, WM_LBUTTONUP, 0, Fl::event_inside(this) ? 0 : 1);
    return Control::Input(nEvent);
}

class PushButtonControl : public ButtonControl
{
  public:
    using ButtonControl::ButtonControl;

  protected:
    void Draw() override
    {
        DrawPushButton(x(), y(), w(), h(), pWnd->sText, IsDefaultLook(pWnd), FocusWnd() == pWnd,
                       pWnd->bPushed, IsEnabled(pWnd));
    }
};

class CheckBoxControl : public ButtonControl
{
  public:
    using ButtonControl::ButtonControl;

  protected:
    void Draw() override;
};

void CheckBoxControl::Draw()
{
    Wnd *p = pWnd;
    bool bEnabled = IsEnabled(p);
    FillFace();
    int by = y() + (h() - kCheckSize) / 2;
    fl_color(p->bPushed || !bEnabled ? cFace : cWindow);
    fl_rectf(x(), by, kCheckSize, kCheckSize);
    SunkenEdge(x(), by, kCheckSize, kCheckSize);
    if (p->bChecked) {
        fl_color(bEnabled ? cText : cGrayText);
        // The check mark: 7 columns, 3 pixels high each.
        static const int kDy[7] = {2, 3, 4, 3, 2, 1, 0};
        for (int i = 0; i < 7; i++)
            fl_yxline(x() + 3 + i, by + 3 + kDy[i], by + 5 + kDy[i]);
    }
    int tx = x() + kCheckSize + 4;
    int ty = y() + (h() - fl_height()) / 2 + fl_height() - fl_descent();
    DrawLabelState(p->sText, tx, ty, bEnabled);
    if (FocusWnd() == p)
        FocusRect(tx - 1, y() + (h() - fl_height()) / 2 - 1, LabelWidth(p->sText) + 3, fl_height() + 2);
}

// ---------------------------------------------------------------------------------------------------------
// Statics: they take no input of their own.

class TextControl : public Control
{
  public:
    using Control::Control;

  protected:
    void Draw() override;
};

void TextControl::Draw()
{
    Wnd *p = pWnd;
    FillFace();
    std::vector<std::string> a = WrapText(TextToUtf8(p->sText), w());
    int ty = y() + fl_height() - fl_descent();
    for (const std::string &s : a) {
        if (ty - fl_height() > y() + h())
            break;
        int tx = x();
        DWORD dwAlign = p->dwStyle & SS_TYPEMASK;
        if (dwAlign == SS_CENTER)
            tx += (w() - (int)fl_width(s.c_str())) / 2;
        else if (dwAlign == SS_RIGHT)
            tx += w() - (int)fl_width(s.c_str());
        fl_color(IsEnabled(p) ? cText : cGrayText);
        fl_draw(s.c_str(), tx, ty);
        ty += nLineHeight;
    }
}

// A bitmap at its own size (centred with SS_CENTERIMAGE), in a sunken frame when it has a border.
class PictureControl : public Control
{
  public:
    using Control::Control;

  protected:
    void Draw() override;

  private:
    HGDIOBJ hShown = NULL; // the bitmap behind pImage
    std::unique_ptr<Fl_RGB_Image> pImage;
    std::vector<unsigned char> aRgb;
};

void PictureControl::Draw()
{
    Wnd *p = pWnd;
    FillFace();
    bool bBorder = (p->dwStyle & WS_BORDER) || (p->dwExStyle & WS_EX_CLIENTEDGE);
    if (bBorder)
        SunkenEdge(x(), y(), w(), h());
    Bitmap *pBitmap = BitmapFromHandle(p->hImage);
    if (pBitmap != nullptr && p->hImage != hShown) {
        pImage.reset(ImageOf(pBitmap, aRgb));
        hShown = p->hImage;
    }
    if (pBitmap != nullptr && pImage) {
        int nIn = bBorder ? 2 : 0;
        int ix = x() + nIn, iy = y() + nIn;
        if (p->dwStyle & SS_CENTERIMAGE) {
            ix = x() + (w() - pBitmap->nWidth) / 2;
            iy = y() + (h() - pBitmap->nHeight) / 2;
        }
        fl_push_clip(x() + nIn, y() + nIn, w() - 2 * nIn, h() - 2 * nIn);
        pImage->draw(ix, iy);
        fl_pop_clip();
    }
}

// The etched lines and frames, and the plain frames and rectangles in the system colours.
class EtchedControl : public Control
{
  public:
    using Control::Control;

  protected:
    void Draw() override;
};

void EtchedControl::Draw()
{
    FillFace();
    DWORD dwType = pWnd->dwStyle & SS_TYPEMASK;
    if (dwType == SS_ETCHEDHORZ)
        EtchedEdge(x(), y(), w(), 2);
    else if (dwType == SS_ETCHEDVERT)
        EtchedEdge(x(), y(), 2, h());
    else if (dwType == SS_ETCHEDFRAME)
        EtchedEdge(x(), y(), w(), h());
    else if (dwType == SS_BLACKFRAME || dwType == SS_GRAYFRAME || dwType == SS_WHITEFRAME) {
        fl_color(dwType == SS_BLACKFRAME ? cDkShadow : dwType == SS_GRAYFRAME ? cShadow : cHighlight);
        fl_rect(x(), y(), w(), h());
    } else {
        fl_color(dwType == SS_BLACKRECT ? cDkShadow : dwType == SS_GRAYRECT ? cShadow : cHighlight);
        fl_rectf(x(), y(), w(), h());
    }
}

// ---------------------------------------------------------------------------------------------------------
// The edit control: its text wrapped to its width (the dialog manager scrolls by these lines), a vertical
// scroll bar, the caret at the start while it has the focus and nothing is selected.

class EditControl : public Control
{
  public:
    using Control::Control;
    void Layout() override;

  protected:
    void Draw() override;
    int Input(int nEvent) override;

  private:
    void DrawScrollBar(int x, int y, int w, int h);
    bool ScrollBarHit(int &nPart);
    std::vector<std::string> aLines; // the text, wrapped
    std::string sLaidOut;            // the text those lines were made from
    int nThumbGrab = -1;             // where the scroll box was taken, while it is dragged
};

void EditControl::Layout()
{
    if (sLaidOut == pWnd->sText)
        return;
    fl_font(nFont, nFontSize);
    sLaidOut = pWnd->sText;
    int nTextWidth = w() - 4 - kScrollWidth - 4;
    aLines = WrapText(TextToUtf8(pWnd->sText), nTextWidth);
    pWnd->nWrapLines = (int)aLines.size();
    pWnd->nWrapVisible = std::max(1, (h() - 4) / nLineHeight);
}

void EditControl::DrawScrollBar(int sx, int sy, int sw, int sh)
{
    Wnd *p = pWnd;
    fl_color(cFace);
    fl_rectf(sx, sy, sw, sh);
    int nArrow = std::min(sw, sh / 2);
    for (int i = 0; i < 2; i++) {
        int ay = i == 0 ? sy : sy + sh - nArrow;
        fl_color(cWindow);
        fl_rectf(sx, ay, sw, nArrow);
        fl_color(cScrollFrame);
        fl_rect(sx, ay, sw, nArrow);
        // A chevron, two pixels thick.
        int cx = sx + sw / 2, cy = ay + nArrow / 2;
        fl_color(IsEnabled(p) ? cGlyph : cScrollFrame);
        for (int k = -3; k <= 3; k++) {
            int d = 3 - (k < 0 ? -k : k);
            int yy = i == 0 ? cy + 1 - d : cy - 1 + d;
            fl_yxline(cx + k, yy, yy + 1);
        }
    }
    int nTrack = sh - 2 * nArrow;
    int nMax = std::max(1, p->nWrapLines);
    int nVisible = std::max(1, p->nWrapVisible);
    if (nMax > nVisible && nTrack > 8) {
        int nThumb = std::max(8, nTrack * nVisible / nMax);
        int nRange = nMax - nVisible;
        int ty = sy + nArrow + (nTrack - nThumb) * std::min(p->nFirstLine, nRange) / nRange;
        fl_color(cWindow);
        fl_rectf(sx, ty, sw, nThumb);
        fl_color(cScrollFrame);
        fl_rect(sx, ty, sw, nThumb);
    }
}

void EditControl::Draw()
{
    Wnd *p = pWnd;
    Layout();
    fl_color(IsEnabled(p) && !(p->dwStyle & ES_READONLY) ? cWindow : (IsEnabled(p) ? cWindow : cFace));
    fl_rectf(x(), y(), w(), h());
    bool bBorder = (p->dwStyle & WS_BORDER) || (p->dwExStyle & WS_EX_CLIENTEDGE);
    int nIn = bBorder ? 2 : 0;
    if (bBorder)
        SunkenEdge(x(), y(), w(), h());
    int nScroll = (p->dwStyle & WS_VSCROLL) ? kScrollWidth : 0;
    if (nScroll)
        DrawScrollBar(x() + w() - nIn - nScroll, y() + nIn, nScroll, h() - 2 * nIn);
    int tx = x() + nIn + 2, ty0 = y() + nIn + 1;
    fl_push_clip(x() + nIn, y() + nIn, w() - 2 * nIn - nScroll, h() - 2 * nIn);
    fl_color(IsEnabled(p) ? cText : cGrayText);
    int ty = ty0 + fl_height() - fl_descent();
    int nShown = 0;
    for (size_t i = (size_t)std::max(0, p->nFirstLine); i < aLines.size() && nShown < p->nWrapVisible; i++) {
        nShown++;
        fl_draw(aLines[i].c_str(), tx, ty);
        ty += nLineHeight;
    }
    if (FocusWnd() == p && p->nSelStart == p->nSelEnd && p->nSelEnd == 0 && p->nFirstLine == 0) {
        fl_color(cText);
        fl_yxline(tx, ty0, ty0 + fl_height() - 1);
    }
    fl_pop_clip();
}

// The part of the scroll bar under the mouse: 0 line up, 1 line down, 2 page up, 3 page down, 5 the box.
bool EditControl::ScrollBarHit(int &nPart)
{
    Wnd *p = pWnd;
    if (!(p->dwStyle & WS_VSCROLL))
        return false;
    int sx = x() + w() - 2 - kScrollWidth, sy = y() + 2, sh = h() - 4;
    int mx = Fl::event_x(), my = Fl::event_y();
    if (mx < sx || mx >= sx + kScrollWidth || my < sy || my >= sy + sh)
        return false;
    int nArrow = std::min(kScrollWidth, sh / 2);
    int nTrack = sh - 2 * nArrow;
    int nMax = std::max(1, p->nWrapLines), nVisible = std::max(1, p->nWrapVisible);
    if (my < sy + nArrow) {
        nPart = 0;
    } else if (my >= sy + sh - nArrow) {
        nPart = 1;
    } else if (nMax <= nVisible) {
        nPart = -1;
    } else {
        int nThumb = std::max(8, nTrack * nVisible / nMax);
        int nRange = nMax - nVisible;
        int ty = sy + nArrow + (nTrack - nThumb) * std::min(p->nFirstLine, nRange) / nRange;
        nPart = my < ty ? 2 : my >= ty + nThumb ? 3 : 5;
        if (nPart == 5)
            nThumbGrab = my - ty;
    }
    return true;
}

int EditControl::Input(int nEvent)
{
    Wnd *p = pWnd;
    switch (nEvent) {
    case FL_PUSH: {
        if (!IsEnabled(p) || Fl::event_button() != FL_LEFT_MOUSE)
            return 1;
        int nPart;
        if (ScrollBarHit(nPart)) {
            if (nPart >= 0 && nPart <= 3)
                PostInput(p, WM_VSCROLL, (WPARAM)nPart, 0);
            return 1;
        }
        nThumbGrab = -1;
        PostInput(p, WM_LBUTTONDOWN, 0, 0);
        return 1;
    }
    case FL_DRAG:
        if (nThumbGrab >= 0) {
            int sh = h() - 4, nArrow = std::min(kScrollWidth, sh / 2), nTrack = sh - 2 * nArrow;
            int nMax = std::max(1, p->nWrapLines), nVisible = std::max(1, p->nWrapVisible);
            int nThumb = std::max(8, nTrack * nVisible / nMax);
            int nPos = Fl::event_y() - nThumbGrab - (y() + 2 + nArrow);
            int nLine = nTrack > nThumb ? nPos * (nMax - nVisible) / (nTrack - nThumb) : 0;
            PostInput(p, WM_VSCROLL, MAKEWPARAM(5, std::max(0, nLine)), 0);
        }
        return 1;
    case FL_RELEASE:
        nThumbGrab = -1;
        return 1;
    case FL_MOUSEWHEEL:
        if (Fl::event_dy() != 0) {
            PostInput(p, WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(int16_t)(-120 * Fl::event_dy())), 0);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

// The control for a window of the dialog, by its kind.
Control *NewControl(Wnd *p, int x, int y, int w, int h)
{
    switch (p->nKind) {
    case KindPushButton:
        return new PushButtonControl(p, x, y, w, h);
    case KindCheckBox:
        return new CheckBoxControl(p, x, y, w, h);
    case KindStatic:
        return new TextControl(p, x, y, w, h);
    case KindPicture:
        return new PictureControl(p, x, y, w, h);
    case KindEtched:
        return new EtchedControl(p, x, y, w, h);
    case KindEdit:
        return new EditControl(p, x, y, w, h);
    default:
        return new OtherControl(p, x, y, w, h);
    }
}

// ---------------------------------------------------------------------------------------------------------
// The dialog window and keyboard input

// X keysyms of the Cyrillic letters, in their KOI8 order, for Alt+letter when the toolkit gives no text.
const char *const kCyrillicLower = "юабцдефгхийклмнопярстужвьызшэщчъ";
const char *const kCyrillicUpper = "ЮАБЦДЕФГХИЙКЛМНОПЯРСТУЖВЬЫЗШЭЩЧЪ";

std::string KeysymText(int nKey)
{
    auto nth = [](const char *psz, int n) {
        std::string s = psz; // two bytes a letter in UTF-8
        return s.substr((size_t)n * 2, 2);
    };
    if (nKey >= 0x6c0 && nKey <= 0x6df)
        return nth(kCyrillicLower, nKey - 0x6c0);
    if (nKey >= 0x6e0 && nKey <= 0x6ff)
        return nth(kCyrillicUpper, nKey - 0x6e0);
    if (nKey == 0x6a3)
        return "ё";
    if (nKey == 0x6b3)
        return "Ё";
    if (nKey >= 0x20 && nKey < 0x7f)
        return std::string(1, (char)nKey);
    return std::string();
}

class DialogWindow : public Fl_Double_Window {
  public:
    DialogWindow(Wnd *p, int w, int h) : Fl_Double_Window(w, h), pDlg(p) {}
    int handle(int nEvent) override;
    Wnd *pDlg;
};

void PostKey(Wnd *pTo, int nVk)
{
    PostInput(pTo, WM_KEYDOWN, (WPARAM)nVk, 0);
    PostInput(pTo, WM_KEYUP, (WPARAM)nVk, 0);
}

int DialogWindow::handle(int nEvent)
{
    Wnd *pTo = FocusWnd() != nullptr ? FocusWnd() : pDlg;
    switch (nEvent) {
    case FL_FOCUS:
    case FL_UNFOCUS:
        return 1;
    case FL_KEYBOARD:
    case FL_SHORTCUT: {
        int nKey = Fl::event_key();
        bool bShift = Fl::event_state(FL_SHIFT) != 0;
        bool bAlt = Fl::event_state(FL_ALT) != 0;
        static const struct {
            int nKey;
            int nVk;
        } kKeys[] = {{FL_Tab, VK_TAB},     {FL_Enter, VK_RETURN}, {FL_KP_Enter, VK_RETURN}, {FL_Escape, VK_ESCAPE},
                     {FL_Up, VK_UP},       {FL_Down, VK_DOWN},    {FL_Left, VK_LEFT},       {FL_Right, VK_RIGHT},
                     {FL_Page_Up, VK_PRIOR}, {FL_Page_Down, VK_NEXT}, {FL_Home, VK_HOME},   {FL_End, VK_END}};
        for (auto &k : kKeys) {
            if (nKey != k.nKey)
                continue;
            if (bShift)
                PostInput(pTo, WM_KEYDOWN, VK_SHIFT, 0);
            PostKey(pTo, k.nVk);
            if (bShift)
                PostInput(pTo, WM_KEYUP, VK_SHIFT, 0);
            return 1;
        }
        if (nKey == ' ' && !bAlt) {
            PostInput(pTo, WM_KEYDOWN, VK_SPACE, 0);
            return 1;
        }
        std::string sText = Fl::event_length() > 0 ? std::string(Fl::event_text(), (size_t)Fl::event_length()) : "";
        if (bAlt && (sText.empty() || (unsigned char)sText[0] < 0x20))
            sText = KeysymText(nKey);
        if (sText.empty() || (unsigned char)sText[0] < 0x20 || Fl::event_state(FL_CTRL))
            return 1;
        std::string sAnsi = Utf8ToText(sText);
        if (sAnsi.size() == 1)
            PostInput(pTo, bAlt ? WM_SYSCHAR : WM_CHAR, (unsigned char)sAnsi[0], 0);
        return 1;
    }
    case FL_KEYUP:
        if (Fl::event_key() == ' ')
            PostInput(pTo, WM_KEYUP, VK_SPACE, 0);
        return 1;
    default:
        return Fl_Double_Window::handle(nEvent);
    }
}

void CloseRequested(Fl_Widget *pWidget, void *pData)
{
    (void)pWidget;
    // The frame's close box (or the window manager): the dialog decides, as for WM_CLOSE.
    PostInput((Wnd *)pData, WM_CLOSE, 0, 0);
}

// A dialog without a system menu has no close box: asked of the window manager, which may not listen (a
// close request is then Cancel, see CloseRequested).
void AskNoCloseBox(Fl_Window *pWindow)
{
    struct {
        unsigned long flags, functions, decorations;
        long input_mode;
        unsigned long status;
    } hints = {1 /* functions */, 4 /* move only */, 0, 0, 0};
    Atom aHints = XInternAtom(fl_display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(fl_display, fl_xid(pWindow), aHints, aHints, 32, PropModeReplace, (unsigned char *)&hints, 5);
}

struct DialogUi {
    DialogWindow *pWindow = nullptr;
};

// ---------------------------------------------------------------------------------------------------------
// Message boxes

class MessageButton : public Fl_Widget {
  public:
    MessageButton(int x, int y, int w, int h, std::string s, int n, int *pn)
        : Fl_Widget(x, y, w, h), sLabel(std::move(s)), nResult(n), pnResult(pn)
    {
        visible_focus(0);
    }
    void draw() override
    {
        fl_font(nFont, nFontSize);
        DrawPushButton(x(), y(), w(), h(), sLabel, bFocus, bFocus, bPushed, true);
    }
    int handle(int nEvent) override
    {
        if (nEvent == FL_PUSH) {
            bPushed = true;
            redraw();
            return 1;
        }
        if (nEvent == FL_RELEASE) {
            bPushed = false;
            redraw();
            if (Fl::event_inside(this))
                *pnResult = nResult;
            return 1;
        }
        return 0;
    }
    std::string sLabel; // ANSI
    int nResult;
    int *pnResult;
    bool bFocus = false;
    bool bPushed = false;
};

class MessageWindow : public Fl_Double_Window {
  public:
    MessageWindow(int w, int h) : Fl_Double_Window(w, h) {}
    int handle(int nEvent) override
    {
        if (nEvent == FL_KEYBOARD || nEvent == FL_SHORTCUT) {
            int nKey = Fl::event_key();
            size_t nFocus = 0;
            for (size_t i = 0; i < aButtons.size(); i++)
                if (aButtons[i]->bFocus)
                    nFocus = i;
            if (nKey == FL_Enter || nKey == FL_KP_Enter || nKey == ' ') {
                *pnResult = aButtons[nFocus]->nResult;
            } else if (nKey == FL_Escape) {
                for (auto *b : aButtons)
                    if (b->nResult == IDCANCEL || aButtons.size() == 1)
                        *pnResult = b->nResult;
            } else if (nKey == FL_Tab || nKey == FL_Right || nKey == FL_Left) {
                bool bBack = Fl::event_state(FL_SHIFT) || nKey == FL_Left;
                aButtons[nFocus]->bFocus = false;
                nFocus = (nFocus + (bBack ? aButtons.size() - 1 : 1)) % aButtons.size();
                aButtons[nFocus]->bFocus = true;
                redraw();
            }
            return 1;
        }
        return Fl_Double_Window::handle(nEvent);
    }
    std::vector<MessageButton *> aButtons;
    int *pnResult = nullptr;
};

void MessageClose(Fl_Widget *pWidget, void *pData)
{
    MessageWindow *pWindow = (MessageWindow *)pWidget;
    int *pnResult = (int *)pData;
    for (auto *b : pWindow->aButtons)
        if (b->nResult == IDCANCEL || pWindow->aButtons.size() == 1)
            *pnResult = b->nResult;
}

// ---------------------------------------------------------------------------------------------------------
// The front end

class GuiFrontEnd : public FrontEnd {
  public:
    const char *Name() const override { return "gui"; }
    void Created(Wnd *pDlg) override;
    void Destroying(Wnd *pDlg) override;
    void Changed(Wnd *pWnd) override;
    bool WaitInput() override;
    void PollInput() override;
    void Wake() override;
    int MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType) override;

  private:
    void Sync(Wnd *pWnd);
    bool bDrawn = false;
};

Control *WidgetOf(Wnd *p)
{
    return (Control *)p->pUi;
}

void GuiFrontEnd::Created(Wnd *pDlg)
{
    if (pDlg->nPointSize > 0)
        nFontSize = MulDivRound(pDlg->nPointSize, 96, 72);
    fl_font(nFont, nFontSize);
    const char *pszAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    nBaseX = ((int)(fl_width(pszAlphabet) + 0.5) / 26 + 1) / 2;
    nBaseY = fl_height();
    nLineHeight = fl_height();

    DialogUi *pUi = new DialogUi;
    pDlg->pUi = pUi;
    int w = PxX(pDlg->cx), h = PxY(pDlg->cy);
    pUi->pWindow = new DialogWindow(pDlg, w, h);
    DialogWindow *pWindow = pUi->pWindow;
    pWindow->color(cFace);
    pWindow->box(FL_FLAT_BOX);
    pWindow->callback(CloseRequested, pDlg);
    for (Wnd *p : pDlg->aChildren) {
        Control *pCtl = NewControl(p, PxX(p->x), PxY(p->y), PxX(p->cx), PxY(p->cy));
        p->pUi = pCtl;
        if (!(p->dwStyle & WS_VISIBLE))
            pCtl->hide();
        pCtl->Layout();
    }
    pWindow->end();
    if (pDlg->dwStyle & DS_CENTER) {
        pWindow->position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
    } else {
        pWindow->position(PxX(pDlg->x), PxY(pDlg->y));
    }
    pWindow->copy_label(TextToUtf8(pDlg->sText).c_str());
}

void GuiFrontEnd::Destroying(Wnd *pDlg)
{
    DialogUi *pUi = (DialogUi *)pDlg->pUi;
    if (pUi == nullptr)
        return;
    for (Wnd *p : pDlg->aChildren)
        p->pUi = nullptr;
    pUi->pWindow->hide();
    Fl::delete_widget(pUi->pWindow);
    delete pUi;
    pDlg->pUi = nullptr;
    Fl::flush();
}

void GuiFrontEnd::Sync(Wnd *p)
{
    if (p->nKind == KindDialog) {
        DialogUi *pUi = (DialogUi *)p->pUi;
        if (pUi == nullptr)
            return;
        pUi->pWindow->copy_label(TextToUtf8(p->sText).c_str());
        if ((p->dwStyle & WS_VISIBLE) && !pUi->pWindow->shown()) {
            pUi->pWindow->show();
            if (!(p->dwStyle & WS_SYSMENU))
                AskNoCloseBox(pUi->pWindow);
        }
        else if (!(p->dwStyle & WS_VISIBLE) && pUi->pWindow->shown())
            pUi->pWindow->hide();
        return;
    }
    Control *pCtl = WidgetOf(p);
    if (pCtl == nullptr)
        return;
    if ((p->dwStyle & WS_VISIBLE) && !pCtl->visible())
        pCtl->show();
    else if (!(p->dwStyle & WS_VISIBLE) && pCtl->visible())
        pCtl->hide();
    pCtl->Layout();
    pCtl->redraw();
}

void GuiFrontEnd::Changed(Wnd *p)
{
    Sync(p);
    // A static's new text is drawn at once, as the platform paints it, so a text put up while the program
    // works without reading messages is seen.
    if (p->nKind == KindStatic && bDrawn && IsShown(p) && p->pParent != nullptr &&
        p->pParent->pUi != nullptr && ((DialogUi *)p->pParent->pUi)->pWindow->shown())
        Fl::flush();
}

bool GuiFrontEnd::WaitInput()
{
    if (!bDrawn) {
        Fl::flush();
        XSync(fl_display, False);
        bDrawn = true;
        if (getenv("PLAT_BENCH_FIRST_DRAW") != nullptr) {
            struct timespec ts;
            clock_gettime(CLOCK_REALTIME, &ts);
            fprintf(stderr, "first-draw %lld\n", (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec);
            fflush(stderr);
            _exit(0);
        }
    }
    while (QueueEmpty() && !CrossWaiting()) {
        bool bAny = false;
        for (Wnd *p : LiveDialogs())
            if (p->pUi != nullptr && ((DialogUi *)p->pUi)->pWindow->shown())
                bAny = true;
        if (!bAny)
            return false;
        Fl::wait();
    }
    return true;
}

// The X events waiting: exposures repainted, moves, input posted; changed controls drawn.
void GuiFrontEnd::PollInput()
{
    Fl::check();
}

void GuiFrontEnd::Wake()
{
    Fl::awake();
}

int GuiFrontEnd::MessageBox(Wnd *pOwner, const std::string &sText, const std::string &sCaption, UINT uType)
{
    (void)pOwner;
    fl_font(nFont, nFontSize);
    auto aButtons = MessageBoxButtons(uType);
    int nButtonW = PxX(50), nButtonH = PxY(14), nGap = 6;
    std::vector<std::string> aLines = WrapText(TextToUtf8(sText), 440);
    int nTextW = 0;
    for (auto &s : aLines)
        nTextW = std::max(nTextW, (int)fl_width(s.c_str()));
    int nButtonsW = (int)aButtons.size() * nButtonW + ((int)aButtons.size() - 1) * nGap;
    int w = std::max(nTextW + 24, nButtonsW + 24);
    int h = 12 + (int)aLines.size() * nLineHeight + 14 + nButtonH + 12;
    int nResult = 0;
    MessageWindow *pWindow = new MessageWindow(w, h);
    pWindow->color(cFace);
    pWindow->pnResult = &nResult;
    pWindow->callback(MessageClose, &nResult);
    class TextBox : public Fl_Widget {
      public:
        TextBox(int x, int y, int w, int h, std::vector<std::string> a) : Fl_Widget(x, y, w, h), aText(std::move(a)) {}
        void draw() override
        {
            fl_font(nFont, nFontSize);
            fl_color(cText);
            int ty = y() + fl_height() - fl_descent();
            for (auto &s : aText) {
                fl_draw(s.c_str(), x(), ty);
                ty += nLineHeight;
            }
        }
        std::vector<std::string> aText;
    };
    new TextBox(12, 12, nTextW, (int)aLines.size() * nLineHeight, aLines);
    int bx = (w - nButtonsW) / 2;
    for (size_t i = 0; i < aButtons.size(); i++) {
        auto *b = new MessageButton(bx, h - 12 - nButtonH, nButtonW, nButtonH, Utf8ToText(aButtons[i].first),
                                    aButtons[i].second, &nResult);
        b->bFocus = i == 0;
        pWindow->aButtons.push_back(b);
        bx += nButtonW + nGap;
    }
    pWindow->end();
    pWindow->copy_label(TextToUtf8(sCaption).c_str());
    pWindow->set_modal();
    pWindow->position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
    pWindow->show();
    while (nResult == 0 && pWindow->shown())
        Fl::wait();
    if (nResult == 0)
        nResult = aButtons[0].second;
    pWindow->hide();
    Fl::delete_widget(pWindow);
    Fl::flush();
    return nResult;
}

int IgnoreXError(Display *pDisplay, XErrorEvent *pEvent)
{
    (void)pDisplay;
    (void)pEvent;
    return 0;
}

} // namespace

FrontEnd *NewGuiFrontEnd()
{
    // Opening the display here first: the toolkit would end the process when none opens.
    Display *pDisplay = XOpenDisplay(NULL);
    if (pDisplay == NULL)
        return nullptr;
    fl_open_display(pDisplay);
    XSetErrorHandler(IgnoreXError);
    Fl::visual(FL_RGB);
    Fl::set_font(FL_FREE_FONT, " Liberation Sans");
    nFont = FL_FREE_FONT;
    return new GuiFrontEnd;
}

} // namespace plat
