// The window system as the dialogs see it: modal runs, message boxes, the application's
// dialog colours and the clock. A Qt backend draws real windows; a headless one records.
#pragma once

#include <string>

#include "base/Clock.h"
#include "winsys/Types.h"

class CDialog;

class CWindowSystem {
  public:
    virtual ~CWindowSystem() = default;
    // Builds the dialog's window, runs OnInitDialog, dispatches until EndDialog, then
    // calls the dialog's DestroyWindow. Returns the EndDialog result.
    virtual int RunModal(CDialog& dlg) = 0;
    // A modal box with the text and an OK button: the application's own (titled with the
    // application's name, an exclamation icon), or a window's own (no icon).
    enum class BoxOwner { Application, Window };
    virtual int MessageBox(const std::string& text, BoxOwner owner) = 0;
    virtual IClock& Clock() = 0;

    void SetDialogBkColor(COLORREF bk, COLORREF text) {
        m_dialogBk = bk;
        m_dialogText = text;
        m_bkBrush = CBrush(bk);
    }
    COLORREF DialogBkColor() const { return m_dialogBk; }
    COLORREF DialogTextColor() const { return m_dialogText; }
    HBRUSH DialogBkBrush() const { return &m_bkBrush; }

  private:
    COLORREF m_dialogBk = RGB(240, 240, 240);
    COLORREF m_dialogText = RGB(0, 0, 0);
    CBrush m_bkBrush{RGB(240, 240, 240)};
};
