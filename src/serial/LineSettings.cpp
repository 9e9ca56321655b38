#include "serial/LineSettings.h"

#include <vector>

#include "base/Parse.h"

namespace {

std::vector<std::string_view> SplitCommas(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i)
        if (i == s.size() || s[i] == ',') {
            parts.push_back(s.substr(start, i - start));
            start = i + 1;
        }
    return parts;
}

std::optional<LineSettings::Parity> ParityOf(std::string_view s) {
    const size_t k = s.size() == 1 ? std::string_view("NOEMS").find(char(s[0] & ~0x20)) : s.npos;
    if (k == s.npos) return std::nullopt;
    return static_cast<LineSettings::Parity>(k);  // in the order of LineSettings::Parity
}

std::optional<LineSettings::StopBits> StopBitsOf(std::string_view s) {
    if (s == "1") return LineSettings::StopBits::One;
    if (s == "1.5") return LineSettings::StopBits::OneAndHalf;
    if (s == "2") return LineSettings::StopBits::Two;
    return std::nullopt;
}

std::optional<LineSettings> Fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return std::nullopt;
}

}  // namespace

std::optional<LineSettings> ParseSettings(std::string_view text, std::string* error) {
    auto parts = SplitCommas(text);
    if (parts.size() != 4)
        return Fail(error,
                    "expected baud,parity,data bits,stop bits, got \"" + std::string(text) + "\"");
    LineSettings s;
    std::string why;
    auto baud = ParseNumber(std::string(parts[0]), 50, 4000000, why);
    if (!baud) return Fail(error, "invalid baud rate \"" + std::string(parts[0]) + "\"");
    auto parity = ParityOf(parts[1]);
    if (!parity) return Fail(error, "invalid parity \"" + std::string(parts[1]) + "\"");
    auto data = ParseNumber(std::string(parts[2]), 5, 8, why);
    if (!data) return Fail(error, "invalid data bits \"" + std::string(parts[2]) + "\"");
    auto stop = StopBitsOf(parts[3]);
    if (!stop) return Fail(error, "invalid stop bits \"" + std::string(parts[3]) + "\"");
    s.baud = int(*baud);
    s.parity = *parity;
    s.dataBits = int(*data);
    s.stopBits = *stop;
    return s;
}

std::string BuildSettingsText(int baud, int parity) {
    const char* tail = parity == 1 ? "O,8,1" : parity == 2 ? "E,8,1" : "N,8,2";
    return std::to_string(baud) + "," + tail;
}

LineSettings ConsoleLine(int baud, int parityCode) {
    LineSettings s;
    s.baud = baud;
    s.parity = parityCode == 1   ? LineSettings::Parity::Odd
               : parityCode == 2 ? LineSettings::Parity::Even
                                 : LineSettings::Parity::None;
    s.stopBits = parityCode == 0 ? LineSettings::StopBits::Two : LineSettings::StopBits::One;
    return s;
}

const char* ParityName(int parityCode) {
    static const char* const names[] = {"none", "odd", "even"};
    return parityCode >= 0 && parityCode < 3 ? names[parityCode] : "unknown";
}

std::optional<int> ParityCodeNamed(const std::string& name) {
    for (int k = 0; k < 3; ++k)
        if (name == ParityName(k)) return k;
    return std::nullopt;
}
