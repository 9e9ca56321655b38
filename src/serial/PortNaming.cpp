#include "serial/PortNaming.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "base/Parse.h"

namespace fs = std::filesystem;

namespace {

// Rank of a kernel name in the documented order, then its number, then the name itself.
std::tuple<int, long, std::string> SortKey(const std::string& name) {
    struct Family {
        const char* prefix;
        int rank;
    };
    static const Family families[] = {{"ttyUSB", 0}, {"ttyACM", 1}, {"ttyS", 2}};
    for (const Family& f : families) {
        std::string p = f.prefix;
        if (name.rfind(p, 0) == 0 && name.size() > p.size() &&
            std::all_of(name.begin() + p.size(), name.end(), ::isdigit))
            return {f.rank, std::strtol(name.c_str() + p.size(), nullptr, 10), name};
    }
    return {3, 0, name};
}

std::string ReadFirstLine(const fs::path& p) {
    std::ifstream in(p);
    std::string line;
    std::getline(in, line);
    return line;
}

// An on-board ttyS port exists in sysfs whether or not hardware is behind it; its "type"
// is 0 (unknown) when none is.
bool HasHardware(const fs::path& ttyDir, const std::string& name) {
    if (!fs::exists(ttyDir / "device")) return false;
    if (name.rfind("ttyS", 0) == 0) {
        std::string type = ReadFirstLine(ttyDir / "type");
        return !type.empty() && type != "0";
    }
    return true;
}

}  // namespace

std::vector<SerialDeviceInfo> OrderSerialDevices(std::vector<SerialDeviceInfo> devices) {
    std::sort(devices.begin(), devices.end(),
              [](const auto& a, const auto& b) { return SortKey(a.name) < SortKey(b.name); });
    return devices;
}

std::string ResolvePortDevice(int n, const EnvLookup& env,
                              const std::vector<SerialDeviceInfo>& devices) {
    if (n < 1) return {};
#ifdef _WIN32
    (void)env, (void)devices;
    return "COM" + std::to_string(n);
#else
    if (auto path = env("KX880_COM" + std::to_string(n)); path && !path->empty()) return *path;
    auto ordered = OrderSerialDevices(devices);
    if (static_cast<size_t>(n) <= ordered.size()) return ordered[n - 1].Path();
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

std::vector<SerialDeviceInfo> ScanSerialDevices(const std::string& sysClassTty,
                                                const std::string& byIdDir) {
    std::vector<SerialDeviceInfo> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(sysClassTty, ec)) {
        std::string name = entry.path().filename().string();
        if (HasHardware(entry.path(), name)) out.push_back({name, {}});
    }
    for (const auto& link : fs::directory_iterator(byIdDir, ec)) {
        std::error_code lec;
        fs::path target = fs::read_symlink(link.path(), lec);
        if (lec) continue;
        for (auto& d : out)
            if (d.name == target.filename().string()) d.byIdPath = link.path().string();
    }
    return out;
}

std::optional<std::string> ProcessEnv(const std::string& name) {
    const char* v = std::getenv(name.c_str());
    return v ? std::optional<std::string>(v) : std::nullopt;
}

std::string SystemPortDevice(int n) {
    return ResolvePortDevice(n, ProcessEnv, ScanSerialDevices());
}

std::string PortPath(const std::string& port) {
    std::string why;
    const bool com = port.compare(0, 3, "COM") == 0 || port.compare(0, 3, "com") == 0;
    const auto n = com ? ParseNumber(port.substr(3), 0, 999, why) : std::nullopt;
    return n ? SystemPortDevice(int(*n)) : port;
}
