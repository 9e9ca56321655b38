// Data exchange between a dialog's controls and its fields, with the standard prompts.
// The first invalid field shows its prompt, takes the focus and ends the exchange: later
// fields are neither read nor written, and UpdateData returns FALSE.
#pragma once

#include <string>

#include "winsys/Dialog.h"

class CDataExchange {
  public:
    CDataExchange(CDialog* dlg, bool save) : m_bSaveAndValidate(save), m_pDlgWnd(dlg) {}

    const bool m_bSaveAndValidate;
    CDialog* const m_pDlgWnd;

    bool Failed() const { return m_failed; }
    // The edit the following range check refers to.
    void PrepareEditCtrl(int id) { m_lastEdit = id; }
    // Shows the prompt, puts the focus on the last edit and stops the exchange.
    void Fail(const std::string& prompt);

  private:
    bool m_failed = false;
    int m_lastEdit = 0;
};

// The window system's prompts.
std::string PromptInteger();
std::string PromptUnsigned();
std::string PromptRange(long long min, long long max);

void DDX_Text(CDataExchange* pDX, int id, int32_t& value);
void DDX_Text(CDataExchange* pDX, int id, uint32_t& value);
void DDX_Text(CDataExchange* pDX, int id, BYTE& value);
void DDV_MinMaxInt(CDataExchange* pDX, int32_t value, int32_t min, int32_t max);
void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t min, uint32_t max);
void DDV_MinMaxByte(CDataExchange* pDX, BYTE value, BYTE min, BYTE max);
void DDX_Control(CDataExchange* pDX, int id, CButton& button);
