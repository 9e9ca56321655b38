#include "serial/qt/QtSerialDevice.h"

#include <unistd.h>
#include <QSerialPort>
#include <utility>

namespace {

QSerialPort::Parity ToQt(LineSettings::Parity p) {
    switch (p) {
        case LineSettings::Parity::Odd:
            return QSerialPort::OddParity;
        case LineSettings::Parity::Even:
            return QSerialPort::EvenParity;
        case LineSettings::Parity::Mark:
            return QSerialPort::MarkParity;
        case LineSettings::Parity::Space:
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ToQt(LineSettings::StopBits s) {
    switch (s) {
        case LineSettings::StopBits::One:
            return QSerialPort::OneStop;
        case LineSettings::StopBits::OneAndHalf:
            return QSerialPort::OneAndHalfStop;
        default:
            return QSerialPort::TwoStop;
    }
}

bool Apply(QSerialPort& port, const LineSettings& s) {
    bool ok = port.setBaudRate(s.baud);
    ok = port.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)) && ok;
    ok = port.setParity(ToQt(s.parity)) && ok;
    ok = port.setStopBits(ToQt(s.stopBits)) && ok;
    ok = port.setFlowControl(QSerialPort::NoFlowControl) && ok;
    return ok;
}

}  // namespace

struct QtSerialDevice::Impl {
    QSerialPort port;
    std::string device;
    PortStatus lost;  // an error seen by the event loop, told at the next operation

    // Qt names a held lock and a missing permission alike; the file's mode tells them apart.
    PortError Classify(QSerialPort::SerialPortError e) const {
        switch (e) {
            case QSerialPort::NoError:
                return PortError::None;
            case QSerialPort::DeviceNotFoundError:
                return PortError::NotFound;
            case QSerialPort::PermissionError:
                return ::access(device.c_str(), R_OK | W_OK) == 0 ? PortError::Busy
                                                                  : PortError::Permission;
            case QSerialPort::OpenError:
                return PortError::Busy;
            case QSerialPort::ResourceError:
            case QSerialPort::ReadError:
            case QSerialPort::WriteError:
                return PortError::Gone;
            case QSerialPort::UnsupportedOperationError:
                return PortError::Unsupported;
            default:
                return PortError::Other;
        }
    }

    PortStatus Status() {
        PortStatus st{Classify(port.error()), port.errorString().toStdString()};
        port.clearError();
        if (st.error == PortError::None) st.detail.clear();
        return st;
    }

    // A device gone while the event loop runs makes Qt repeat the error endlessly at
    // full load: close at the first one and keep it for the next operation.
    void OnError(QSerialPort::SerialPortError e) {
        PortError kind = Classify(e);
        if (kind != PortError::Gone || !port.isOpen()) return;
        lost = PortStatus{kind, port.errorString().toStdString()};
        port.clearError();
        port.close();
    }

    // A loss seen by the error signal (during any Qt call, or in the event loop) is told
    // by the next operation, exactly once.
    PortStatus TakeLoss() { return std::exchange(lost, PortStatus{}); }

    // Pulls what the system holds into Qt's buffer; an idle poll is not an error.
    PortStatus Pull() {
        if (!lost.ok()) return TakeLoss();
        port.waitForReadyRead(0);
        if (!lost.ok()) return TakeLoss();
        if (port.error() == QSerialPort::TimeoutError) port.clearError();
        return Status();
    }
};

QtSerialDevice::QtSerialDevice() : d(std::make_unique<Impl>()) {
    QObject::connect(&d->port, &QSerialPort::errorOccurred,
                     [impl = d.get()](QSerialPort::SerialPortError e) { impl->OnError(e); });
}

QtSerialDevice::~QtSerialDevice() {
    Close();
}

PortStatus QtSerialDevice::Open(const std::string& device, const LineSettings& settings) {
    Close();
    d->device = device;
    d->lost = PortStatus{};
    d->port.setPortName(QString::fromStdString(device));
    // Settings given before opening are applied by the open itself; on a pseudo-terminal a
    // parity change on the open port can be refused.
    Apply(d->port, settings);
    d->port.clearError();
    if (!d->port.open(QIODevice::ReadWrite)) return d->Status();
    return PortStatus{};
}

void QtSerialDevice::Close() {
    if (d->port.isOpen()) d->port.close();
    d->port.clearError();
    d->lost = PortStatus{};
}

// A port lost behind the caller's back still counts as open until that has been told.
bool QtSerialDevice::IsOpen() const {
    return d->port.isOpen() || !d->lost.ok();
}

PortStatus QtSerialDevice::Configure(const LineSettings& settings) {
    if (!d->lost.ok()) return d->TakeLoss();
    if (Apply(d->port, settings)) {
        d->port.clearError();
        return PortStatus{};
    }
    return d->Status();
}

PortStatus QtSerialDevice::Write(const ByteBlock& bytes) {
    if (!d->lost.ok()) return d->TakeLoss();
    qint64 n = d->port.write(reinterpret_cast<const char*>(bytes.data()),
                             static_cast<qint64>(bytes.size()));
    // Without an event loop Qt would only queue the bytes: hand them to the system now.
    bool flushed = d->port.flush();
    if (!d->lost.ok()) return d->TakeLoss();
    if (n == static_cast<qint64>(bytes.size()) && (flushed || d->port.bytesToWrite() == 0))
        return PortStatus{};
    PortStatus st = d->Status();
    if (st.ok()) st = PortStatus{PortError::Gone, "write failed"};
    return st;
}

PortStatus QtSerialDevice::Pending(size_t& count) {
    count = 0;
    PortStatus st = d->Pull();
    if (st.ok()) count = static_cast<size_t>(d->port.bytesAvailable());
    return st;
}

PortStatus QtSerialDevice::Read(size_t max, ByteBlock& out) {
    out.clear();
    PortStatus st = d->Pull();
    if (!st.ok()) return st;
    QByteArray data = d->port.read(static_cast<qint64>(max));
    out.assign(data.begin(), data.end());
    return PortStatus{};
}

PortStatus QtSerialDevice::WaitForInput(int timeoutMs) {
    if (!d->lost.ok()) return d->TakeLoss();
    if (d->port.bytesAvailable() > 0) return PortStatus{};
    d->port.waitForReadyRead(timeoutMs);
    if (!d->lost.ok()) return d->TakeLoss();
    if (d->port.error() == QSerialPort::TimeoutError) d->port.clearError();
    return d->Status();
}
