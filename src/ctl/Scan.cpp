// scan: every candidate address at every line setting asked for, one probe each.
#include <unistd.h>

#include <cstdio>

#include "ctl/Commands.h"

namespace {

// One line on a terminal: where the scan is and how long it has to go.
void Progress(const Bus& bus, size_t done, size_t total, uint8_t candidate, int found) {
    if (!isatty(STDERR_FILENO)) return;
    const double left = (total - done) * bus.ProbeFloorMs() / 1000;
    std::fprintf(stderr,
                 "\r\x1b[K%d %s: address %u, %zu of %zu probes, %d found, about %.0f s left",
                 bus.Baud(), ParityName(bus.ParityCode()), candidate, done, total, found, left);
}

}  // namespace

int RunScan(Bus& bus, const CtlOptions& o) {
    int found = 0;
    size_t done = 0;
    // Behind a network the server's own line settings govern the bus: one sweep.
    const size_t settings = bus.Network() ? 1 : o.bauds.size() * o.parities.size();
    const size_t total = settings * o.addresses.size();
    for (size_t s = 0; s < settings && !bus.stop; ++s) {
        if (!bus.MoveTo(o.bauds[s / o.parities.size()], o.parities[s % o.parities.size()])) {
            std::fprintf(stderr, "kx880-ctl: the port cannot take %d bit/s\n", bus.Baud());
            continue;
        }
        std::fprintf(stderr, "%skx880-ctl: %d %s: a probe waits %.1f ms for its answer\n",
                     isatty(STDERR_FILENO) ? "\r\x1b[K" : "", bus.Baud(),
                     ParityName(bus.ParityCode()), bus.ProbeFloorMs());
        for (uint8_t a : o.addresses) {
            if (bus.stop) break;
            Progress(bus, done++, total, a, found);
            std::string lost;
            const bool hit = bus.Probe(a, lost);
            if (!lost.empty()) {
                std::fprintf(stderr, "\nkx880-ctl: port lost: %s\n", lost.c_str());
                return found ? 0 : 1;
            }
            if (!hit) continue;
            std::string why;
            const auto settings = bus.ReadSettings(a, why);
            if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\r\x1b[K");
            bus.report.Meter({a, bus.Baud(), bus.ParityCode()}, settings);
            ++found;
            if (o.first) return 0;
        }
    }
    if (isatty(STDERR_FILENO)) std::fprintf(stderr, "\r\x1b[K");
    std::fprintf(stderr, "kx880-ctl: %d meter%s found%s\n", found, found == 1 ? "" : "s",
                 bus.stop ? " before the scan was stopped" : "");
    return found ? 0 : 1;
}

int RunGet(Bus& bus, const CtlOptions& o) {
    bool all = true;
    for (uint8_t a : o.addresses) {
        if (bus.stop) return 1;
        std::string why;
        if (const auto s = bus.ReadSettings(a, why))
            bus.report.Meter({a, bus.Baud(), bus.ParityCode()}, s);
        else
            bus.report.Status(a, "does not answer", why), all = false;
    }
    return all ? 0 : 1;
}
