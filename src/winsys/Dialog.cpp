#include "winsys/Dialog.h"

#include "winsys/DataExchange.h"

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;  // the prompt has been shown; the dialog stays open
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::DestroyWindow() {
    if (!m_host) return FALSE;
    m_host->Destroy();
    return TRUE;
}

bool CDialog::OnCommand(int id) {
    if (id == IDOK) return OnOK(), true;
    if (id == IDCANCEL) return OnCancel(), true;
    return false;
}

HBRUSH CDialog::OnCtlColor(CDC* pDC, CWnd*, UINT nCtlColor) {
    // The application-wide dialog colours cover the dialog, its labels and read-only
    // boxes, and message boxes; editable boxes keep the system's own.
    if (nCtlColor == CTLCOLOR_DLG || nCtlColor == CTLCOLOR_STATIC || nCtlColor == CTLCOLOR_MSGBOX ||
        nCtlColor == CTLCOLOR_BTN) {
        pDC->SetTextColor(m_ws.DialogTextColor());
        return m_ws.DialogBkBrush();
    }
    return nullptr;
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate != FALSE);
    DoDataExchange(&dx);
    return dx.Failed() ? FALSE : TRUE;
}

void CDialog::EndDialog(int result) {
    if (m_host) m_host->EndModal(result);
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
    if (m_host) m_host->SetText(id, text);
}

std::string CDialog::GetDlgItemText(int id) const {
    return m_host && m_host->HasControl(id) ? m_host->GetText(id) : std::string();
}

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
    if (!m_host) return;
    for (int id = firstId; id <= lastId; ++id)
        if (m_host->HasControl(id)) m_host->SetCheck(id, id == checkId);
}

void CDialog::CheckDlgButton(int id, bool checked) {
    if (m_host && m_host->HasControl(id)) m_host->SetCheck(id, checked);
}

bool CDialog::IsDlgButtonChecked(int id) const {
    return m_host && m_host->HasControl(id) && m_host->GetCheck(id);
}

void CDialog::GotoDlgCtrl(int id) {
    if (m_host && m_host->HasControl(id)) m_host->SetFocus(id);
}

UINT CDialog::SetTimer(UINT id, UINT periodMs) {
    if (!m_host) return 0;
    m_host->SetTimer(id, periodMs);
    return id;
}

BOOL CDialog::KillTimer(UINT id) {
    if (!m_host) return FALSE;
    m_host->KillTimer(id);
    return TRUE;
}
