// 仪表设置: PT, CT and wiring mode written into the meter, setting block A read back after
// each ratio.
#include "app/MeterDlg.h"
#include "config/MeterSetDlg.h"
#include "modbus/ParamBlock.h"

namespace {

constexpr uint16_t kRegWiring = 0x0002, kRegPt = 0x000E, kRegCt = 0x0012;

}  // namespace

void CMeterDlg::OnMeterSet() {
    CMeterSetDlg dlg(WindowSystem());
    dlg.m_nPT = m_nPT;
    dlg.m_nCT = m_nCT;
    dlg.m_byWiring = m_byWiring;
    KillTimer(1);
    if (dlg.DoModal() == IDOK) WriteMeterSettings(dlg.m_nPT, dlg.m_nCT, dlg.m_byWiring);
    RestartPolling(true);
}

// Each ratio goes into its register with the one after it set to 0. A write without
// confirmation ends the series; the writes before it stay in force.
void CMeterDlg::WriteMeterSettings(uint32_t pt, uint32_t ct, BYTE wiring) {
    const uint16_t ptRegs[2] = {static_cast<uint16_t>(pt), 0};
    if (!WriteRegisters(kRegPt, ptRegs, 2, false)) {
        AfxMessageBox("设置PT不成功");
        return;
    }
    m_nPT = pt;
    ReadBackSettingBlockA();
    const uint16_t ctRegs[2] = {static_cast<uint16_t>(ct), 0};
    if (!WriteRegisters(kRegCt, ctRegs, 2, false)) {
        AfxMessageBox("设置CT不成功");
        return;
    }
    m_nCT = ct;
    ReadBackSettingBlockA();
    if (!WriteRegister(kRegWiring, wiring)) {
        AfxMessageBox("设置接线方式不成功");
        return;
    }
    m_byWiring = wiring;
    AfxMessageBox("设置仪表参数成功");
}

void CMeterDlg::ReadBackSettingBlockA() {
    const int16_t idx = ReadRegisters(kSettingBlockAStart, kSettingBlockACount);
    if (idx >= 0)
        ShowSettingBlockA(m_rxBuf + idx + 3);
    else
        AfxMessageBox("读取更新后参数不成功");
    DiscardReceived();
}
