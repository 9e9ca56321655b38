// Slave addresses as an operator writes them: "1,3,5-8".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The addresses in the order written, each once; nothing and a reason in error when the text
// holds anything but numbers and ranges from min to max.
std::optional<std::vector<uint8_t>> ParseAddressList(const std::string& text, int min, int max,
                                                     std::string& error);
