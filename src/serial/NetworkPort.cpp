#include "serial/NetworkPort.h"

namespace {

constexpr const char* kRtu = "tcp://";
constexpr const char* kMbap = "modbus-tcp://";

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
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
            std::string why;
            auto unit = StartsWith(query, "unit=") ? ParseNumber(query.substr(5), 0, 255, why)
                                                   : std::nullopt;
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
    std::string why;
    const auto where = ParseHostPort(rest, {}, why);
    if (!where) {
        error = name + ": expected HOST:PORT with a port from 1 to 65535";
        return std::nullopt;
    }
    p.host = where->host, p.port = where->port;
    return p;
}
