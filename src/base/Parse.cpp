#include "base/Parse.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>

std::optional<long> ParseNumber(const std::string& text, long min, long max, std::string& error,
                                int base) {
    const bool hex = base == 0 && text.size() > 2 && text[0] == '0' && (text[1] | 0x20) == 'x';
    const char* from = text.data() + (hex ? 2 : 0);
    const char* end = text.data() + text.size();
    long v = 0;
    auto [stop, ec] = std::from_chars(from, end, v, hex ? 16 : 10);
    if (from == end || ec != std::errc() || stop != end || v < min || v > max) {
        error = "\"" + text + "\" is not a whole number from " + std::to_string(min) + " to " +
                std::to_string(max);
        return std::nullopt;
    }
    return v;
}

std::optional<double> ParseDecimal(const std::string& text, double min, double max,
                                   std::string& error) {
    const char* end = text.data() + text.size();
    double v = 0;
    // Digits and one point only: no sign, exponent, "inf" or "nan" slips through.
    const bool plain = !text.empty() && text.find_first_not_of("0123456789.") == std::string::npos;
    auto [stop, ec] = std::from_chars(text.data(), end, v, std::chars_format::fixed);
    if (!plain || ec != std::errc() || stop != end || !(v >= min && v <= max)) {
        char from[32], to[32];
        const auto a = std::to_chars(from, from + sizeof from, min);
        const auto b = std::to_chars(to, to + sizeof to, max);
        error = "\"" + text + "\" is not a number from " + std::string(from, a.ptr) + " to " +
                std::string(to, b.ptr);
        return std::nullopt;
    }
    return v;
}

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
    } else if (text.find(':') != std::string::npos) {
        in6_addr v6;  // more colons than a port needs: an IPv6 address, or nothing
        ok = inet_pton(AF_INET6, text.c_str(), &v6) == 1;
    }  // else a name or an IPv4 address, without a port
    const std::optional<long> number =
        port ? ParseNumber(*port, 1, 65535, error) : std::optional<long>(rules.defaultPort);
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
