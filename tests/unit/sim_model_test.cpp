// The simulated meter holds what a real meter with its settings would hold: the console's
// scaling of its registers gives one consistent set of primary values.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>

#include "sim/LineClock.h"
#include "sim/MeterModel.h"

namespace {

double U32(const MeterModel& m, int low) {
    return m.Measurement(low + 1) * 65536.0 + m.Measurement(low);
}
double S16(const MeterModel& m, int reg) {
    return static_cast<int16_t>(m.Measurement(reg));
}

}  // namespace

TEST(SimMeterModel, PowersAndEnergiesAgreeUnderEveryScaling) {
    struct Setting {
        uint16_t pt, ct, urgFlag, exponent;
    } settings[] = {{1, 1, 0, 0}, {100, 5, 0, 0}, {1, 1, 1, 0}, {100, 5, 1, 2}, {60, 40, 0, 3}};
    for (const Setting& st : settings) {
        MeterModel m;
        m.SetPt(st.pt), m.SetCt(st.ct), m.SetUrgFlag(st.urgFlag), m.SetEnergyExponent(st.exponent);
        const double ratio = double(st.pt) * st.ct, urg = st.urgFlag == 1 ? 4 : 1;
        const double scale = std::pow(10.0, st.exponent);
        m.AdvanceTo(1000);
        // Active power (x PT x CT x Urg / 10) against apparent power (x PT x CT / 5) and the
        // power factor: P = S x PF within the registers' resolution.
        const double p = S16(m, 0x1C) * ratio * urg / 10, s = m.Measurement(0x1F) * ratio / 5;
        const double pf = S16(m, 0x1D) / 10000.0;
        EXPECT_NEAR(p, s * pf, s * 0.002 + ratio * urg) << st.pt << " " << st.urgFlag;
        // One hour at that power adds one hour's worth of energy, in the console's units.
        const double e0 = U32(m, 0x21) * scale * ratio;
        m.Freeze(false);
        for (uint64_t t = 2000; t <= 3601000; t += 1000) m.AdvanceTo(t);
        const double e1 = U32(m, 0x21) * scale * ratio;
        const double meanP = 3 * 220.0 * 4.0 * 0.95;  // the model's mean total power, W
        EXPECT_NEAR((e1 - e0) / ratio, meanP, meanP * 0.05 + scale)
            << st.pt << " " << st.ct << " " << st.urgFlag << " " << st.exponent;
    }
}

// The simulator's lines write through one helper: a client gone mid-reply ends the write,
// not the process (no SIGPIPE), and a terminal nobody reads never outlasts the stop flag.
TEST(SimLineWrite, AReaderThatIsGoneOrNeverReadsEndsTheWriteNotTheProcess) {
    const std::vector<uint8_t> reply(95, 0x55);
    StopFlag running = 0, stopped = 1;
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[1]);
    EXPECT_FALSE(WriteAll(pair[0], reply.data(), reply.size(), running));
    close(pair[0]);
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    EXPECT_TRUE(WriteAll(master, reply.data(), reply.size(), running));
    const std::vector<uint8_t> more(1 << 20, 0x55);  // far beyond what a terminal holds
    EXPECT_FALSE(WriteAll(master, more.data(), more.size(), stopped));
    close(master);
    close(slave);
}
