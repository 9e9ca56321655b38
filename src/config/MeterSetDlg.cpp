#include "config/MeterSetDlg.h"

#include "res/Resource.h"
#include "winsys/DataExchange.h"

CMeterSetDlg::CMeterSetDlg(CWindowSystem& ws)
    : CDialog(ws, MeterSetTemplate()), m_nPT(0), m_nCT(0) {
    m_byWiring = 0;  // set by the caller before the dialog is shown
}

void CMeterSetDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_PT, m_nPT);
    DDV_MinMaxUInt(pDX, m_nPT, 1, 64000);
    DDX_Text(pDX, IDC_CT, m_nCT);
    DDV_MinMaxUInt(pDX, m_nCT, 1, 64000);
}

BOOL CMeterSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // A code outside 0..5 names no radio: all six stay clear.
    CheckRadioButton(IDC_WIRING_FIRST, IDC_WIRING_LAST, IDC_WIRING_FIRST + m_byWiring);
    return TRUE;
}

bool CMeterSetDlg::OnCommand(int id) {
    if (id >= IDC_WIRING_FIRST && id <= IDC_WIRING_LAST) {
        CheckRadioButton(IDC_WIRING_FIRST, IDC_WIRING_LAST, id);
        m_byWiring = static_cast<BYTE>(id - IDC_WIRING_FIRST);
        return true;
    }
    return CDialog::OnCommand(id);
}

CAddrDlg::CAddrDlg(CWindowSystem& ws) : CDialog(ws, AddrTemplate()) {}

void CAddrDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_NEW_ADDR, m_byNewAddr);
    DDV_MinMaxByte(pDX, m_byNewAddr, 0, 255);
}
