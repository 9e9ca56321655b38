// Arbitrary requests to the simulated meter: its frame handling, register map and every
// line fault it can put on the reply.
#include <fuzzer/FuzzedDataProvider.h>

#include "modbus/Frame.h"
#include "sim/SimMeter.h"

namespace {

struct CountingSink : IReplySink {
    size_t bytes = 0;
    void Deliver(ByteBlock b, double) override { bytes += b.size(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    MeterModel model;
    SimMeter meter(model, in.ConsumeIntegral<uint32_t>());
    meter.InjectNext(
        static_cast<LineFault>(in.ConsumeIntegralInRange<int>(0, kLineFaultCount - 1)));
    const bool fixCrc = in.ConsumeBool();
    ByteBlock request = in.ConsumeRemainingBytes<uint8_t>();
    if (fixCrc && request.size() >= 2)
        AppendCrc(request.data(), static_cast<uint16_t>(request.size() - 2));
    model.Handle(request);  // straight to the register map
    CountingSink sink;
    meter.OnReceive(request, 1000, model.Line(), sink);
    return 0;
}
