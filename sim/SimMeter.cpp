#include "sim/SimMeter.h"

#include "modbus/Crc.h"

const char* LineFaultName(LineFault f) {
    static const char* names[] = {"none",      "silence", "noise-before", "noise-after",
                                  "bad-crc",   "split",   "late",         "other-address",
                                  "exception", "flood",   "echo"};
    return names[static_cast<int>(f)];
}

void SimMeter::InjectNext(LineFault f, int times) {
    for (int i = 0; i < times; ++i) m_injected.push_back(f);
}

LineFault SimMeter::NextFault() {
    if (!m_injected.empty()) {
        LineFault f = m_injected.front();
        m_injected.pop_front();
        return f;
    }
    if (m_faultRate > 0 && std::uniform_real_distribution<>(0, 1)(m_rng) < m_faultRate) {
        if (!m_faultKinds.empty())  // only the kinds asked for
            return m_faultKinds[std::uniform_int_distribution<size_t>(
                0, m_faultKinds.size() - 1)(m_rng)];
        return static_cast<LineFault>(
            std::uniform_int_distribution<>(1, kLineFaultCount - 1)(m_rng));
    }
    return LineFault::None;
}

ByteBlock SimMeter::Noise(size_t n) {
    ByteBlock b(n);
    for (auto& x : b) x = static_cast<uint8_t>(m_rng());
    return b;
}

void SimMeter::OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                         IReplySink& port) {
    // A request at other line settings reaches the meter's UART as garbage.
    if (!(line == m_model.Line())) return;
    if (bytes.size() < 4) return;
    uint16_t crc = ModbusCrc16(bytes.data(), static_cast<uint16_t>(bytes.size() - 2));
    if (bytes[bytes.size() - 2] != (crc >> 8) || bytes.back() != (crc & 0xFF)) return;
    m_model.AdvanceTo(static_cast<uint64_t>(nowMs));
    const LineSettings replyLine = m_model.Line();  // the reply goes out before a change applies
    auto reply = m_model.Handle(bytes);
    LineFault fault = NextFault();
    if (!reply) {
        m_log.push_back({nowMs, bytes, {}, LineFault::Silence});
        return;
    }
    ByteBlock trailer;
    if (sendsStatusBytes && reply->size() == 95 && (*reply)[1] == 0x03)
        trailer = {m_model.voltageStatus, m_model.currentStatus};
    m_log.push_back({nowMs, bytes, *reply, fault});
    const double at = nowMs + WireMs(double(bytes.size()) + turnaroundChars, replyLine.baud);
    Send(port, *reply, trailer, fault, bytes,
         at + WireMs(reply->size() + trailer.size(), replyLine.baud));
}

void SimMeter::Send(IReplySink& port, ByteBlock out, const ByteBlock& trailer, LineFault fault,
                    const ByteBlock& request, double at) {
    switch (fault) {
        case LineFault::None:
            break;
        case LineFault::Silence:
            return;
        case LineFault::NoiseBefore: {
            ByteBlock noise = Noise(1 + m_rng() % 20);
            out.insert(out.begin(), noise.begin(), noise.end());
            break;
        }
        case LineFault::NoiseAfter: {
            out.insert(out.end(), trailer.begin(), trailer.end());
            ByteBlock noise = Noise(1 + m_rng() % 20);
            out.insert(out.end(), noise.begin(), noise.end());
            port.Deliver(out, at);
            return;
        }
        case LineFault::BadCrc:
            out[out.size() - 1] ^= 0x5A;
            break;
        case LineFault::Split: {
            out.insert(out.end(), trailer.begin(), trailer.end());
            size_t half = out.size() / 2;
            port.Deliver(ByteBlock(out.begin(), out.begin() + half), at);
            port.Deliver(ByteBlock(out.begin() + half, out.end()), at + lateMs);
            return;
        }
        case LineFault::Late:
            at += lateMs;
            break;
        case LineFault::OtherAddress: {
            out[0] = static_cast<uint8_t>(out[0] + 1);
            uint16_t crc = ModbusCrc16(out.data(), static_cast<uint16_t>(out.size() - 2));
            out[out.size() - 2] = static_cast<uint8_t>(crc >> 8);
            out[out.size() - 1] = static_cast<uint8_t>(crc & 0xFF);
            break;
        }
        case LineFault::Exception: {
            out = {out[0], static_cast<uint8_t>(out[1] | 0x80), 0x04};
            uint16_t crc = ModbusCrc16(out.data(), 3);
            out.push_back(static_cast<uint8_t>(crc >> 8));
            out.push_back(static_cast<uint8_t>(crc & 0xFF));
            port.Deliver(out, at);
            return;
        }
        case LineFault::Flood: {
            ByteBlock noise = Noise(1300);
            out.insert(out.begin(), noise.begin(), noise.end());
            break;
        }
        case LineFault::Echo:
            out.insert(out.begin(), request.begin(), request.end());
            break;
    }
    out.insert(out.end(), trailer.begin(), trailer.end());
    port.Deliver(out, at);
}
