// The port selection dialog "通讯设置": COM port number, baud rate and parity.
#pragma once

#include "winsys/Dialog.h"

class CCommSetDlg : public CDialog {
  public:
    explicit CCommSetDlg(CWindowSystem& ws);

    int32_t m_nParity;  // 0 none, 1 odd, 2 even
    int32_t m_nBaud;    // bit/s
    int32_t m_nComPort;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    bool OnCommand(int id) override;
};
