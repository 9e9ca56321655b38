#include <cmath>

#include "poll/PollLine.h"

namespace {

constexpr size_t kReadAll = 1 << 20;

class SerialPollLine : public IPollLine {
  public:
    SerialPollLine(ISerialDevice& device, std::string name, std::string path, LineSettings settings,
                   IClock& clock)
        : m_device(device),
          m_name(std::move(name)),
          m_path(std::move(path)),
          m_settings(settings),
          m_clock(clock) {}

    PortStatus Open() override { return m_device.Open(m_path, m_settings); }
    void Close() override { m_device.Close(); }
    PortStatus SetLine(const LineSettings& settings) override {
        m_settings = settings;
        Close();
        return Open();
    }
    PortStatus Send(const ByteBlock& bytes) override { return m_device.Write(bytes); }

    PortStatus DropInput() override {
        ByteBlock stale;
        return m_device.Read(kReadAll, stale);
    }

    PortStatus Receive(ByteBlock& into, double deadlineMs) override {
        const double left = deadlineMs - NowMs();
        PortStatus st = m_device.WaitForInput(left > 0 ? static_cast<int>(std::ceil(left)) : 0);
        if (!st.ok()) return st;
        ByteBlock got;
        st = m_device.Read(kReadAll, got);
        into.insert(into.end(), got.begin(), got.end());
        return st;
    }

    double NowMs() override { return m_clock.PreciseNowMs(); }

    void SleepUntil(double ms) override {
        if (const double left = ms - NowMs(); left > 0) m_clock.PreciseSleep(left);
    }

    std::string Name() const override { return m_name; }
    uint64_t StaleReplies(uint8_t a) const override { return m_device.StaleReplies(a); }

  private:
    ISerialDevice& m_device;
    std::string m_name, m_path;
    LineSettings m_settings;
    IClock& m_clock;
};

}  // namespace

std::unique_ptr<IPollLine> MakeSerialPollLine(ISerialDevice& device, std::string name,
                                              std::string path, LineSettings settings,
                                              IClock& clock) {
    return std::make_unique<SerialPollLine>(device, std::move(name), std::move(path), settings,
                                            clock);
}
