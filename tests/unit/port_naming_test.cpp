#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serial/PortNaming.h"

namespace fs = std::filesystem;

namespace {

EnvLookup NoEnv() {
    return [](const std::string&) { return std::optional<std::string>(); };
}

std::vector<SerialDeviceInfo> Devices(std::initializer_list<const char*> names) {
    std::vector<SerialDeviceInfo> out;
    for (const char* n : names) out.push_back({n, {}});
    return out;
}

}  // namespace

TEST(PortNaming, EnvironmentOverrideComesFirst) {
    EnvLookup env = [](const std::string& name) -> std::optional<std::string> {
        if (name == "KX880_COM3") return "/tmp/meter-pty";
        return std::nullopt;
    };
    EXPECT_EQ(ResolvePortDevice(3, env, Devices({"ttyUSB0", "ttyUSB1", "ttyUSB2"})),
              "/tmp/meter-pty");
    EXPECT_EQ(ResolvePortDevice(1, env, Devices({"ttyUSB0"})), "/dev/ttyUSB0");
}

TEST(PortNaming, UsbThenAcmThenOnboardInNumericOrder) {
    auto devices = Devices({"ttyS1", "ttyUSB10", "ttyACM0", "ttyS0", "ttyUSB2", "ttyAMA0"});
    const char* expected[] = {"/dev/ttyUSB2", "/dev/ttyUSB10", "/dev/ttyACM0",
                              "/dev/ttyS0",   "/dev/ttyS1",    "/dev/ttyAMA0"};
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(ResolvePortDevice(n, NoEnv(), devices), expected[n - 1]);
}

TEST(PortNaming, PrefersStableByIdNamesAndFallsBackToTtyS) {
    std::vector<SerialDeviceInfo> devices = {{"ttyUSB0", "/dev/serial/by-id/usb-FTDI-if00"}};
    EXPECT_EQ(ResolvePortDevice(1, NoEnv(), devices), "/dev/serial/by-id/usb-FTDI-if00");
    EXPECT_EQ(ResolvePortDevice(2, NoEnv(), devices), "/dev/ttyS1");
    EXPECT_EQ(ResolvePortDevice(4, NoEnv(), {}), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortDevice(0, NoEnv(), devices), "");
    EXPECT_EQ(ResolvePortDevice(-3, NoEnv(), devices), "");
}

TEST(PortNaming, ScanSkipsOnboardPortsWithoutHardwareAndVirtualTerminals) {
    fs::path root = fs::temp_directory_path() / ("kx880-sysfs-" + std::to_string(::getpid()));
    fs::remove_all(root);
    auto tty = [&](const std::string& name, const char* type) {
        fs::create_directories(root / "class" / name / "device");
        if (type) std::ofstream(root / "class" / name / "type") << type << "\n";
    };
    tty("ttyS0", "4");  // a 16550A behind it
    tty("ttyS1", "0");  // nothing behind it
    tty("ttyUSB0", nullptr);
    fs::create_directories(root / "class" / "tty1");  // a console, no device
    fs::create_directories(root / "by-id");
    fs::create_symlink("../../ttyUSB0", root / "by-id" / "usb-Prolific-port0");

    auto found =
        OrderSerialDevices(ScanSerialDevices((root / "class").string(), (root / "by-id").string()));
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].Path(), (root / "by-id" / "usb-Prolific-port0").string());
    EXPECT_EQ(found[1].Path(), "/dev/ttyS0");
    fs::remove_all(root);
}
