// The main window: owns the serial port, both frame buffers and every piece of state the
// poll cycle, the decoding and the configuration operations share.
#pragma once

#include <array>
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
    bool OnCommand(int id) override;
    void OnPaint() override;
    HICON OnQueryDragIcon() const { return m_hIcon; }

    // Frames (src/modbus/).
    void SendFrame(const BYTE* bytes, uint16_t length);
    int16_t ReadReceived();  // the waiting bytes into m_rxBuf; their count
    void DiscardReceived();
    // One synchronous exchange of a configuration operation, on the request already built
    // in m_txBuf: drop old input (before or after sending), send, wait, collect, search for
    // the reply from m_bySlaveAddr. The index of the reply in m_rxBuf, or -1.
    struct Transaction {
        uint16_t length;
        uint8_t replyFunction;
        int replyLength;
        bool discardAfterSend = false;
        unsigned waitMs = 300;
    };
    int16_t TransactSync(const Transaction& t);
    // Ends a configuration operation: timer 1 runs again, whatever Run/Stop says.
    void RestartPolling(bool discardFirst);

    // Poll cycle (src/modbus/).
    void OnTimer(UINT nIDEvent) override;
    void OnRunStop();
    void PollTick();
    void ApplyParamBlock(bool showAddrWiring);
    void ShowSettingBlockA(const BYTE* data);
    void ScanTick();

    // Measurements (src/measure/).
    void DecodeMeasurementBlock(int16_t dataStart);
    void ApplyLimitStatus(BYTE voltageByte, BYTE currentByte);
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor) override;

    // Configuration (src/config/).
    void OnCommSet();
    void ReopenPort();
    void OnMeterSet();
    void WriteMeterSettings(uint32_t pt, uint32_t ct, BYTE wiring);
    bool WriteRatio(uint16_t reg, uint32_t ratio, uint32_t& field, const char* failText);
    void ReadBackSettingBlockA();
    void OnChangeAddr();
    void OnScanAddr();
    void ScanStep(int32_t candidate);
    void OnChangeClass();
    void OnRefreshUrg();
    void OnWriteAux();
    void OnReadAux();
    void OnFactoryInit();
    // One exchange each, to m_bySlaveAddr: whether the meter confirmed the write; the index
    // of the read's reply in m_rxBuf or -1.
    bool WriteRegister(uint16_t reg, uint16_t value);
    bool WriteRegisters(uint16_t start, const uint16_t* values, uint16_t count,
                        bool discardAfterSend);
    int16_t ReadRegisters(uint16_t start, uint16_t count, unsigned waitMs = 300);

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

    // The raw registers of setting block A as last read from the meter, beside m_dAuxVal.
    std::array<uint16_t, 4> m_auxRaw = {};
    bool m_bAuxRawKnown = false;

  private:
    void OpenPortAtStartUp();

    bool m_bInTick = false;   // a timer tick is being handled
    int16_t m_nLastRead = 0;  // bytes the latest read put into m_rxBuf
};

constexpr COLORREF kStatusBkColor = RGB(181, 240, 249);

// Period of timer 1 for a baud rate: 2000, 1500, 1000, 500 or 500 ms for 1200, 2400, 4800,
// 9600 or 19200 bit/s.
int32_t PollPeriodFor(int32_t baud);

// The last line of the port status: "校验位:" and the parity, nothing for an unknown one.
std::string ParityLine(int32_t parity);

// The meter's code for a baud rate: 0 to 4 for 1200 to 19200 bit/s.
uint16_t BaudRateCode(int32_t baud);

// The port status text of edit 1057.
std::string PortStatusText(int32_t comPort, int32_t baud, int32_t parity);
