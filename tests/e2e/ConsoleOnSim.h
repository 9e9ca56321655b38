// The real main window and its port (serial or network, as the console's own) with the
// simulator as COM1.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "SimProcess.h"
#include "app/MeterApp.h"
#include "serial/PortNaming.h"
#include "serial/qt/QtTcpDevice.h"
#include "winsys/qt/QtWindowSystem.h"

struct ConsoleOnSim : ::testing::Test {
    SystemClock clock;
    QtWindowSystem ws{clock};
    QtAnyPortDevice device;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<CMeterDlg> dlg;

    // Starts the simulator with simArgs and makes a main window for COM1 at 9600 bit/s.
    void Start(QStringList simArgs) {
        sim = std::make_unique<SimProcess>(simArgs);
        ASSERT_TRUE(sim->Running());
        setenv("KX880_COM1", sim->Address().c_str(), 1);
        ws.SetDialogBkColor(kDialogBkColor, RGB(0, 0, 0));
        dlg = std::make_unique<CMeterDlg>(ws, device, SystemPortDevice);
        dlg->m_nBaud = 9600, dlg->m_nParity = 0, dlg->m_nComPort = 1;
    }
};
