#include "serial/NetworkPort.h"

#include <algorithm>
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

std::optional<HostPort> ParseHostPort(const std::string& text, HostPortRules rules,
                                      std::string& error) {
    std::string host = text;
    std::optional<std::string> port;  // none: not given
    bool ok = true;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        ok = close != std::string::npos && close > 1 &&
             (close + 1 == text.size() || text[close + 1] == ':');
        host = ok ? text.substr(1, close - 1) : "";
        if (ok && close + 1 < text.size()) port = text.substr(close + 2);
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const size_t colon = text.find(':');
        host = text.substr(0, colon), port = text.substr(colon + 1);
    }  // else a name, an IPv4 address or a bare IPv6 address, all without a port
    const std::optional<long> number =
        port ? Number(*port, 1, 65535) : std::optional<long>(rules.defaultPort);
    ok = ok && number && (!host.empty() || rules.hostOptional) &&
         host.find_first_of("/?#[] ") == std::string::npos;
    if (!ok) {
        error = "\"" + text + "\" is not " + (rules.hostOptional ? "[HOST]" : "HOST") +
                (rules.defaultPort ? "[:PORT]" : ":PORT") +
                " (an IPv6 address in brackets) with a port from 1 to 65535";
        return std::nullopt;
    }
    return HostPort{host, static_cast<uint16_t>(*number)};
}

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
    std::string why;
    const auto where = ParseHostPort(rest, {}, why);
    if (!where) {
        error = name + ": expected HOST:PORT with a port from 1 to 65535";
        return std::nullopt;
    }
    p.host = where->host, p.port = where->port;
    return p;
}
