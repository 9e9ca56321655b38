// One dialog built from its template as a fixed-size Qt window.
#pragma once

#include <QDialog>
#include <QFont>
#include <QTimer>
#include <map>
#include <memory>

#include "winsys/Dialog.h"

class QtDialogHost : public QDialog, public IDialogHost {
  public:
    QtDialogHost(CDialog& dlg, const CWindowSystem& ws);

    bool Ended() const { return m_ended; }
    int Result() const { return m_result; }
    void FocusFirstTabStop();

    // IDialogHost
    bool HasControl(int id) const override { return m_controls.count(id) != 0; }
    void SetText(int id, const std::string& text) override;
    std::string GetText(int id) const override;
    void SetCheck(int id, bool checked) override;
    bool GetCheck(int id) const override;
    void SetFocus(int id) override;
    void SetTimer(UINT id, UINT periodMs) override;
    void KillTimer(UINT id) override;
    void EndModal(int result) override;
    bool IsIconic() const override { return isMinimized(); }
    void DrawIcon(int, int, HICON) override {}  // the application has no icons
    void ClientSize(int& cx, int& cy) const override { cx = width(), cy = height(); }
    void Destroy() override;

  protected:
    void reject() override;  // Esc
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    QRect ToPixels(const DlgRect& r) const;
    QWidget* Create(const ControlTemplate& c);
    void Command(int id);
    void ApplyColours(int id, QWidget* edit);

    CDialog& m_dlg;
    const CWindowSystem& m_ws;
    QFont m_font;
    double m_em = 12;  // pixels
    std::map<int, QWidget*> m_controls;
    std::map<QObject*, std::pair<int, QWidget*>> m_colourWatch;  // painted object -> edit
    std::map<int, std::string> m_rawTexts;  // exactly what was set, for read-only edits
    std::map<UINT, std::unique_ptr<QTimer>> m_timers;
    bool m_settingCheck = false;  // SetCheck is changing a radio
    bool m_ended = false;
    int m_result = IDCANCEL;
};
