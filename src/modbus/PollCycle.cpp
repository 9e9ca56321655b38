// The poll cycle on timer 1: parameter block, setting blocks A and B, then measurement
// block and parameter block in turn. Timer 2 drives the address scan one probe a tick.
#include <cstring>

#include "app/MeterDlg.h"
#include "measure/Format.h"
#include "modbus/Frame.h"
#include "modbus/ParamBlock.h"
#include "res/Resource.h"

namespace {

struct StageRead {
    uint16_t start, count;
};
// The request each stage sends; its valid response is ReadRegsReplyLength(count) long.
constexpr StageRead kStageReads[] = {
    {kParamBlockStart, kParamBlockCount},       {kSettingBlockAStart, kSettingBlockACount},
    {kSettingBlockBStart, kSettingBlockBCount}, {kMeasurementStart, kMeasurementCount},
    {kParamBlockStart, kParamBlockCount},
};

// A tick that comes while an earlier one waits in a modal box (a validation prompt, a
// lost-port message) must not start a second one on the same buffers.
class TickGuard {
  public:
    explicit TickGuard(bool& busy) : m_busy(busy), m_entered(!busy) { m_busy = true; }
    ~TickGuard() {
        if (m_entered) m_busy = false;
    }
    bool Entered() const { return m_entered; }

  private:
    bool& m_busy;
    bool m_entered;
};

}  // namespace

void CMeterDlg::OnTimer(UINT nIDEvent) {
    {
        TickGuard guard(m_bInTick);
        if (guard.Entered()) {
            if (nIDEvent == 1) PollTick();
            if (nIDEvent == 2) ScanTick();
        }
    }
    CDialog::OnTimer(nIDEvent);
}

void CMeterDlg::PollTick() {
    const int16_t n = ReadReceived();
    if (m_byStage >= std::size(kStageReads)) m_byStage = 0;  // never happens; keeps reads in bounds
    const int replyLength = ReadRegsReplyLength(kStageReads[m_byStage].count);
    const int16_t idx = FindResponseFrame(m_rxBuf, n, kFnReadRegs, m_bySlaveAddr, replyLength);
    if (idx >= 0) {
        const BYTE* data = m_rxBuf + idx + 3;
        switch (m_byStage) {
            case 0:
                std::memcpy(m_rxData, data, kParamBlockDataBytes);
                ApplyParamBlock(false);
                m_byStage = 1;
                break;
            case 1:
                std::memcpy(m_rxData, data, 2 * kSettingBlockACount);
                ShowSettingBlockA(m_rxData);
                DiscardReceived();
                m_byStage = 2;
                break;
            case 2:
                m_byStage = 3;
                break;
            case 3:
                m_byStage = 4;
                DecodeMeasurementBlock(static_cast<int16_t>(idx + 3));
                break;
            case 4:
                std::memcpy(m_rxData, data, kParamBlockDataBytes);
                ApplyParamBlock(true);
                m_byStage = 3;
                break;
        }
    }
    const StageRead& next = kStageReads[m_byStage];
    SendFrame(m_txBuf, BuildReadRegs(m_txBuf, m_bySlaveAddr, next.start, next.count));
}

void CMeterDlg::ApplyParamBlock(bool showAddrWiring) {
    const ParamBlock p = DecodeParamBlock(m_rxData);
    m_bySlaveAddr = p.slaveAddr;
    m_nPT = p.pt;
    m_nCT = p.ct;
    if (p.energyScale) m_nEnergyScale = *p.energyScale;  // an unknown exponent keeps the last
    m_byClass = p.classFlag;
    m_byWiring = p.wiring;
    if (showAddrWiring)
        SetDlgItemText(IDC_ADDR_WIRING,
                       std::to_string(m_bySlaveAddr) + "," + std::to_string(m_byWiring));
    m_nUrgFactor = p.urgFactor;
    SetDlgItemText(IDC_CLASS, m_byClass == 0 ? "0.5级" : "0.2级");
}

void CMeterDlg::ShowSettingBlockA(const BYTE* data) {
    m_auxRaw = SettingBlockARaw(data);
    m_bAuxRawKnown = true;
    const auto values = ScaleSettingBlockA(m_auxRaw, m_nPT, m_nCT);
    const char* formats[4] = {"%.2f ", "%.2f ", "%.4f ", "%.4f "};
    for (int k = 0; k < 4; ++k) {
        m_dAuxVal[k] = values[k];
        SetDlgItemText(IDC_AUX_FIRST + k, FormatDouble(formats[k], values[k]));
    }
}

void CMeterDlg::ScanTick() {
    if (m_nScanAddr >= 255) m_nScanAddr = 0;
    ScanStep(m_nScanAddr);
    ++m_nScanAddr;
}

void CMeterDlg::OnRunStop() {
    KillTimer(2);
    UpdateData(TRUE);  // a refused address keeps the last one; the toggle goes on
    m_bRunning = !m_bRunning;
    if (m_bRunning) {
        SetTimer(1, static_cast<UINT>(m_nPollMs));
        m_btnRun.SetWindowText("停止");
    } else {
        KillTimer(1);
        m_btnRun.SetWindowText("运行");
    }
}
