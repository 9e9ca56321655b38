#include "sim/PtyEnd.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <utility>

namespace {

int BaudOf(speed_t s) {
    constexpr std::pair<speed_t, int> kBauds[] = {
        {B1200, 1200},   {B2400, 2400},   {B4800, 4800},   {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}};
    for (auto [speed, baud] : kBauds)
        if (speed == s) return baud;
    return 0;
}

}  // namespace

PtyEnd::~PtyEnd() {
    if (!m_link.empty()) {
        std::error_code ec;
        if (std::filesystem::is_symlink(m_link, ec)) std::filesystem::remove(m_link, ec);
    }
    if (m_master >= 0) close(m_master);
    if (m_slave >= 0) close(m_slave);
}

bool PtyEnd::Open(std::string& error) {
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

bool PtyEnd::Link(const std::string& linkPath, std::string& error) {
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

LineSettings PtyEnd::Line() const {
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
