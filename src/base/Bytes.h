// The unit in which bytes travel: written to a port, read from it, framed and unframed.
#pragma once

#include <cstdint>
#include <vector>

using ByteBlock = std::vector<uint8_t>;
