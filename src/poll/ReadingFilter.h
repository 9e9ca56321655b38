// Between the engine and the outputs: every reading's energy counters held so that none
// runs backwards in what is published, and with --diagnose the wiring checks' findings
// that stand. Each meter's counts of held and reset counters join its health.
#pragma once

#include <functional>
#include <map>

#include "diagnose/EnergyGuard.h"
#include "diagnose/Hold.h"
#include "diagnose/Picture.h"
#include "poll/Reading.h"

struct CheckOptions {
    bool diagnose = false;
    DiagnoseSettings settings;
    int64_t windowMs = 10000;  // a finding stands after holding this long, clears after it
};

class ReadingFilter : public IReadingSink {
  public:
    using Notice = std::function<void(const std::string&)>;
    ReadingFilter(std::vector<IReadingSink*> sinks, CheckOptions options, Notice notice)
        : m_sinks(std::move(sinks)), m_options(options), m_notice(std::move(notice)) {}

    void OnReading(const Reading& reading) override;
    void OnRoundEnd(const std::vector<MeterHealth>& health) override;
    // The engine's health with each meter's counts of held and reset counters.
    std::vector<MeterHealth> WithEnergy(std::vector<MeterHealth> health) const;

  private:
    struct Meter {
        EnergyGuard guard;
        FindingHold hold;
    };
    Meter& MeterAt(uint8_t address);

    std::vector<IReadingSink*> m_sinks;
    CheckOptions m_options;
    Notice m_notice;
    std::map<uint8_t, Meter> m_meters;
};
