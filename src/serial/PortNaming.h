// Which device a port number COMn stands for.
//
// Windows: "COMn". Linux, in this order:
//   1. the environment variable KX880_COMn, holding a device path (a simulated meter's
//      pseudo-terminal, a fixed adapter);
//   2. the n-th serial device of the system: USB adapters (ttyUSB0, 1, ...), then ACM
//      modems (ttyACM0, ...), then on-board ports (ttyS0, ... that have hardware behind
//      them), then any other serial driver's ports by name; each named by its
//      /dev/serial/by-id link where one exists, which stays the same across re-plugging;
//   3. /dev/ttyS(n-1).
// A number below 1 names no device.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct SerialDeviceInfo {
    std::string name;      // kernel name, "ttyUSB0"
    std::string byIdPath;  // "/dev/serial/by-id/usb-FTDI_...-port0", or empty
    std::string Path() const { return byIdPath.empty() ? "/dev/" + name : byIdPath; }
};

using EnvLookup = std::function<std::optional<std::string>(const std::string&)>;

// Puts the devices into the order of rule 2.
std::vector<SerialDeviceInfo> OrderSerialDevices(std::vector<SerialDeviceInfo> devices);

// The device path for COMn; empty when n < 1.
std::string ResolvePortDevice(int n, const EnvLookup& env,
                              const std::vector<SerialDeviceInfo>& devices);

// The serial devices of this system, read from sysfs and /dev/serial/by-id (the roots are
// parameters so that tests can give a made-up tree).
std::vector<SerialDeviceInfo> ScanSerialDevices(const std::string& sysClassTty = "/sys/class/tty",
                                                const std::string& byIdDir = "/dev/serial/by-id");

// The process environment.
std::optional<std::string> ProcessEnv(const std::string& name);

// The whole rule over the real system.
std::string SystemPortDevice(int n);

// The device a tool's --port names: COMn as the console names it; anything else (a device
// path, a by-id link, a network port name) as it stands. Empty for a COM number below 1.
std::string PortPath(const std::string& port);
