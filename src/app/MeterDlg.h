// The main window: owns the serial port, both frame buffers and every piece of state the
// poll cycle, the decoding and the configuration operations share.
#pragma once

#include <cstdint>
#include <string>

#include "serial/MSComm.h"
#include "winsys/Dialog.h"

class CMeterDlg : public CDialog {
  public:
    CMeterDlg(CWindowSystem& ws, ISerialDevice& device, CMSComm::DeviceNamer namer);

    BOOL DestroyWindow() override;
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnPaint() override;
    HICON OnQueryDragIcon() const { return m_hIcon; }

    // The state record, in declaration order.
    BYTE m_byLimitState[8] = {};
    int32_t m_nScanAddr = 0;
    int32_t m_nPollMs = 0;
    double m_dAuxVal[4] = {};
    BOOL m_bRunning = FALSE;
    std::string m_strTxEcho;
    BYTE m_bScanHit = 0;
    int32_t m_nParity = 0;
    int32_t m_nBaud = 0;
    int32_t m_nComPort = 0;
    BYTE m_byClass = 0;
    CButton m_btnRun;
    CMSComm m_comm;
    BYTE m_bySlaveAddr = 0;
    BYTE m_byWiring = 0;
    int32_t m_nEnergyScale = 1;
    BYTE m_byStage = 0;
    int32_t m_nUrgFactor = 1;
    uint32_t m_nCT = 0;
    uint32_t m_nPT = 0;
    // Zero-filled rather than left as the allocator hands them out: bytes past the latest
    // read are still looked at (the receive echo, the limit status).
    BYTE m_rxBuf[1200] = {};
    BYTE m_txBuf[32] = {};
    BYTE m_rxData[40] = {};
    HICON m_hIcon = nullptr;

  private:
    void OpenPortAtStartUp();
};

// Period of timer 1 for a baud rate: 2000, 1500, 1000, 500 or 500 ms for 1200, 2400, 4800,
// 9600 or 19200 bit/s.
int32_t PollPeriodFor(int32_t baud);

// The port status text of edit 1057.
std::string PortStatusText(int32_t comPort, int32_t baud, int32_t parity);
