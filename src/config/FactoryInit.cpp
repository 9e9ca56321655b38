// 出厂初始化: eleven writes that restore the meter's factory set-up, then the console moves
// to address 1 and 9600 bit/s without parity.
#include "app/MeterDlg.h"
#include "modbus/Frame.h"
#include "res/Resource.h"

namespace {

struct FactoryWrite {
    uint16_t reg;
    uint16_t values[2];
    uint16_t count;  // 2: a write of two registers, 1: a single register
};

constexpr FactoryWrite kFactorySeries[] = {
    {0x0000, {1, 0}, 2}, {0x0004, {1, 0}, 2}, {0x0002, {0}, 1}, {0x0004, {1}, 1},
    {0x001A, {0}, 1},    {0x001C, {0}, 1},    {0x001E, {0}, 1}, {0x0020, {3}, 1},
    {0x0008, {3}, 1},    {0x0006, {0}, 1},    {0x0000, {1}, 1},
};
constexpr uint32_t kPauseMs = 300;

}  // namespace

void CMeterDlg::OnFactoryInit() {
    KillTimer(1);
    const BYTE address = m_bySlaveAddr;
    for (const FactoryWrite& w : kFactorySeries) {
        const uint16_t length = w.count == 2 ? BuildWriteRegs(m_txBuf, address, w.reg, w.values, 2)
                                             : BuildWriteReg(m_txBuf, address, w.reg, w.values[0]);
        DiscardReceived();
        SendFrame(m_txBuf, length);
        // A busy wait on the tick count; the unsigned difference survives its wrap.
        const uint32_t sent = GetTickCount();
        while (GetTickCount() - sent < kPauseMs) {
        }
    }
    if (ReadReceived() >= 1) {
        AfxMessageBox("仪表初始设置成功!");
        m_bySlaveAddr = 1;
        SetDlgItemText(IDC_SLAVE_ADDR, std::to_string(m_bySlaveAddr));
        m_nBaud = 9600;
        m_nParity = 0;
        // m_nComPort stays the port that is really open, so the status tells the truth.
        SetDlgItemText(IDC_PORT_STATUS, PortStatusText(m_nComPort, m_nBaud, m_nParity));
    } else {
        AfxMessageBox("仪表初始设置不成功!");
    }
    m_comm.SetSettings("9600,N,8,2");
    RestartPolling(false);
}
