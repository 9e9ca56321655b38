// 更改子机地址: the meter's slave address, written to its current address.
#include "app/MeterDlg.h"
#include "config/MeterSetDlg.h"
#include "modbus/MeterSettings.h"
#include "res/Resource.h"

void CMeterDlg::OnChangeAddr() {
    KillTimer(1);
    CAddrDlg dlg(WindowSystem());
    if (dlg.DoModal() == IDOK) {
        if (WriteRegister(kRegAddress, dlg.m_byNewAddr)) {
            m_bySlaveAddr = dlg.m_byNewAddr;
            SetDlgItemText(IDC_SLAVE_ADDR, std::to_string(m_bySlaveAddr));
            AfxMessageBox("地址更新成功");
        } else {
            AfxMessageBox("地址更新不成功");
        }
    }
    RestartPolling(false);
}
