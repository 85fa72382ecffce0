#include "json/number_text.h"

#include <cerrno>
#include <charconv>
#include <clocale>  // with glibc also newlocale and its kin (POSIX)
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <system_error>

namespace vorn::typing::text {

namespace {

// "%f" of the largest double: sign, 309 integer digits, point, six decimals.
constexpr std::size_t kMaxFixedLength = 317;

}  // namespace

// libstdc++'s std::stol and std::stod throw with bare "stol"/"stod" texts,
// std::stol is 64-bit on Linux and both follow the process locale, hence our
// own conversions and messages.

std::int32_t text_to_int32(std::string_view digits) {
    std::int32_t value = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (result.ec == std::errc::invalid_argument) {
        throw std::invalid_argument("invalid stol argument");
    }
    if (result.ec == std::errc::result_out_of_range) {
        throw std::out_of_range("stol argument out of range");
    }
    return value;
}

double text_to_double(const std::string& digits) {
    // glibc hands out its built-in "C" locale object here without allocating,
    // and freeing it is a no-op, so nothing is kept between calls. strtod_l
    // rather than std::from_chars keeps strtod's exact rounding and its range
    // errors, subnormal results included.
    const locale_t c_locale = ::newlocale(LC_ALL_MASK, "C", locale_t{});
    if (c_locale == locale_t{}) {
        throw std::bad_alloc();
    }
    const char* begin = digits.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = ::strtod_l(begin, &end, c_locale);
    const int error = errno;
    ::freelocale(c_locale);
    if (end == begin) {
        throw std::invalid_argument("invalid stod argument");
    }
    if (error == ERANGE) {
        throw std::out_of_range("stod argument out of range");
    }
    return value;
}

std::string fixed_text(double number) {
    // std::to_chars is locale-free and gives printf's correctly rounded
    // digits, ties to even included, and its spellings of infinity and NaN.
    char buffer[kMaxFixedLength];
    const auto result =
        std::to_chars(buffer, buffer + kMaxFixedLength, number, std::chars_format::fixed, 6);
    return {buffer, result.ptr};
}

}  // namespace vorn::typing::text
