// The time source of the logic: the blocking sleep and the millisecond tick count.
// The real clock blocks the thread; the virtual one only moves its hands, so tests with a
// simulated meter spend no real time.
#pragma once

#include <cmath>
#include <cstdint>

class IClock {
  public:
    virtual ~IClock() = default;
    virtual void Sleep(unsigned ms) = 0;
    virtual uint32_t GetTickCount() = 0;  // wraps after 49.7 days, like the system's
    virtual uint64_t NowMs() = 0;         // monotonic, never wraps
    // To the microsecond where the clock can: the poller times characters of 0.57 ms.
    virtual double PreciseNowMs() { return static_cast<double>(NowMs()); }
    virtual void PreciseSleep(double ms) { Sleep(static_cast<unsigned>(std::ceil(ms))); }
};

class SystemClock : public IClock {
  public:
    void Sleep(unsigned ms) override;
    uint32_t GetTickCount() override;
    uint64_t NowMs() override;
    double PreciseNowMs() override;
    void PreciseSleep(double ms) override;
};

// Reading its tick count costs a millisecond of virtual time, so that a busy wait on the
// tick count ends as it does in real time.
class VirtualClock : public IClock {
  public:
    explicit VirtualClock(uint32_t tickAtZero = 0) : m_tickAtZero(tickAtZero) {}
    void Sleep(unsigned ms) override { m_now += ms; }
    uint32_t GetTickCount() override { return m_tickAtZero + static_cast<uint32_t>(m_now++); }
    uint64_t NowMs() override { return m_now; }
    void Advance(uint64_t ms) { m_now += ms; }
    void SetNow(uint64_t ms) { m_now = ms; }

  private:
    uint32_t m_tickAtZero;
    uint64_t m_now = 0;
};
