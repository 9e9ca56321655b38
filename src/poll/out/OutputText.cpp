#include "poll/out/OutputText.h"

#include <QDateTime>
#include <charconv>
#include <cmath>

std::string NumberText(double value) {
    if (std::isnan(value)) return {};
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string();
}

std::string IsoUtc(int64_t unixMs) {
    return QDateTime::fromMSecsSinceEpoch(unixMs, Qt::UTC)
        .toString(Qt::ISODateWithMs)
        .toStdString();
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}
