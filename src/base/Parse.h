// Numbers and HOST:PORT as options and port names write them: one rule for each, and one
// shape of answer (the value, or nothing and the reason in error).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// A whole number from min to max; base 10, or 0 for decimal or 0x... hexadecimal.
std::optional<long> ParseNumber(const std::string& text, long min, long max, std::string& error,
                                int base = 10);

// A decimal number from min to max: digits with at most one point ("230", "57.7").
std::optional<double> ParseDecimal(const std::string& text, double min, double max,
                                   std::string& error);

struct HostPort {
    std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
    uint16_t port;
};

// HOST:PORT, [IPV6]:PORT; with a default port also HOST, [IPV6] and a bare IPv6 address;
// with hostOptional also :PORT (host empty).
struct HostPortRules {
    std::optional<uint16_t> defaultPort;
    bool hostOptional = false;
};
std::optional<HostPort> ParseHostPort(const std::string& text, HostPortRules rules,
                                      std::string& error);
