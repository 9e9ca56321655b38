#include "measure/Format.h"

#include <charconv>
#include <cstring>

namespace {

struct Step {
    double threshold;  // the value must be strictly greater; 0 marks the base step, taken otherwise
    double divisor;
    const char* format;
};

struct LadderSteps {
    Step steps[3];  // mega, kilo, base; a ladder without mega has a null format there
};

const LadderSteps& StepsOf(Ladder ladder) {
    static const LadderSteps table[] = {
        {{{1e6, 1e6, nullptr}, {1e3, 1e3, "%.2f KV"}, {0, 1, "%.2f V"}}},
        {{{1e6, 1e6, nullptr}, {1e3, 1e3, "%.4f KA"}, {0, 1, "%.4f A"}}},
        {{{1e6, 1e6, "%.4f MW"}, {1e3, 1e3, "%.4f KW"}, {0, 1, "%.1f W"}}},
        {{{1e6, 1e6, "%.4f MVar"}, {1e3, 1e3, "%.4f KVar"}, {0, 1, "%.1f Var"}}},
        {{{1e6, 1e6, "%.4f MVA"}, {1e3, 1e3, "%.4f KVA"}, {0, 1, "%.1f VA"}}},
        {{{1e6, 1e6, "%.4f MWh"}, {1e3, 1e3, "%.4f KWh"}, {0, 1, "%.1f Wh"}}},
        {{{1e6, 1e6, "-%.4f MWh"}, {1e3, 1e3, "-%.4f KWh"}, {0, 1, "-%.1f Wh"}}},
        {{{1e6, 1e6, "%.4f MVarh"}, {1e3, 1e3, "%.4f KVarh"}, {0, 1, "%.1f Varh"}}},
        {{{1e6, 1e6, "-%.4f MVarh"}, {1e3, 1e3, "-%.4f KVarh"}, {0, 1, "-%.1f Varh"}}},
    };
    return table[static_cast<int>(ladder)];
}

// Fixed notation with the given number of decimals, rounded exactly as printf rounds.
std::string Fixed(double value, int decimals) {
    char buf[400];
    auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (ec != std::errc()) return "?";
    return std::string(buf, end);
}

}  // namespace

std::string FormatDouble(const char* format, double value) {
    std::string out;
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            ++p;
            continue;
        }
        // "%.Nf"
        const char* q = p + 1;
        int decimals = 6;
        if (*q == '.') {
            decimals = 0;
            for (++q; *q >= '0' && *q <= '9'; ++q) decimals = decimals * 10 + (*q - '0');
        }
        if (*q != 'f') return out + "?";
        out += Fixed(value, decimals);
        p = q;
    }
    return out;
}

std::string FormatQuantity(double value, Ladder ladder) {
    for (const Step& s : StepsOf(ladder).steps) {
        if (!s.format) continue;
        if (s.threshold == 0 || value > s.threshold)
            return FormatDouble(s.format, value / s.divisor);
    }
    return {};
}

std::string FormatPowerFactor(double value) {
    return FormatDouble("%.4f", value);
}
std::string FormatFrequency(double value) {
    return FormatDouble("%.3f Hz", value);
}
