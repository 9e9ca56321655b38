// The meter settings dialog: PT and CT ratios and the wiring mode.
#pragma once

#include "winsys/Dialog.h"

class CMeterSetDlg : public CDialog {
  public:
    explicit CMeterSetDlg(CWindowSystem& ws);

    BYTE m_byWiring;  // 0..5
    uint32_t m_nPT;   // 1..64000
    uint32_t m_nCT;   // 1..64000

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnCommand(int id) override;
};

// The dialog for a new slave address.
class CAddrDlg : public CDialog {
  public:
    explicit CAddrDlg(CWindowSystem& ws);
    BYTE m_byNewAddr = 0;
    void DoDataExchange(CDataExchange* pDX) override;
};
