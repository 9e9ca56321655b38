#include "sim/PtyLine.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "sim/LineClock.h"

namespace {

// A request is the bytes that arrive without a pause of this length. A terminal hands over
// what the master wrote at once, so a short gap ends the frame well before a reply is due.
constexpr double kFrameGapMs = 1.5;

int BaudOf(speed_t s) {
    switch (s) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        default:
            return 0;
    }
}

}  // namespace

PtyLine::PtyLine(ISimPeer& meter, bool verbose) : m_meter(meter), m_verbose(verbose) {
    m_startMs = Now();
}

PtyLine::~PtyLine() {
    if (!m_link.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(m_link, ec)) std::filesystem::remove(m_link, ec);
    }
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
}

double PtyLine::Now() const {
    return SimNowMs();
}

bool PtyLine::Open(std::string& error) {
    char name[256];
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        error = std::string("openpty: ") + std::strerror(errno);
        return false;
    }
    m_path = name;
    // The meter keeps its own handle on the terminal open, so the line stays up while the
    // console closes and reopens its port.
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    t.c_cflag |= CSTOPB;
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool PtyLine::Link(const std::string& linkPath, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(linkPath, ec))) {
        if (!fs::is_symlink(linkPath, ec)) {
            error = linkPath + " exists and is not a symbolic link; not replacing it";
            return false;
        }
        fs::remove(linkPath, ec);
    }
    fs::create_symlink(m_path, linkPath, ec);
    if (ec) {
        error = "cannot link " + linkPath + ": " + ec.message();
        return false;
    }
    m_link = linkPath;
    return true;
}

LineSettings PtyLine::ConsoleLine() const {
    termios t{};
    LineSettings s;
    if (tcgetattr(m_master, &t) != 0) return s;
    s.baud = BaudOf(cfgetospeed(&t));
    const bool twoStop = t.c_cflag & CSTOPB, odd = t.c_cflag & PARODD;
    s.stopBits = twoStop ? LineSettings::StopBits::Two : LineSettings::StopBits::One;
    s.parity = odd       ? LineSettings::Parity::Odd
               : twoStop ? LineSettings::Parity::None
                         : LineSettings::Parity::Even;
    return s;
}

void PtyLine::Log(const char* dir, const ByteBlock& bytes) const {
    if (!m_verbose) return;
    const auto t = static_cast<unsigned long long>(Now() - m_startMs);
    std::fprintf(stderr, "[%6llu.%03llu] %s", t / 1000, t % 1000, dir);
    for (uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
    std::fprintf(stderr, "\n");
}

void PtyLine::Deliver(ByteBlock bytes, double atMs) {
    if (!m_out.empty()) atMs = std::max(atMs, m_out.back().atMs);
    m_out.push_back({atMs, std::move(bytes)});
}

void PtyLine::ReadInput() {
    uint8_t buf[512];
    for (;;) {
        ssize_t n = read(m_master, buf, sizeof buf);
        if (n <= 0) return;
        m_frame.insert(m_frame.end(), buf, buf + n);
        m_lastByteMs = Now();
    }
}

void PtyLine::HandleFrame() {
    ByteBlock frame;
    frame.swap(m_frame);
    Log("<-", frame);
    m_meter.OnReceive(frame, m_lastByteMs, ConsoleLine(), *this);
}

void PtyLine::FlushDue(const StopFlag& stop) {
    const double now = Now();
    while (!m_out.empty() && m_out.front().atMs <= now) {
        const ByteBlock& b = m_out.front().bytes;
        Log("->", b);
        WriteAll(m_master, b.data(), b.size(), stop);
        m_out.pop_front();
    }
}

void PtyLine::Serve(const StopFlag& stop) {
    while (!stop) {
        const timespec timeout = ServeWait(
            Now(), m_frame.empty() ? std::nullopt : std::optional(m_lastByteMs + kFrameGapMs),
            m_out.empty() ? std::nullopt : std::optional(m_out.front().atMs));
        pollfd p{m_master, POLLIN, 0};
        if (ppoll(&p, 1, &timeout, nullptr) > 0 && (p.revents & POLLIN)) ReadInput();
        if (!m_frame.empty() && Now() >= m_lastByteMs + kFrameGapMs) HandleFrame();
        FlushDue(stop);
    }
}
