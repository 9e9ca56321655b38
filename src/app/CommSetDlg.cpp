#include "app/CommSetDlg.h"

#include "res/Resource.h"
#include "winsys/DataExchange.h"

namespace {

struct RadioValue {
    int id;
    int32_t value;
};
constexpr RadioValue kBaudRadios[] = {
    {1009, 1200}, {1010, 2400}, {1011, 4800}, {1012, 9600}, {1013, 19200}};
constexpr RadioValue kParityRadios[] = {{1014, 0}, {1015, 1}, {1016, 2}};

// The radio that shows value, or 0 (none checked) for a value the dialog does not offer.
template <size_t N>
int RadioFor(const RadioValue (&radios)[N], int32_t value) {
    for (const auto& r : radios)
        if (r.value == value) return r.id;
    return 0;
}

}  // namespace

CCommSetDlg::CCommSetDlg(CWindowSystem& ws) : CDialog(ws, CommSetTemplate()), m_nComPort(0) {
    m_nParity = m_nBaud = 0;  // every caller sets all three before showing the dialog
}

void CCommSetDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_COM_PORT, m_nComPort);
}

BOOL CCommSetDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CheckRadioButton(IDC_BAUD_1200, IDC_BAUD_19200, RadioFor(kBaudRadios, m_nBaud));
    CheckRadioButton(IDC_PARITY_NONE, IDC_PARITY_EVEN, RadioFor(kParityRadios, m_nParity));
    return TRUE;
}

void CCommSetDlg::OnOK() {
    CDialog::OnOK();
}

bool CCommSetDlg::OnCommand(int id) {
    for (const auto& r : kBaudRadios)
        if (r.id == id) {
            CheckRadioButton(IDC_BAUD_1200, IDC_BAUD_19200, id);
            m_nBaud = r.value;
            return true;
        }
    for (const auto& r : kParityRadios)
        if (r.id == id) {
            CheckRadioButton(IDC_PARITY_NONE, IDC_PARITY_EVEN, id);
            m_nParity = r.value;
            return true;
        }
    return CDialog::OnCommand(id);
}
