// Port names that reach meters over a network instead of a local serial port:
//   tcp://HOST:PORT                 a serial device server in transparent mode (RTU frames,
//                                   CRC and all, travel unchanged over one TCP connection);
//   modbus-tcp://HOST:PORT[?unit=N] a Modbus TCP gateway (each RTU request becomes an MBAP
//                                   request, each MBAP reply the RTU frame a meter would send).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Parse.h"

struct NetworkPort {
    enum class Kind { RtuOverTcp, ModbusTcp } kind;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
    uint16_t port;
    std::optional<uint8_t> unit;  // modbus-tcp only: overrides the frame's address
};

bool IsNetworkPortName(const std::string& name);  // begins with tcp:// or modbus-tcp://
// The parts of such a name; nothing and a reason in error when it is malformed.
std::optional<NetworkPort> ParseNetworkPort(const std::string& name, std::string& error);
