// Turning a measurement response into the texts of the main window, the limit status and
// the receive echo; the colours of the status fields.
#include <memory>

#include "app/MeterDlg.h"
#include "measure/LimitStatus.h"
#include "measure/MeasurementBlock.h"
#include "modbus/Frame.h"
#include "res/Resource.h"

namespace {

constexpr int kEchoBytes = 100;
constexpr int kVoltageStatusPos = 95, kCurrentStatusPos = 96;

}  // namespace

void CMeterDlg::DecodeMeasurementBlock(int16_t dataStart) {
    UpdateData(TRUE);  // takes edit 1061; a refused entry does not stop the decoding
    if (dataStart < 0 || dataStart + 2 * kMeasurementRegisters > static_cast<int>(sizeof m_rxBuf))
        return;
    const Scales scales{m_nPT, m_nCT, m_nUrgFactor, m_nEnergyScale};
    for (const FieldText& f : DecodeMeasurementTexts(m_rxBuf + dataStart, scales))
        SetDlgItemText(f.id, f.text);

    // The status bytes follow the response in the same read; bytes an older read left
    // behind in the buffer are no status of this meter.
    const bool statusRead = m_nLastRead > kCurrentStatusPos;
    ApplyLimitStatus(statusRead ? m_rxBuf[kVoltageStatusPos] : 0,
                     statusRead ? m_rxBuf[kCurrentStatusPos] : 0);

    m_strTxEcho += HexEcho(m_rxBuf, kEchoBytes);
    SetDlgItemText(IDC_RX_ECHO, m_strTxEcho);
}

void CMeterDlg::ApplyLimitStatus(BYTE voltageByte, BYTE currentByte) {
    const LimitStatus status = DecodeLimitStatus(voltageByte, currentByte);
    for (int k = 0; k < 8; ++k) {
        m_byLimitState[k] = status.flags[k];
        if (kLimitTextControl[k]) SetDlgItemText(kLimitTextControl[k], status.texts[k]);
    }
}

HBRUSH CMeterDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) {
    HBRUSH hbr = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    if (nCtlColor != CTLCOLOR_EDIT) return hbr;
    const int id = pWnd->GetDlgCtrlID();
    for (int k = 0; k < 8; ++k) {
        if (id != kLimitColourControl[k]) continue;
        const bool alarm = m_byLimitState[k] != 0;
        pDC->SetBkMode(TRANSPARENT);
        pDC->SetTextColor(alarm ? RGB(255, 0, 0) : RGB(0, 0, 0));
        // One brush per field and state, made on first use and kept for the process.
        static std::unique_ptr<CBrush> brushes[8][2];
        auto& brush = brushes[k][alarm];
        if (!brush) brush = std::make_unique<CBrush>(kStatusBkColor);
        return brush.get();
    }
    return hbr;
}
