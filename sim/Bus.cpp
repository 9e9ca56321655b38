#include "sim/Bus.h"

SimMeter& Bus::Add(const MeterModel& like, uint8_t address, uint32_t seed) {
    m_models.push_back(std::make_unique<MeterModel>(like));
    m_models.back()->SetAddress(address);
    m_meters.push_back(std::make_unique<SimMeter>(*m_models.back(), seed));
    return *m_meters.back();
}

void Bus::OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                    IReplySink& sink) {
    for (size_t k = 0; k < m_meters.size(); ++k)
        if (!(muted && muted(m_models[k]->Address())))
            m_meters[k]->OnReceive(bytes, nowMs, line, sink);
}
