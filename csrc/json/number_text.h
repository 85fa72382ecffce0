// Conversion of number text both ways, always with the full stop as the
// decimal point, whatever locale the host process has set: a model written
// under a decimal-comma locale must load under any other, and the reverse.
// Readers take the longest valid prefix and ignore the rest ("12-3" is 12,
// "1.2.3" is 1.2). The integers of our JSON are 32-bit whatever the width of
// long on the platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn::typing::text {

// Throws std::invalid_argument "invalid stol argument" when no digit converts,
// std::out_of_range "stol argument out of range" outside the 32-bit range.
std::int32_t text_to_int32(std::string_view digits);

// Reads digits as strtod does in the "C" locale. Throws std::invalid_argument
// "invalid stod argument" when nothing converts, std::out_of_range "stod
// argument out of range" on overflow or underflow.
double text_to_double(const std::string& digits);

// The "%f" text of `number` as printf writes it in the "C" locale: six digits
// after the point, every integer digit, "inf", "-inf", "nan" or "-nan".
std::string fixed_text(double number);

}  // namespace vorn::typing::text
