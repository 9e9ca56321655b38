#include "app/MeterApp.h"

#include "app/CommSetDlg.h"

BOOL CMeterApp::InitInstance() {
    // Control hosting and the 3-D look are what every dialog of this window layer has.
    CCommSetDlg setDlg(m_ws);
    m_ws.SetDialogBkColor(kDialogBkColor, RGB(0, 0, 0));
    setDlg.m_nBaud = 9600;
    setDlg.m_nParity = 0;
    setDlg.m_nComPort = 1;
    if (setDlg.DoModal() != IDOK) return FALSE;

    CMeterDlg dlg(m_ws, m_device, m_namer);
    m_ws.SetDialogBkColor(kDialogBkColor, RGB(0, 0, 0));
    dlg.m_nBaud = setDlg.m_nBaud;
    dlg.m_nComPort = setDlg.m_nComPort;
    dlg.m_nParity = setDlg.m_nParity;
    dlg.DoModal();
    return FALSE;
}
