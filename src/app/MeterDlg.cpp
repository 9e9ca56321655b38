#include "app/MeterDlg.h"

#include "modbus/MeterSettings.h"
#include "res/Resource.h"
#include "serial/LineSettings.h"
#include "winsys/DataExchange.h"

namespace {

// No other rate is offered; anything else is taken as 9600 bit/s.
const BaudRate& OfferedRate(int32_t baud) {
    const BaudRate* r = BaudRateOf(baud);
    return r ? *r : kBaudRates[3];
}

}  // namespace

int32_t PollPeriodFor(int32_t baud) {
    return OfferedRate(baud).pollMs;
}

uint16_t BaudRateCode(int32_t baud) {
    return OfferedRate(baud).code;
}

std::string PortStatusText(int32_t comPort, int32_t baud, int32_t parity) {
    std::string text = "串行口: " + std::to_string(comPort) +
                       " \r\n\r\n波特率: " + std::to_string(baud) + " \r\n\r\n";
    return text + ParityLine(parity);
}

std::string ParityLine(int32_t parity) {
    switch (parity) {
        case 0:
            return "校验位:无校验";
        case 1:
            return "校验位:奇校验";
        case 2:
            return "校验位:偶校验";
        default:
            return {};
    }
}

CMeterDlg::CMeterDlg(CWindowSystem& ws, ISerialDevice& device, CMSComm::DeviceNamer namer)
    : CDialog(ws, MeterDialogTemplate()), m_comm(device, std::move(namer)) {
    m_comm.SetReporter([this](const std::string& text) { AfxMessageBox(text); });
}

void CMeterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_RUN_STOP, m_btnRun);
    // Control 1008 is the serial port itself: m_comm needs no binding.
    DDX_Text(pDX, IDC_SLAVE_ADDR, m_bySlaveAddr);
    DDV_MinMaxByte(pDX, m_bySlaveAddr, 0, 255);
}

BOOL CMeterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_nPT = 1;
    m_nCT = 1;
    m_byWiring = 0;
    m_nScanAddr = 1;
    m_bRunning = FALSE;
    m_nPollMs = PollPeriodFor(m_nBaud);
    m_bScanHit = 0;
    for (BYTE& flag : m_byLimitState) flag = 0;
    OpenPortAtStartUp();
    m_byStage = 0;
    SetDlgItemText(IDC_PORT_STATUS, PortStatusText(m_nComPort, m_nBaud, m_nParity));
    return TRUE;
}

// A port that cannot be opened has been reported by the port itself; the window goes on
// with the port closed.
void CMeterDlg::OpenPortAtStartUp() {
    m_comm.SetCommPort(static_cast<short>(m_nComPort));
    m_comm.SetSettings(BuildSettingsText(m_nBaud, m_nParity));
    m_comm.SetPortOpen(true);
    m_comm.SetInputLen(0);
    m_comm.SetInBufferCount(0);  // nothing received before now belongs to a request of ours
}

bool CMeterDlg::OnCommand(int id) {
    switch (id) {
        case IDC_RUN_STOP:
            OnRunStop();
            return true;
        case IDC_COMM_SET:
            OnCommSet();
            return true;
        case IDC_METER_SET:
            OnMeterSet();
            return true;
        case IDC_CHANGE_ADDR:
            OnChangeAddr();
            return true;
        case IDC_SCAN_ADDR:
            OnScanAddr();
            return true;
        case IDC_CLASS:
            OnChangeClass();
            return true;
        case IDC_REFRESH_URG:
            OnRefreshUrg();
            return true;
        case IDC_WRITE_AUX:
            OnWriteAux();
            return true;
        case IDC_READ_AUX:
            OnReadAux();
            return true;
        case IDC_FACTORY_INIT:
            OnFactoryInit();
            return true;
    }
    return CDialog::OnCommand(id);
}

BOOL CMeterDlg::DestroyWindow() {
    KillTimer(1);
    m_comm.SetPortOpen(false);
    return CDialog::DestroyWindow();
}

void CMeterDlg::OnPaint() {
    if (!IsIconic() || !Host()) return;
    int cx = 0, cy = 0;
    Host()->ClientSize(cx, cy);
    const int icon = 32;  // the system's icon size
    Host()->DrawIcon((cx - icon + 1) / 2, (cy - icon + 1) / 2, m_hIcon);
}
