// 仪表设置: PT, CT and wiring mode written into the meter, setting block A read back after
// each ratio.
#include "app/MeterDlg.h"
#include "config/MeterSetDlg.h"
#include "modbus/MeterSettings.h"
#include "modbus/ParamBlock.h"

void CMeterDlg::OnMeterSet() {
    CMeterSetDlg dlg(WindowSystem());
    dlg.m_nPT = m_nPT;
    dlg.m_nCT = m_nCT;
    dlg.m_byWiring = m_byWiring;
    KillTimer(1);
    if (dlg.DoModal() == IDOK) WriteMeterSettings(dlg.m_nPT, dlg.m_nCT, dlg.m_byWiring);
    RestartPolling(true);
}

// A write without confirmation ends the series; the writes before it stay in force.
void CMeterDlg::WriteMeterSettings(uint32_t pt, uint32_t ct, BYTE wiring) {
    if (!WriteRatio(kRegPt, pt, m_nPT, "设置PT不成功")) return;
    if (!WriteRatio(kRegCt, ct, m_nCT, "设置CT不成功")) return;
    if (!WriteRegister(kRegWiring, wiring)) {
        AfxMessageBox("设置接线方式不成功");
        return;
    }
    m_byWiring = wiring;
    AfxMessageBox("设置仪表参数成功");
}

// A ratio goes into its register with the one after it set to 0; once the meter confirmed,
// the console takes it and reads setting block A again, which the ratio scales.
bool CMeterDlg::WriteRatio(uint16_t reg, uint32_t ratio, uint32_t& field, const char* failText) {
    if (!WriteRegisters(reg, RatioRegisters(ratio).data(), 2, false)) {
        AfxMessageBox(failText);
        return false;
    }
    field = ratio;
    ReadBackSettingBlockA();
    return true;
}

void CMeterDlg::ReadBackSettingBlockA() {
    const int16_t idx = ReadRegisters(kSettingBlockAStart, kSettingBlockACount);
    if (idx >= 0)
        ShowSettingBlockA(m_rxBuf + idx + 3);
    else
        AfxMessageBox("读取更新后参数不成功");
    DiscardReceived();
}
