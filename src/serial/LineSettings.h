// The settings text of a serial line, "9600,N,8,2": baud rate, parity letter, data bits,
// stop bits.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct LineSettings {
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class StopBits { One, OneAndHalf, Two };
    int baud = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    StopBits stopBits = StopBits::Two;
    bool operator==(const LineSettings&) const = default;
};

// A malformed text gives nothing and, when error is given, says what is wrong with it.
std::optional<LineSettings> ParseSettings(std::string_view text, std::string* error = nullptr);

// The console's own texts: "N,8,2", "O,8,1" or "E,8,1" after the baud rate for parity
// index 0, 1 or 2.
std::string BuildSettingsText(int baud, int parity);

// The console's line settings for a rate and a parity code (0 none, 1 odd, 2 even): no
// parity runs with 2 stop bits, odd or even with 1.
LineSettings ConsoleLine(int baud, int parityCode);
const char* ParityName(int parityCode);                       // "none", "odd", "even"
std::optional<int> ParityCodeNamed(const std::string& name);  // the other way round
