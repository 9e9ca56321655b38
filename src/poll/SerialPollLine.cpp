#include <chrono>
#include <cmath>
#include <thread>

#include "poll/PollLine.h"

namespace {

constexpr size_t kReadAll = 1 << 20;

class SerialPollLine : public IPollLine {
  public:
    SerialPollLine(std::unique_ptr<ISerialDevice> device, std::string name, std::string path,
                   LineSettings settings)
        : m_device(std::move(device)),
          m_name(std::move(name)),
          m_path(std::move(path)),
          m_settings(settings) {}

    PortStatus Open() override { return m_device->Open(m_path, m_settings); }
    void Close() override { m_device->Close(); }
    PortStatus Send(const ByteBlock& bytes) override { return m_device->Write(bytes); }

    PortStatus DropInput() override {
        ByteBlock stale;
        return m_device->Read(kReadAll, stale);
    }

    PortStatus Receive(ByteBlock& into, double deadlineMs) override {
        const double left = deadlineMs - NowMs();
        PortStatus st = m_device->WaitForInput(left > 0 ? static_cast<int>(std::ceil(left)) : 0);
        if (!st.ok()) return st;
        ByteBlock got;
        st = m_device->Read(kReadAll, got);
        into.insert(into.end(), got.begin(), got.end());
        return st;
    }

    double NowMs() override {
        using namespace std::chrono;
        return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
    }

    void SleepUntil(double ms) override {
        const double left = ms - NowMs();
        if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
    }

    std::string Name() const override { return m_name; }
    uint64_t StaleReplies(uint8_t a) const override { return m_device->StaleReplies(a); }
    bool RepliesCarryIds() const override { return m_path.rfind("modbus-tcp://", 0) == 0; }

  private:
    std::unique_ptr<ISerialDevice> m_device;
    std::string m_name, m_path;
    LineSettings m_settings;
};

}  // namespace

std::unique_ptr<IPollLine> MakeSerialPollLine(std::unique_ptr<ISerialDevice> device,
                                              std::string name, std::string path,
                                              LineSettings settings) {
    return std::make_unique<SerialPollLine>(std::move(device), std::move(name), std::move(path),
                                            settings);
}
