// A free local port below the system's ephemeral range, for servers a test stops and starts
// again: a client reconnecting to a port inside that range may be given it as its own
// source port and connect to itself.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <random>

inline int FreePortBelowEphemeral() {
    int low = 32768;
    std::ifstream("/proc/sys/net/ipv4/ip_local_port_range") >> low;
    std::mt19937 pick{std::random_device{}()};
    for (;;) {
        const int port = std::uniform_int_distribution<int>(10000, low - 1)(pick);
        const int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        const bool free = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(s);
        if (free) return port;
    }
}
