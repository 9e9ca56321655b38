// Arbitrary received bytes through one whole timer-1 tick, at every stage: frame search,
// parameter-block and measurement decoding, the receive echo, the limit status; and an
// arbitrary text in the slave-address box that every decoding takes.
#include <fuzzer/FuzzedDataProvider.h>

#include "app/MeterDlg.h"
#include "modbus/Frame.h"
#include "sim/MemoryPort.h"
#include "winsys/Headless.h"

namespace {

constexpr int kReplyLength[5] = {43, 13, 7, 95, 43};

}  // namespace

// One console for the whole run, as in the field: what one input leaves in the buffers is
// there for the next.
struct Console {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    MemoryPort port{clock};
    CMeterDlg dlg{ws, port, [](int) { return std::string("/dev/fuzz"); }};
    Console() {
        dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
        ws.Open(dlg);
    }
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Console console;
    CMeterDlg& dlg = console.dlg;
    MemoryPort& port = console.port;
    console.ws.ClearLog();
    port.ClearSent();
    FuzzedDataProvider in(data, size);

    const uint8_t stage = in.ConsumeIntegralInRange<uint8_t>(0, 4);
    dlg.m_byStage = stage;
    dlg.m_bySlaveAddr = in.ConsumeIntegral<uint8_t>();
    dlg.m_nPT = in.ConsumeIntegral<uint32_t>();
    dlg.m_nCT = in.ConsumeIntegral<uint32_t>();
    dlg.m_nUrgFactor = in.ConsumeBool() ? 4 : 1;
    dlg.m_nEnergyScale = in.ConsumeIntegralInRange<int32_t>(1, 1000000);
    dlg.SetDlgItemText(1061, in.ConsumeRandomLengthString(12));

    // Noise, then (often) a frame with a correct CRC of the length the stage expects, so
    // that the decoders are reached, then more noise.
    ByteBlock received = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 1300));
    if (in.ConsumeBool()) {
        const int length = kReplyLength[stage];
        ByteBlock frame(static_cast<size_t>(length));
        frame[0] = in.ConsumeBool() ? dlg.m_bySlaveAddr : in.ConsumeIntegral<uint8_t>();
        frame[1] = kFnReadRegs;
        frame[2] = static_cast<uint8_t>(length - 5);
        for (int i = 3; i < length - 2; ++i) frame[i] = in.ConsumeIntegral<uint8_t>();
        AppendCrc(frame.data(), static_cast<uint16_t>(length - 2));
        received.insert(received.end(), frame.begin(), frame.end());
    }
    ByteBlock tail = in.ConsumeRemainingBytes<uint8_t>();
    received.insert(received.end(), tail.begin(), tail.end());
    port.DeliverNow(received);
    dlg.OnTimer(1);
    dlg.OnTimer(1);  // the next tick, with whatever the first one left in the buffer
    return 0;
}
