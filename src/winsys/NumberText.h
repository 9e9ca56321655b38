// Integer parsing of what an operator typed into an edit box: blanks around the number
// are allowed, anything else that is not part of one decimal number is refused, and so is
// a number that does not fit the field.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

std::optional<int32_t> ParseIntText(std::string_view text);
std::optional<uint32_t> ParseUIntText(std::string_view text);
