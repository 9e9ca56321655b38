#include "diagnose/EnergyGuard.h"

#include <cmath>

#include "diagnose/Checks.h"

EnergyGuard::Outcome EnergyGuard::Apply(MeasurementValues& values) {
    Outcome out;
    for (int k = 0; k < kQuantityCount; ++k) {
        const QuantityInfo& q = Quantities()[k];
        Counter& c = m_counters[k];
        if (!InfoOf(q.kind).counter() || std::isnan(values[k])) continue;
        if (c.published < 0 || values[k] >= c.published) {
            c.published = values[k], c.lower = 0;
            continue;
        }
        out.backwards.push_back(EnergyBackwardsFinding(q, c.published, values[k]));
        if (++c.lower < kReadingsToReset) {
            values[k] = c.published;
            ++out.held, ++m_held;
            continue;
        }
        out.resets.push_back(std::string(q.key) + " stayed below " + Fixed(c.published, 0) +
                             " for " + std::to_string(kReadingsToReset) +
                             " readings: taken as a reset of the meter's counter, published from " +
                             Fixed(values[k], 0));
        c.published = values[k], c.lower = 0;
        ++m_resets;
    }
    return out;
}
