#include "winsys/DataExchange.h"

#include "winsys/NumberText.h"

void CDataExchange::Fail(const std::string& prompt) {
    m_failed = true;
    m_pDlgWnd->AfxMessageBox(prompt);
    if (m_lastEdit) m_pDlgWnd->GotoDlgCtrl(m_lastEdit);
}

std::string PromptInteger() {
    return "请输入一个整数。";
}
std::string PromptUnsigned() {
    return "请输入一个正整数。";
}
std::string PromptRange(long long min, long long max) {
    return "请输入一个 " + std::to_string(min) + " 和 " + std::to_string(max) + " 之间的整数。";
}

namespace {

// Common frame of the three text exchanges: skip after a failure, write the field's
// decimal text when showing, parse when taking.
template <typename T, typename Parse>
void ExchangeNumber(CDataExchange* pDX, int id, T& value, Parse parse, const std::string& prompt) {
    if (pDX->Failed()) return;
    pDX->PrepareEditCtrl(id);
    if (!pDX->m_bSaveAndValidate) {
        pDX->m_pDlgWnd->SetDlgItemText(id, std::to_string(value));
        return;
    }
    auto parsed = parse(pDX->m_pDlgWnd->GetDlgItemText(id));
    if (!parsed) return pDX->Fail(prompt);
    value = *parsed;
}

template <typename T>
void CheckRange(CDataExchange* pDX, T value, T min, T max) {
    if (pDX->Failed() || !pDX->m_bSaveAndValidate) return;
    if (value < min || value > max) pDX->Fail(PromptRange(min, max));
}

}  // namespace

void DDX_Text(CDataExchange* pDX, int id, int32_t& value) {
    ExchangeNumber(pDX, id, value, ParseIntText, PromptInteger());
}

void DDX_Text(CDataExchange* pDX, int id, uint32_t& value) {
    ExchangeNumber(pDX, id, value, ParseUIntText, PromptUnsigned());
}

void DDX_Text(CDataExchange* pDX, int id, BYTE& value) {
    auto parseByte = [](std::string_view text) -> std::optional<BYTE> {
        auto v = ParseUIntText(text);
        if (!v || *v > 255) return std::nullopt;
        return static_cast<BYTE>(*v);
    };
    ExchangeNumber(pDX, id, value, parseByte, PromptRange(0, 255));
}

void DDV_MinMaxInt(CDataExchange* pDX, int32_t value, int32_t min, int32_t max) {
    CheckRange(pDX, value, min, max);
}

void DDV_MinMaxUInt(CDataExchange* pDX, uint32_t value, uint32_t min, uint32_t max) {
    CheckRange(pDX, value, min, max);
}

void DDV_MinMaxByte(CDataExchange* pDX, BYTE value, BYTE min, BYTE max) {
    CheckRange<int>(pDX, value, min, max);
}

void DDX_Control(CDataExchange* pDX, int id, CButton& button) {
    if (!pDX->Failed()) button.Attach(pDX->m_pDlgWnd, id);
}
