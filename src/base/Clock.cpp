#include "base/Clock.h"

#include <chrono>
#include <thread>

void SystemClock::Sleep(unsigned ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

uint64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return static_cast<uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

double SystemClock::PreciseNowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

void SystemClock::PreciseSleep(double ms) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}

uint32_t SystemClock::GetTickCount() {
    return static_cast<uint32_t>(NowMs());
}
