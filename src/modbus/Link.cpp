// Sending frames, reading what came back, and the synchronous exchange of the
// configuration operations.
#include <algorithm>
#include <cstring>

#include "app/MeterDlg.h"
#include "modbus/Frame.h"
#include "res/Resource.h"

void CMeterDlg::SendFrame(const BYTE* bytes, uint16_t length) {
    m_strTxEcho.clear();
    if (m_comm.GetPortOpen()) m_comm.SetOutput(ByteBlock(bytes, bytes + length));
    m_strTxEcho = HexEcho(bytes, length);
    SetDlgItemText(IDC_TX_ECHO, m_strTxEcho);
}

int16_t CMeterDlg::ReadReceived() {
    int16_t n = m_comm.GetInBufferCount();
    ByteBlock block = m_comm.GetInput();
    n = static_cast<int16_t>(
        std::clamp<size_t>(std::min<size_t>(n, block.size()), 0, sizeof m_rxBuf));
    if (n > 0) std::memcpy(m_rxBuf, block.data(), static_cast<size_t>(n));
    m_nLastRead = n;
    return n;
}

void CMeterDlg::DiscardReceived() {
    m_comm.GetInput();
}

int16_t CMeterDlg::TransactSync(const Transaction& t) {
    if (!t.discardAfterSend) DiscardReceived();
    SendFrame(m_txBuf, t.length);
    if (t.discardAfterSend) DiscardReceived();
    Sleep(t.waitMs);
    int16_t n = ReadReceived();
    return FindResponseFrame(m_rxBuf, n, t.replyFunction, m_bySlaveAddr, t.replyLength);
}

void CMeterDlg::RestartPolling(bool discardFirst) {
    if (discardFirst) DiscardReceived();
    SetTimer(1, static_cast<UINT>(m_nPollMs));
}
