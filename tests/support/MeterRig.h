// The main window with a simulated meter on an in-memory line, all on a virtual clock.
#pragma once

#include <map>
#include <string>

#include "app/MeterApp.h"
#include "modbus/Frame.h"
#include "res/Resource.h"
#include "sim/SimMeter.h"
#include "support/HandTexts.h"
#include "winsys/Headless.h"

struct MeterRig {
    VirtualClock clock;
    HeadlessWindowSystem ws{clock};
    MemoryPort port{clock};
    MeterModel model;
    SimMeter meter{model};
    CMeterDlg dlg{ws, port, [](int n) { return "/dev/sim" + std::to_string(n); }};
    HeadlessDialog* window = nullptr;

    explicit MeterRig(int baud = 9600, int parity = 0) {
        ws.SetDialogBkColor(kDialogBkColor, RGB(0, 0, 0));
        port.AttachPeer(&meter);
        model.SetBaud(baud);
        model.SetParityCode(parity);
        dlg.m_nBaud = baud;
        dlg.m_nParity = parity;
        dlg.m_nComPort = 1;
        window = &ws.Open(dlg);
        // The operator has entered the meter's address 1, as most examples have it.
        TypeAddress("1");
        dlg.UpdateData(TRUE);
    }

    void Click(int id) { window->Click(id); }
    void TypeAddress(const std::string& text) { window->Type(IDC_SLAVE_ADDR, text); }
    // Run with the slave address typed into edit 1061.
    void Run(int address = 1) {
        TypeAddress(std::to_string(address));
        Click(IDC_RUN_STOP);
    }
    void Ticks(int n) { ws.Advance(static_cast<uint64_t>(n) * dlg.m_nPollMs); }
    std::string Text(int id) const { return window->Text(id); }

    // Start register and count of every read request sent, in order.
    std::vector<std::pair<uint16_t, uint16_t>> Reads() const {
        std::vector<std::pair<uint16_t, uint16_t>> out;
        for (const auto& s : port.SentFrames())
            if (s.bytes.size() == 8 && s.bytes[1] == kFnReadRegs)
                out.push_back({uint16_t(s.bytes[2] << 8 | s.bytes[3]),
                               uint16_t(s.bytes[4] << 8 | s.bytes[5])});
        return out;
    }
    const ByteBlock& LastSent() const { return port.SentFrames().back().bytes; }

    // Freezes the model's measurements at reg(n) for every register n.
    void LoadRegisters(uint16_t (*reg)(int)) {
        model.Freeze(true);
        for (int r = 0; r < 45; ++r) model.SetMeasurement(r, reg(r));
    }
    // What the window shows in the boxes that table names, in the table's order.
    TextTable Shown(const TextTable& like) const {
        TextTable out;
        for (const auto& [id, text] : like) out.push_back({id, window->Text(id)});
        return out;
    }
    std::map<int, std::string> ShownTexts() const {
        std::map<int, std::string> m;
        for (const auto& [id, text] : kSetATexts) m[id] = window->Text(id);
        return m;
    }
};

// A far end made of one function: what it does with each request.
struct FnPeer : ISimPeer {
    std::function<void(const ByteBlock&, uint64_t, IReplySink&)> fn;
    explicit FnPeer(std::function<void(const ByteBlock&, uint64_t, IReplySink&)> f)
        : fn(std::move(f)) {}
    void OnReceive(const ByteBlock& bytes, double nowMs, const LineSettings&,
                   IReplySink& sink) override {
        fn(bytes, nowMs, sink);
    }
};

inline ByteBlock Frame(std::initializer_list<uint8_t> body) {
    ByteBlock b(body);
    b.resize(b.size() + 2);
    AppendCrc(b.data(), static_cast<uint16_t>(b.size() - 2));
    return b;
}

inline std::vector<ByteBlock> SentSince(const MemoryPort& port, size_t from) {
    std::vector<ByteBlock> out;
    for (size_t i = from; i < port.SentFrames().size(); ++i)
        out.push_back(port.SentFrames()[i].bytes);
    return out;
}
