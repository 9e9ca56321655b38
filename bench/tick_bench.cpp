// The console's hot paths: the CRC, the frame search over a full buffer, and one whole
// timer-1 tick that decodes a measurement response (no waits: the tick never waits).
#include <benchmark/benchmark.h>

#include <vector>

#include "app/MeterApp.h"
#include "modbus/Crc.h"
#include "modbus/Frame.h"
#include "sim/MemoryPort.h"
#include "sim/MeterModel.h"
#include "winsys/Headless.h"

static void BM_ModbusCrc16(benchmark::State& state) {
    std::vector<uint8_t> bytes(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
    for (auto _ : state)
        benchmark::DoNotOptimize(ModbusCrc16(bytes.data(), static_cast<uint16_t>(bytes.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ModbusCrc16)->Arg(8)->Arg(95)->Arg(1200);

// Worst case: every position starts with the address and the function code (both 3), so
// every position costs a CRC over the whole frame length, and none matches.
static void BM_FindResponseFrameWorstCase(benchmark::State& state) {
    std::vector<uint8_t> buf(1200, 0x03);
    for (auto _ : state) benchmark::DoNotOptimize(FindResponseFrame(buf.data(), 1200, 3, 3, 95));
}
BENCHMARK(BM_FindResponseFrameWorstCase);

static void BM_PollTickWithMeasurementResponse(benchmark::State& state) {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    MemoryPort port{clock};
    CMeterDlg dlg{ws, port, [](int) { return std::string("/dev/sim"); }};
    dlg.m_nBaud = 9600, dlg.m_nParity = 0, dlg.m_nComPort = 1;
    ws.Open(dlg);
    MeterModel model;
    uint8_t request[8];
    BuildReadRegs(request, 1, 0x0000, 45);
    ByteBlock reply = *model.Handle(ByteBlock(request, request + 8));
    reply.push_back(0), reply.push_back(0);
    dlg.m_bySlaveAddr = 1;
    dlg.SetDlgItemText(1061, "1");
    for (auto _ : state) {
        dlg.m_byStage = 3;
        port.DeliverNow(reply);
        dlg.OnTimer(1);
        state.PauseTiming();
        port.ClearSent();
        ws.ClearLog();
        state.ResumeTiming();
    }
    if (dlg.GetDlgItemText(1001).empty()) state.SkipWithError("the tick decoded nothing");
}
BENCHMARK(BM_PollTickWithMeasurementResponse)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
