// An in-memory serial port for tests: what the console writes goes to a simulated device,
// and what the device sends becomes readable at the time the virtual clock says it has
// arrived.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "serial/SerialDevice.h"

// Where the far end puts the bytes it sends: they reach the console at atMs (fractions of
// a millisecond count: at 19200 bit/s a character takes 0.57 ms).
class IReplySink {
  public:
    virtual ~IReplySink() = default;
    virtual void Deliver(ByteBlock bytes, double atMs) = 0;
};

// The far end of the line.
class ISimPeer {
  public:
    virtual ~ISimPeer() = default;
    // bytes left the console at nowMs with the port's current line settings.
    virtual void OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings& line,
                           IReplySink& sink) = 0;
};

class MemoryPort : public ISerialDevice, public IReplySink {
  public:
    struct Sent {
        uint64_t atMs;
        ByteBlock bytes;
        LineSettings line;
    };

    explicit MemoryPort(IClock& clock) : m_clock(clock) {}

    void AttachPeer(ISimPeer* peer) { m_peer = peer; }
    // The device sends bytes that are readable from atMs on.
    void Deliver(ByteBlock bytes, double atMs) override;
    void DeliverNow(ByteBlock bytes) { Deliver(std::move(bytes), m_clock.NowMs()); }

    // The devices that exist; any other path fails to open as not found. Empty: all exist.
    void SetDevices(std::map<std::string, PortError> openResults) {
        m_devices = std::move(openResults);
    }
    // The adapter is pulled out: every further operation fails as gone.
    void Unplug() { m_unplugged = true; }
    void Replug() { m_unplugged = false; }

    const std::vector<Sent>& SentFrames() const { return m_sent; }
    // The bytes readable now, as a read would deliver them (the newest 1200), unread.
    ByteBlock PeekReady() const;
    void ClearSent() { m_sent.clear(); }
    const std::string& OpenDevice() const { return m_device; }
    const LineSettings& Line() const { return m_line; }
    int OpenCount() const { return m_opens; }
    int CloseCount() const { return m_closes; }

    PortStatus Open(const std::string& device, const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override { return m_open; }
    PortStatus Configure(const LineSettings& settings) override;
    PortStatus Write(const ByteBlock& bytes) override;
    PortStatus Pending(size_t& count) override;
    PortStatus Read(size_t max, ByteBlock& out) override;
    // Moves the virtual clock on to the next arrival, or by timeoutMs when none is due
    // sooner: a blocking reader spends virtual time, not real time.
    PortStatus WaitForInput(int timeoutMs) override;

  private:
    struct Arrival {
        double atMs;
        uint8_t byte;
    };
    PortStatus Gone() const { return PortStatus{PortError::Gone, "device removed"}; }

    IClock& m_clock;
    ISimPeer* m_peer = nullptr;
    std::deque<Arrival> m_rx;
    std::vector<Sent> m_sent;
    std::map<std::string, PortError> m_devices;
    std::string m_device;
    LineSettings m_line;
    bool m_open = false, m_unplugged = false;
    int m_opens = 0, m_closes = 0;
};
