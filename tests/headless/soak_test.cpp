// 20,000 ticks of polling, with configuration operations in between, against a meter whose
// every reply may be faulted. After every tick the window must show exactly what the last
// valid measurement frame said, and the stage must have moved only as the cycle allows.
#include <gtest/gtest.h>
#include <malloc.h>

#include <random>

#include "config/MeterSetDlg.h"
#include "measure/MeasurementBlock.h"
#include "support/MeterRig.h"

namespace {

// The oracle's own CRC, bit by bit, independent of the console's tables.
uint16_t BitwiseCrc(const uint8_t* b, size_t n) {
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= b[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;  // low byte goes first on the wire
}

// Where the first intact frame of that address, function 3 and length starts.
std::optional<size_t> OracleFind(const ByteBlock& b, uint8_t addr, size_t len) {
    for (size_t i = 0; i + len <= b.size(); ++i) {
        if (b[i] != addr || b[i + 1] != 0x03) continue;
        uint16_t crc = BitwiseCrc(&b[i], len - 2);
        if (b[i + len - 2] == (crc & 0xFF) && b[i + len - 1] == (crc >> 8)) return i;
    }
    return std::nullopt;
}

constexpr size_t kReplyLength[5] = {43, 13, 7, 95, 43};
constexpr uint8_t kNextStage[5] = {1, 2, 3, 4, 3};

size_t HeapInUse() {
    return mallinfo2().uordblks;
}

struct Soak {
    MeterRig rig;
    std::mt19937 rng{20261209};
    std::map<int, std::string> lastShown;
    int decodes = 0, configOps = 0;

    void Tick() {
        rig.clock.Advance(static_cast<uint64_t>(rig.dlg.m_nPollMs));
        const ByteBlock ready = rig.port.PeekReady();
        const uint8_t stage = rig.dlg.m_byStage;
        const uint8_t addr = rig.dlg.m_bySlaveAddr;
        const Scales scales{rig.dlg.m_nPT, rig.dlg.m_nCT, rig.dlg.m_nUrgFactor,
                            rig.dlg.m_nEnergyScale};
        const auto idx = OracleFind(ready, addr, kReplyLength[stage]);
        rig.dlg.OnTimer(1);
        ASSERT_EQ(rig.dlg.m_byStage, idx ? kNextStage[stage] : stage);
        if (stage == 3 && idx) {
            lastShown.clear();
            for (const auto& f : DecodeMeasurementTexts(&ready[*idx + 3], scales))
                lastShown[f.id] = f.text;
            ++decodes;
        }
        if ((stage == 0 || stage == 4) && idx) {
            const uint8_t* d = &ready[*idx + 3];
            ASSERT_EQ(rig.dlg.m_nPT, uint32_t(d[14] << 8 | d[15]));
            ASSERT_EQ(rig.dlg.m_nCT, uint32_t(d[18] << 8 | d[19]));
        }
        if (!lastShown.empty()) {
            ASSERT_EQ(rig.ShownTexts(), lastShown);
        }
    }

    void ConfigOperation() {
        ++configOps;
        switch (rng() % 5) {
            case 0:
                rig.dlg.SendMessageCommand(IDC_READ_AUX);
                break;
            case 1:
                rig.dlg.SendMessageCommand(IDC_REFRESH_URG);
                break;
            case 2:
                rig.dlg.SendMessageCommand(IDC_CLASS);
                break;
            case 3:
                rig.dlg.SendMessageCommand(IDC_WRITE_AUX);
                break;
            case 4: {
                const std::string pt = std::to_string(1 + rng() % 100),
                                  ct = std::to_string(1 + rng() % 50);
                rig.ws.Expect([pt, ct](HeadlessDialog& h) {
                    h.Type(IDC_PT, pt);
                    h.Type(IDC_CT, ct);
                    h.Click(IDOK);
                });
                rig.Click(IDC_METER_SET);
                break;
            }
        }
    }
};

}  // namespace

TEST(Soak, TwentyThousandTicksUnderRandomFaults) {
    Soak soak;
    soak.rig.meter.SetRandomFaults(0.3);
    soak.rig.Run();
    size_t heapEarly = 0;
    for (int tick = 1; tick <= 20000; ++tick) {
        ASSERT_NO_FATAL_FAILURE(soak.Tick()) << "tick " << tick;
        if (tick % 97 == 0) soak.ConfigOperation();
        if (tick % 100 == 0) {
            soak.rig.ws.ClearLog();
            soak.rig.ws.ForgetClosed();
            soak.rig.port.ClearSent();
            soak.rig.meter.ClearLog();
        }
        if (tick == 2000) heapEarly = HeapInUse();
    }
    EXPECT_GT(soak.decodes, 3000);  // most measurement replies got through
    EXPECT_GT(soak.configOps, 200);
    if (heapEarly > 0) {
        EXPECT_LT(HeapInUse(), heapEarly + 64 * 1024);  // no growth with time
    }
    std::printf(
        "soak: %d measurement decodes, %d configuration operations, heap %zu -> %zu bytes\n",
        soak.decodes, soak.configOps, heapEarly, HeapInUse());
}
