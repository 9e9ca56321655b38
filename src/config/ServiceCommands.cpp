// Service commands without a visible control: accuracy class, Urg refresh, and the write
// and read of the auxiliary registers.
#include "app/MeterDlg.h"
#include "modbus/ParamBlock.h"
#include "res/Resource.h"

namespace {

constexpr uint16_t kRegClass = 0x0022, kRegUrg = 0x030A, kRegAux = 0x0028;

BYTE Toggled(BYTE classFlag) {
    return classFlag == 0 ? 1 : 0;
}

}  // namespace

void CMeterDlg::OnChangeClass() {
    KillTimer(1);
    MessageBox("ee");
    m_byClass = Toggled(m_byClass);
    if (WriteRegister(kRegClass, m_byClass)) {
        SetDlgItemText(IDC_CLASS, m_byClass != 0 ? "0.2级" : "0.5级");
    } else {
        MessageBox("ggfgf");
        m_byClass = Toggled(m_byClass);
    }
    RestartPolling(false);
}

void CMeterDlg::OnRefreshUrg() {
    KillTimer(1);
    const int16_t idx = ReadRegisters(kRegUrg, 1, 200);
    if (idx < 0) {
        AfxMessageBox("读取不成功");
        RestartPolling(true);
        return;
    }
    m_nUrgFactor = m_rxBuf[idx + 4] == 0 ? 1 : 4;  // the register's low byte
    RestartPolling(true);
    AfxMessageBox("更新成功");
    RestartPolling(true);
}

// The meter's own limit registers as last read from setting block A go back unchanged;
// with nothing read yet there is nothing true to send.
void CMeterDlg::OnWriteAux() {
    KillTimer(1);
    UpdateData(TRUE);
    if (!m_bAuxRawKnown || !WriteRegisters(kRegAux, m_auxRaw.data(), 4, true))
        AfxMessageBox("设置不成功");
    RestartPolling(true);
}

void CMeterDlg::OnReadAux() {
    KillTimer(1);
    const int16_t idx = ReadRegisters(kSettingBlockAStart, kSettingBlockACount);
    if (idx >= 0)
        ShowSettingBlockA(m_rxBuf + idx + 3);
    else
        AfxMessageBox("读取不成功");
    RestartPolling(true);
}
