// Small value types of the window layer, named the way the dialog code expects them.
#pragma once

#include <cstdint>

using BOOL = int32_t;
using BYTE = uint8_t;
using UINT = unsigned int;
using COLORREF = uint32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr COLORREF RGB(int r, int g, int b) {
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) {
    return c & 0xFF;
}
constexpr int GetGValue(COLORREF c) {
    return (c >> 8) & 0xFF;
}
constexpr int GetBValue(COLORREF c) {
    return (c >> 16) & 0xFF;
}

// Results of a modal run.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDC_STATIC = -1;

// Categories of a colour request.
constexpr UINT CTLCOLOR_MSGBOX = 0;
constexpr UINT CTLCOLOR_EDIT = 1;
constexpr UINT CTLCOLOR_LISTBOX = 2;
constexpr UINT CTLCOLOR_BTN = 3;
constexpr UINT CTLCOLOR_DLG = 4;
constexpr UINT CTLCOLOR_SCROLLBAR = 5;
constexpr UINT CTLCOLOR_STATIC = 6;

// Background modes of a device context.
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;

// The application has no icon; a null handle draws nothing.
struct IconResource;
using HICON = const IconResource*;

// A solid brush: created once by its owner, handed out by pointer.
class CBrush {
  public:
    explicit CBrush(COLORREF color) : m_color(color) {}
    COLORREF Color() const { return m_color; }

  private:
    COLORREF m_color;
};
using HBRUSH = const CBrush*;  // nullptr: the system's default for that control

// What a colour request may change about how a control draws its text.
class CDC {
  public:
    void SetBkMode(int mode) { m_bkMode = mode; }
    int GetBkMode() const { return m_bkMode; }
    void SetTextColor(COLORREF color) { m_textColor = color; }
    COLORREF GetTextColor() const { return m_textColor; }

  private:
    int m_bkMode = OPAQUE;
    COLORREF m_textColor = RGB(0, 0, 0);
};

// The child control a colour request is about.
class CWnd {
  public:
    explicit CWnd(int id) : m_id(id) {}
    int GetDlgCtrlID() const { return m_id; }

  private:
    int m_id;
};
