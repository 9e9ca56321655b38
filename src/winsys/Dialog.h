// Base of every dialog: texts by control ID, radios, timers, data exchange, message boxes
// and the hooks a dialog overrides. Works the same over any backend.
#pragma once

#include <string>

#include "winsys/DialogHost.h"
#include "winsys/DialogTemplate.h"
#include "winsys/WindowSystem.h"

class CDataExchange;

class CDialog {
  public:
    CDialog(CWindowSystem& ws, const DialogTemplate& tpl) : m_ws(ws), m_tpl(tpl) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    int DoModal() { return m_ws.RunModal(*this); }

    // Hooks.
    virtual BOOL OnInitDialog();  // shows the fields; TRUE: focus to the first tab stop
    virtual void OnOK();          // takes the fields; closes with IDOK when they are valid
    virtual void OnCancel();      // closes with IDCANCEL
    virtual void DoDataExchange(CDataExchange*) {}
    virtual BOOL DestroyWindow();
    // A button or radio click; IDOK and IDCANCEL go to OnOK and OnCancel. Returns
    // whether the dialog handled the command.
    virtual bool OnCommand(int id);
    virtual void OnTimer(UINT) {}
    virtual HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    virtual void OnPaint() {}

    // A command as the window receives it from any source, a control or not.
    void SendMessageCommand(int id) { OnCommand(id); }

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);
    void EndDialog(int result);

    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    void CheckRadioButton(int firstId, int lastId, int checkId);
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;
    void GotoDlgCtrl(int id);
    UINT SetTimer(UINT id, UINT periodMs);
    BOOL KillTimer(UINT id);
    // The window's own message box, and the application's.
    int MessageBox(const std::string& text) {
        return m_ws.MessageBox(text, CWindowSystem::BoxOwner::Window);
    }
    int AfxMessageBox(const std::string& text) {
        return m_ws.MessageBox(text, CWindowSystem::BoxOwner::Application);
    }
    BOOL IsIconic() const { return m_host && m_host->IsIconic(); }

    void Sleep(unsigned ms) { m_ws.Clock().Sleep(ms); }
    uint32_t GetTickCount() { return m_ws.Clock().GetTickCount(); }

    const DialogTemplate& Template() const { return m_tpl; }
    CWindowSystem& WindowSystem() { return m_ws; }
    bool IsOpen() const { return m_host != nullptr; }
    void AttachHost(IDialogHost* host) { m_host = host; }  // by the backend only

  protected:
    IDialogHost* Host() const { return m_host; }

  private:
    CWindowSystem& m_ws;
    const DialogTemplate& m_tpl;
    IDialogHost* m_host = nullptr;
};

// A push button bound to a control of an open dialog.
class CButton {
  public:
    void Attach(CDialog* dlg, int id) { m_dlg = dlg, m_id = id; }
    void SetWindowText(const std::string& text) {
        if (m_dlg) m_dlg->SetDlgItemText(m_id, text);
    }

  private:
    CDialog* m_dlg = nullptr;
    int m_id = 0;
};
