#include "serial/qt/QtTcpDevice.h"

#include <QTcpSocket>
#include <array>
#include <deque>

#include "modbus/Mbap.h"
#include "serial/NetworkPort.h"
#include "serial/qt/QtSerialDevice.h"

struct QtTcpDevice::Impl {
    int connectTimeoutMs;
    QTcpSocket socket;
    std::optional<NetworkPort> where;
    std::string name;
    bool open = false;
    std::deque<uint8_t> rx;  // what a serial line would have delivered
    MbapStream stream;
    uint16_t nextTransaction = 1;
    struct Outstanding {
        uint16_t transaction;
        uint8_t address;  // the RTU address the reply must carry back
    };
    std::optional<Outstanding> outstanding;
    std::array<Outstanding, 16> recent{};  // by transaction id modulo 16: whose reply is late
    std::array<uint64_t, 256> staleBy{};
    uint64_t dropped = 0;

    bool Mbap() const { return where && where->kind == NetworkPort::Kind::ModbusTcp; }

    PortStatus Lost() {
        open = false;
        socket.abort();
        return PortStatus{PortError::Gone, "connection to " + name + " closed"};
    }

    // Takes what the system holds; with MBAP, keeps only the reply to the request outstanding.
    PortStatus Pull() {
        if (!open) return PortStatus{PortError::Gone, "not connected to " + name};
        socket.waitForReadyRead(0);
        const QByteArray got = socket.readAll();
        if (!Mbap()) {
            rx.insert(rx.end(), got.begin(), got.end());
        } else {
            const uint64_t refusedBefore = stream.Refused();
            stream.Feed(reinterpret_cast<const uint8_t*>(got.constData()), size_t(got.size()));
            while (auto reply = stream.Next()) {
                if (!outstanding || reply->transaction != outstanding->transaction) {
                    ++dropped;  // late, repeated or never asked for
                    // Whose it is: the request with that id, else the unit it names (with
                    // ?unit= every meter has the same one: the meter being asked, then).
                    const Outstanding& asked = recent[reply->transaction % recent.size()];
                    const uint8_t unit =
                        where->unit && outstanding ? outstanding->address : reply->unit;
                    ++staleBy[asked.transaction == reply->transaction ? asked.address : unit];
                    continue;
                }
                const ByteBlock frame = RtuFrame(outstanding->address, reply->pdu);
                rx.insert(rx.end(), frame.begin(), frame.end());
                outstanding.reset();
            }
            dropped += stream.Refused() - refusedBefore;
        }
        if (socket.state() != QAbstractSocket::ConnectedState && rx.empty()) return Lost();
        return {};
    }
};

QtTcpDevice::QtTcpDevice(int connectTimeoutMs) : d(std::make_unique<Impl>()) {
    d->connectTimeoutMs = connectTimeoutMs;
}

QtTcpDevice::~QtTcpDevice() {
    Close();
}

PortStatus QtTcpDevice::Open(const std::string& name, const LineSettings&) {
    Close();
    std::string error;
    d->where = ParseNetworkPort(name, error);
    d->name = name;
    if (!d->where) return PortStatus{PortError::NotFound, error};
    d->rx.clear();
    d->stream = MbapStream();
    d->outstanding.reset();
    d->socket.connectToHost(QString::fromStdString(d->where->host), d->where->port);
    // A few seconds, not the system's minutes: the window waits for this.
    if (!d->socket.waitForConnected(d->connectTimeoutMs)) {
        const bool timedOut = d->socket.error() == QAbstractSocket::SocketTimeoutError;
        const std::string why =
            timedOut ? "no answer within " + std::to_string(d->connectTimeoutMs / 1000) + " s"
                     : d->socket.errorString().toStdString();
        d->socket.abort();
        const bool missing = d->socket.error() == QAbstractSocket::HostNotFoundError ||
                             d->socket.error() == QAbstractSocket::ConnectionRefusedError;
        return PortStatus{missing ? PortError::NotFound : PortError::Other,
                          d->where->host + ":" + std::to_string(d->where->port) + ": " + why};
    }
    // A port of the system's ephemeral range that nothing listens on can be reached by the
    // connection's own source port (TCP simultaneous open): no gateway is there.
    if (d->socket.localPort() == d->socket.peerPort() &&
        d->socket.localAddress() == d->socket.peerAddress()) {
        d->socket.abort();
        return PortStatus{PortError::NotFound, d->where->host + ":" +
                                                   std::to_string(d->where->port) +
                                                   ": connection refused (it met itself)"};
    }
    d->socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);  // a request goes out at once
    d->socket.setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    d->open = true;
    return {};
}

void QtTcpDevice::Close() {
    d->socket.abort();
    d->open = false;
}

bool QtTcpDevice::IsOpen() const {
    return d->open;
}

PortStatus QtTcpDevice::Configure(const LineSettings&) {
    return {};
}

PortStatus QtTcpDevice::Write(const ByteBlock& bytes) {
    if (!d->open) return PortStatus{PortError::Gone, "not connected to " + d->name};
    if (d->socket.state() != QAbstractSocket::ConnectedState) return d->Lost();
    ByteBlock out = bytes;
    if (d->Mbap()) {
        const uint16_t id = d->nextTransaction++;
        auto mbap = RtuToMbap(bytes, id, d->where->unit);
        if (!mbap) return {};  // not one whole frame: nothing a gateway could carry
        out = *mbap;
        d->outstanding = Impl::Outstanding{id, bytes[0]};
        d->recent[id % d->recent.size()] = *d->outstanding;
    }
    const qint64 n = d->socket.write(reinterpret_cast<const char*>(out.data()), qint64(out.size()));
    d->socket.flush();
    if (n != qint64(out.size()) || d->socket.state() != QAbstractSocket::ConnectedState)
        return d->Lost();
    return {};
}

PortStatus QtTcpDevice::Pending(size_t& count) {
    count = 0;
    PortStatus st = d->Pull();
    if (st.ok()) count = d->rx.size();
    return st;
}

PortStatus QtTcpDevice::Read(size_t max, ByteBlock& out) {
    out.clear();
    PortStatus st = d->Pull();
    if (!st.ok()) return st;
    const size_t n = std::min(max, d->rx.size());
    out.assign(d->rx.begin(), d->rx.begin() + long(n));
    d->rx.erase(d->rx.begin(), d->rx.begin() + long(n));
    return {};
}

PortStatus QtTcpDevice::WaitForInput(int timeoutMs) {
    PortStatus st = d->Pull();
    if (!st.ok() || !d->rx.empty()) return st;
    d->socket.waitForReadyRead(timeoutMs);
    return d->Pull();
}

uint64_t QtTcpDevice::StaleReplies(uint8_t address) const {
    return d->staleBy[address];
}

uint64_t QtTcpDevice::DroppedReplies() const {
    return d->dropped;
}

QtAnyPortDevice::QtAnyPortDevice()
    : m_serial(std::make_unique<QtSerialDevice>()),
      m_network(std::make_unique<QtTcpDevice>()),
      m_active(m_serial.get()) {}

QtAnyPortDevice::~QtAnyPortDevice() = default;

PortStatus QtAnyPortDevice::Open(const std::string& name, const LineSettings& settings) {
    m_active->Close();
    m_active = IsNetworkPortName(name) ? m_network.get() : m_serial.get();
    return m_active->Open(name, settings);
}
