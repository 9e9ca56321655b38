// The request kinds of the configuration operations, each one synchronous exchange.
#include "app/MeterDlg.h"
#include "modbus/Frame.h"

bool CMeterDlg::WriteRegister(uint16_t reg, uint16_t value) {
    const uint16_t length = BuildWriteReg(m_txBuf, m_bySlaveAddr, reg, value);
    return TransactSync({length, kFnWriteReg, kWriteReplyLength}) >= 0;
}

bool CMeterDlg::WriteRegisters(uint16_t start, const uint16_t* values, uint16_t count,
                               bool discardAfterSend) {
    const uint16_t length = BuildWriteRegs(m_txBuf, m_bySlaveAddr, start, values, count);
    Transaction t{length, kFnWriteRegs, kWriteReplyLength};
    t.discardAfterSend = discardAfterSend;
    return TransactSync(t) >= 0;
}

int16_t CMeterDlg::ReadRegisters(uint16_t start, uint16_t count, unsigned waitMs) {
    const uint16_t length = BuildReadRegs(m_txBuf, m_bySlaveAddr, start, count);
    Transaction t{length, kFnReadRegs, ReadRegsReplyLength(count)};
    t.discardAfterSend =
        true;  // every read of a configuration operation drops old input after sending
    t.waitMs = waitMs;
    return TransactSync(t);
}
