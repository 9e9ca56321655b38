// 通讯设置: the console's port and the meter's baud rate and parity, changed together.
#include "app/CommSetDlg.h"
#include "app/MeterDlg.h"
#include "modbus/MeterSettings.h"
#include "res/Resource.h"
#include "serial/LineSettings.h"

void CMeterDlg::OnCommSet() {
    KillTimer(1);
    CCommSetDlg dlg(WindowSystem());
    dlg.m_nParity = m_nParity;
    dlg.m_nBaud = m_nBaud;
    dlg.m_nComPort = m_nComPort;
    if (dlg.DoModal() == IDOK) {
        // Both writes go out at the old settings: the port is reopened only afterwards.
        if (dlg.m_nBaud != m_nBaud) {
            if (WriteRegister(kRegBaud, BaudRateCode(dlg.m_nBaud))) {
                m_nBaud = dlg.m_nBaud;
                AfxMessageBox("改变波特率成功");
            } else {
                AfxMessageBox("改变波特率不成功");
            }
        }
        if (dlg.m_nParity != m_nParity) {
            if (WriteRegister(kRegParity, static_cast<uint16_t>(dlg.m_nParity))) {
                m_nParity = dlg.m_nParity;
                AfxMessageBox("改变校验方式成功");
            } else {
                AfxMessageBox("改变校验方式不成功");
            }
        }
        m_nComPort = dlg.m_nComPort;
        m_nParity = dlg.m_nParity;
        ReopenPort();
        SetDlgItemText(IDC_PORT_STATUS, PortStatusText(m_nComPort, m_nBaud, m_nParity));
    }
    RestartPolling(true);
}

void CMeterDlg::ReopenPort() {
    m_comm.SetPortOpen(false);
    m_comm.SetCommPort(static_cast<short>(m_nComPort));
    m_comm.SetSettings(BuildSettingsText(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);
}
