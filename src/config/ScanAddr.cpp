// 轮询地址: finds a meter whose address is not known, one probe of one candidate per tick
// of timer 2.
#include "app/MeterDlg.h"
#include "modbus/Frame.h"
#include "modbus/ParamBlock.h"
#include "res/Resource.h"

namespace {

constexpr UINT kScanPeriodMs = 500;

// The status text of a hit: shorter than the one of start-up.
std::string ScanStatusText(int32_t comPort, int32_t baud, int32_t parity) {
    return "串口:" + std::to_string(comPort) + "\r\n\r\n波特率:" + std::to_string(baud) +
           "\r\n\r\n" + ParityLine(parity);
}

}  // namespace

void CMeterDlg::OnScanAddr() {
    KillTimer(1);
    m_nScanAddr = 1;
    for (int id = 1000; id <= 1003; ++id) SetDlgItemText(id, "");
    for (int id = 1025; id <= 1050; ++id) SetDlgItemText(id, "");
    for (int id = 1053; id <= 1056; ++id) SetDlgItemText(id, "");
    SetTimer(2, kScanPeriodMs);
}

void CMeterDlg::ScanStep(int32_t candidate) {
    UpdateData(TRUE);  // a refused entry keeps the last address; the probe goes on
    DiscardReceived();
    const uint8_t address = static_cast<uint8_t>(candidate);
    SendFrame(m_txBuf, BuildReadRegs(m_txBuf, address, kParamBlockStart, 1));
    Sleep(300);
    const int16_t n = ReadReceived();
    if (!IsProbeAnswer(m_rxBuf, n, address)) return;
    m_bySlaveAddr = address;
    m_bScanHit = 1;
    KillTimer(2);
    SetDlgItemText(IDC_SLAVE_ADDR, std::to_string(candidate));
    SetDlgItemText(IDC_PORT_STATUS, ScanStatusText(m_nComPort, m_nBaud, m_nParity));
}
