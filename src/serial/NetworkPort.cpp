#include "serial/NetworkPort.h"

#include <charconv>

namespace {

constexpr const char* kRtu = "tcp://";
constexpr const char* kMbap = "modbus-tcp://";

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::optional<long> Number(const std::string& s, long min, long max) {
    long v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || end != s.data() + s.size() || v < min || v > max)
        return std::nullopt;
    return v;
}

}  // namespace

bool IsNetworkPortName(const std::string& name) {
    return StartsWith(name, kRtu) || StartsWith(name, kMbap);
}

std::optional<NetworkPort> ParseNetworkPort(const std::string& name, std::string& error) {
    NetworkPort p{NetworkPort::Kind::RtuOverTcp, {}, 0, std::nullopt};
    std::string rest;
    if (StartsWith(name, kRtu)) {
        rest = name.substr(6);
    } else if (StartsWith(name, kMbap)) {
        p.kind = NetworkPort::Kind::ModbusTcp;
        rest = name.substr(13);
        const size_t q = rest.find('?');
        if (q != std::string::npos) {
            const std::string query = rest.substr(q + 1);
            rest = rest.substr(0, q);
            auto unit = StartsWith(query, "unit=") ? Number(query.substr(5), 0, 255) : std::nullopt;
            if (!unit) {
                error = name + ": expected ?unit=N with N from 0 to 255";
                return std::nullopt;
            }
            p.unit = static_cast<uint8_t>(*unit);
        }
    } else {
        error = name + ": not a tcp:// or modbus-tcp:// name";
        return std::nullopt;
    }
    const size_t colon = rest.rfind(':');
    auto port =
        colon == std::string::npos ? std::nullopt : Number(rest.substr(colon + 1), 1, 65535);
    p.host = colon == std::string::npos ? "" : rest.substr(0, colon);
    if (p.host.size() > 2 && p.host.front() == '[' && p.host.back() == ']')
        p.host = p.host.substr(1, p.host.size() - 2);
    if (!port || p.host.empty() || p.host.find_first_of("/?#[] ") != std::string::npos) {
        error = name + ": expected HOST:PORT with a port from 1 to 65535";
        return std::nullopt;
    }
    p.port = static_cast<uint16_t>(*port);
    return p;
}
