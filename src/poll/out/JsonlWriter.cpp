#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

#include "poll/out/OutputText.h"
#include "poll/out/Writers.h"

namespace {

QJsonArray LimitWords(uint8_t statusByte) {
    QJsonArray words;
    for (int field = 0; field < 4; ++field) words.append(LimitWord(statusByte, field));
    return words;
}

// One reading as a JSON object: every quantity in base units under its key (null while
// not known), the meter's settings, and the limit status when the meter sent it.
QJsonObject ToJson(const Reading& r, const std::string& bus) {
    QJsonObject o;
    o["time"] = QString::fromStdString(IsoUtc(r.unixMs));
    o["bus"] = QString::fromStdString(bus);
    o["address"] = r.address;
    for (size_t k = 0; k < kQuantityCount; ++k)
        o[Quantities()[k].key] = std::isnan(r.values[k]) ? QJsonValue() : QJsonValue(r.values[k]);
    o["pt"] = static_cast<qint64>(r.params.pt);
    o["ct"] = static_cast<qint64>(r.params.ct);
    o["wiring"] = r.params.wiring;
    o["urg_factor"] = r.params.urgFactor;
    o["class"] = r.params.classFlag;
    o["energy_scale"] = r.energyScale ? QJsonValue(r.energyScale) : QJsonValue();
    if (r.voltageStatus && r.currentStatus)
        o["limits"] = QJsonObject{{"voltage", LimitWords(*r.voltageStatus)},
                                  {"current", LimitWords(*r.currentStatus)}};
    return o;
}

class JsonlWriter : public IReadingSink {
  public:
    JsonlWriter(std::FILE* out, std::string bus) : m_out(out), m_bus(std::move(bus)) {}
    void OnReading(const Reading& r) override {
        const QByteArray line = QJsonDocument(ToJson(r, m_bus)).toJson(QJsonDocument::Compact);
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_out);
        std::fputc('\n', m_out);
        std::fflush(m_out);
    }

  private:
    std::FILE* m_out;
    std::string m_bus;
};

}  // namespace

std::unique_ptr<IReadingSink> MakeJsonlWriter(std::FILE* out, std::string bus) {
    return std::make_unique<JsonlWriter>(out, std::move(bus));
}
