// The application: the port selection dialog, then the main window.
#pragma once

#include "app/MeterDlg.h"

class CMeterApp {
  public:
    CMeterApp(CWindowSystem& ws, ISerialDevice& device, CMSComm::DeviceNamer namer)
        : m_ws(ws), m_device(device), m_namer(std::move(namer)) {}

    // Runs the whole session; returns FALSE, so the application ends afterwards.
    BOOL InitInstance();

  private:
    CWindowSystem& m_ws;
    ISerialDevice& m_device;
    CMSComm::DeviceNamer m_namer;
};

constexpr COLORREF kDialogBkColor = RGB(181, 240, 249);
