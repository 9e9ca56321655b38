#include "sim/MemoryPort.h"

#include <algorithm>
#include <cmath>

void MemoryPort::Deliver(ByteBlock bytes, double atMs) {
    // Bytes keep their order on the line: nothing overtakes what is already under way.
    if (!m_rx.empty()) atMs = std::max(atMs, m_rx.back().atMs);
    for (uint8_t b : bytes) m_rx.push_back({atMs, b});
}

PortStatus MemoryPort::Open(const std::string& device, const LineSettings& settings) {
    if (m_open) return PortStatus{PortError::Busy, "already open"};
    if (!m_devices.empty()) {
        auto it = m_devices.find(device);
        if (it == m_devices.end()) return PortStatus{PortError::NotFound, "no such device"};
        if (it->second != PortError::None) return PortStatus{it->second, "refused"};
    }
    if (m_unplugged) return PortStatus{PortError::NotFound, "no such device"};
    m_open = true;
    m_device = device;
    m_line = settings;
    ++m_opens;
    return {};
}

void MemoryPort::Close() {
    if (m_open) ++m_closes;
    m_open = false;
}

PortStatus MemoryPort::Configure(const LineSettings& settings) {
    if (m_unplugged) return Gone();
    m_line = settings;
    return {};
}

PortStatus MemoryPort::Write(const ByteBlock& bytes) {
    if (m_unplugged) return Gone();
    uint64_t now = m_clock.NowMs();
    m_sent.push_back({now, bytes, m_line});
    if (m_peer) m_peer->OnReceive(bytes, now, m_line, *this);
    return {};
}

PortStatus MemoryPort::Pending(size_t& count) {
    count = 0;
    if (m_unplugged) return Gone();
    uint64_t now = m_clock.NowMs();
    for (const Arrival& a : m_rx) {
        if (a.atMs > now) break;
        ++count;
    }
    return {};
}

PortStatus MemoryPort::Read(size_t max, ByteBlock& out) {
    out.clear();
    size_t ready = 0;
    if (PortStatus st = Pending(ready); !st.ok()) return st;
    size_t n = std::min(max, ready);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(m_rx.front().byte);
        m_rx.pop_front();
    }
    return {};
}

ByteBlock MemoryPort::PeekReady() const {
    ByteBlock out;
    const uint64_t now = m_clock.NowMs();
    for (const Arrival& a : m_rx) {
        if (a.atMs > now) break;
        out.push_back(a.byte);
    }
    if (out.size() > 1200) out.erase(out.begin(), out.end() - 1200);
    return out;
}

PortStatus MemoryPort::WaitForInput(int timeoutMs) {
    size_t ready = 0;
    if (PortStatus st = Pending(ready); !st.ok() || ready > 0) return st;
    const uint64_t now = m_clock.NowMs();
    uint64_t wait = static_cast<uint64_t>(std::max(timeoutMs, 0));
    if (!m_rx.empty())
        wait = std::min(wait, static_cast<uint64_t>(std::ceil(m_rx.front().atMs)) - now);
    m_clock.Sleep(static_cast<unsigned>(wait));
    return {};
}
