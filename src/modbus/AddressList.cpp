#include "modbus/AddressList.h"

#include <algorithm>

#include "base/Parse.h"

std::optional<std::vector<uint8_t>> ParseAddressList(const std::string& text, int min, int max,
                                                     std::string& error) {
    std::vector<uint8_t> out;
    const std::string range = std::to_string(min) + "-" + std::to_string(max);
    size_t from = 0;
    while (from <= text.size()) {
        size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const size_t dash = item.find('-');
        std::string why;
        const auto lo = ParseNumber(item.substr(0, dash), 0, 1000000000, why);
        const auto hi =
            dash == std::string::npos ? lo : ParseNumber(item.substr(dash + 1), 0, 1000000000, why);
        if (!lo || !hi || *lo > *hi) {
            error = "\"" + item + "\" is not an address or a range like 5-8";
            return std::nullopt;
        }
        if (*lo < min || *hi > max) {
            error = "\"" + item + "\" lies outside " + range;
            return std::nullopt;
        }
        for (long a = *lo; a <= *hi; ++a)
            if (std::find(out.begin(), out.end(), a) == out.end())
                out.push_back(static_cast<uint8_t>(a));
        from = comma + 1;
    }
    return out;
}
