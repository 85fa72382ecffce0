#pragma once
// The errors of writing a model file, with the messages callers match on.

#include <cstring>
#include <stdexcept>
#include <string>

namespace vorn::typing::text {

[[noreturn]] inline void fail_to_open() {
    throw std::runtime_error("Failed to dump: Unable to open file");
}

// "Failed to dump: <what>: <the errno's text>".
[[noreturn]] inline void fail_dump(const char* what, int error) {
    throw std::runtime_error(std::string("Failed to dump: ") + what + ": " + std::strerror(error));
}

}  // namespace vorn::typing::text
