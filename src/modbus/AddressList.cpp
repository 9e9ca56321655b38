#include "modbus/AddressList.h"

#include <algorithm>
#include <charconv>

namespace {

bool Number(const std::string& s, int& out) {
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return !s.empty() && ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

std::vector<uint8_t> ParseAddressList(const std::string& text, int min, int max,
                                      std::string& error) {
    std::vector<uint8_t> out;
    const std::string range = std::to_string(min) + "-" + std::to_string(max);
    size_t from = 0;
    while (from <= text.size()) {
        size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const size_t dash = item.find('-');
        int lo = 0, hi = 0;
        const bool ok = dash == std::string::npos
                            ? Number(item, lo) && (hi = lo, true)
                            : Number(item.substr(0, dash), lo) && Number(item.substr(dash + 1), hi);
        if (!ok || lo > hi) {
            error = "\"" + item + "\" is not an address or a range like 5-8";
            return {};
        }
        if (lo < min || hi > max) {
            error = "\"" + item + "\" lies outside " + range;
            return {};
        }
        for (int a = lo; a <= hi; ++a)
            if (std::find(out.begin(), out.end(), a) == out.end())
                out.push_back(static_cast<uint8_t>(a));
        from = comma + 1;
    }
    return out;
}
