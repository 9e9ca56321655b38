#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "serial/NetworkPort.h"
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

TEST(HostPort, NamesAddressesAndBracketedIpv6WithAndWithoutAPort) {
    struct Case {
        const char* text;
        HostPortRules rules;
        const char* host;  // nullptr: refused
        int port;
    };
    const HostPortRules needPort{}, mqtt{1883, false}, listen{std::nullopt, true};
    const Case cases[] = {
        {"broker.local:1884", mqtt, "broker.local", 1884},
        {"broker.local", mqtt, "broker.local", 1883},
        {"10.0.0.7", mqtt, "10.0.0.7", 1883},
        {"::1", mqtt, "::1", 1883},
        {"[::1]:1884", mqtt, "::1", 1884},
        {"[fe80::1]", mqtt, "fe80::1", 1883},
        {"::1", needPort, nullptr, 0},         // a bare IPv6 address cannot carry a port
        {"::1:1883", mqtt, "::1:1883", 1883},  // all of it an address: a port needs brackets
        {"broker:1883:", mqtt, nullptr, 0},
        {"a:b:c", mqtt, nullptr, 0},
        {"[::1]:502", needPort, "::1", 502},
        {"gw:502", needPort, "gw", 502},
        {":9880", listen, "", 9880},
        {"[::]:9880", listen, "::", 9880},
        {":9880", mqtt, nullptr, 0},
        {"gw", needPort, nullptr, 0},
        {"gw:", mqtt, nullptr, 0},
        {"gw:0", mqtt, nullptr, 0},
        {"gw:65536", mqtt, nullptr, 0},
        {"gw:12a", mqtt, nullptr, 0},
        {"[::1", mqtt, nullptr, 0},
        {"[]:80", listen, nullptr, 0},
        {"[::1]x", mqtt, nullptr, 0},
        {"a/b:80", needPort, nullptr, 0},
        {"", mqtt, nullptr, 0},
    };
    for (const Case& c : cases) {
        std::string error;
        const auto got = ParseHostPort(c.text, c.rules, error);
        ASSERT_EQ(bool(got), c.host != nullptr) << c.text << ": " << error;
        if (got) {
            EXPECT_EQ(got->host, c.host) << c.text;
            EXPECT_EQ(got->port, c.port) << c.text;
        } else {
            EXPECT_NE(error.find(std::string("\"") + c.text + "\""), std::string::npos) << error;
        }
    }
}
