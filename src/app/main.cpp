// The console's entry point: the Qt window system and the Qt serial port (or a meter behind
// a network gateway, by the port's name).
#include <QApplication>

#include "app/MeterApp.h"
#include "serial/PortNaming.h"
#include "serial/qt/QtTcpDevice.h"
#include "winsys/qt/QtWindowSystem.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    SystemClock clock;
    QtWindowSystem ws(clock);
    QtAnyPortDevice port;
    CMeterApp meterApp(ws, port, SystemPortDevice);
    meterApp.InitInstance();
    return 0;
}
