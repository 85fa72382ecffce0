#include "json/number_text.h"

#include <cerrno>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace vorn::typing::text {

// libstdc++'s std::stol and std::stod throw with bare "stol"/"stod" texts and
// std::stol is 64-bit on Linux, hence the C calls and our own messages.

std::int32_t text_to_int32(const std::string& digits) {
    const char* begin = digits.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin) {
        throw std::invalid_argument("invalid stol argument");
    }
    if (errno == ERANGE || value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        throw std::out_of_range("stol argument out of range");
    }
    return static_cast<std::int32_t>(value);
}

double text_to_double(const std::string& digits) {
    const char* begin = digits.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin) {
        throw std::invalid_argument("invalid stod argument");
    }
    if (errno == ERANGE) {
        throw std::out_of_range("stod argument out of range");
    }
    return value;
}

}  // namespace vorn::typing::text
