#include <cmath>
#include <vector>

#include "poll/out/OutputText.h"
#include "poll/out/Writers.h"

namespace {

std::string Join(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t k = 0; k < fields.size(); ++k) {
        if (k) line += ',';
        line += fields[k];
    }
    return line;
}

class CsvWriter : public IReadingSink {
  public:
    CsvWriter(std::FILE* out, std::string bus, bool header) : m_out(out), m_bus(std::move(bus)) {
        if (header) WriteLine(Header());
    }

    void OnReading(const Reading& r) override {
        std::vector<std::string> fields = {IsoUtc(r.unixMs), CsvField(m_bus),
                                           std::to_string(r.address)};
        for (double v : r.values) fields.push_back(NumberText(v));
        for (long p : {long(r.params.pt), long(r.params.ct), long(r.params.wiring),
                       long(r.params.urgFactor), long(r.params.classFlag)})
            fields.push_back(std::to_string(p));
        fields.push_back(r.energyScale ? std::to_string(r.energyScale) : std::string());
        fields.push_back(Byte(r.voltageStatus));
        fields.push_back(Byte(r.currentStatus));
        WriteLine(Join(fields));
    }

  private:
    static std::string Header() {
        std::string h = "time,bus,address";
        for (const QuantityInfo& q : Quantities()) {
            const std::string unit = InfoOf(q.kind).unit;
            h += ',';
            h += CsvField(std::string(q.key) + (unit.empty() ? "" : " [" + unit + "]"));
        }
        return h + ",pt,ct,wiring,urg_factor,class,energy_scale,voltage_status,current_status";
    }
    static std::string Byte(const std::optional<uint8_t>& b) {
        return b ? std::to_string(*b) : std::string();
    }
    void WriteLine(const std::string& line) {
        std::fputs((line + "\n").c_str(), m_out);
        std::fflush(m_out);
    }

    std::FILE* m_out;
    std::string m_bus;
};

}  // namespace

std::unique_ptr<IReadingSink> MakeCsvWriter(std::FILE* out, std::string bus, bool writeHeader) {
    return std::make_unique<CsvWriter>(out, std::move(bus), writeHeader);
}
