#include "sim/TcpEnd.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

TcpEnd::~TcpEnd() {
    Hangup();
    if (m_listen >= 0) close(m_listen);
}

bool TcpEnd::Listen(int port, std::string& error) {
    m_listen = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        listen(m_listen, 4) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof a;
    getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
    m_port = ntohs(a.sin_port);
    return true;
}

void TcpEnd::Accept() {
    const int c = accept(m_listen, nullptr, nullptr);
    if (c < 0) return;
    Hangup();  // one client at a time, as a device server
    m_client = c;
    const int one = 1;
    setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(m_client, F_SETFL, fcntl(m_client, F_GETFL) | O_NONBLOCK);
}

void TcpEnd::Hangup() {
    if (m_client >= 0) close(m_client);
    m_client = -1;
}
