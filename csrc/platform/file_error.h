#pragma once
// The errors of writing a file, named by what failed; a caller that writes
// files of its own kind puts its own words in front.

#include <cstring>
#include <stdexcept>
#include <string>

namespace vorn::typing::text {

// A file that could not be opened, written, synced, closed or renamed.
class FileError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A path that no file can have: one holding a NUL.
class PathError : public std::invalid_argument {
  public:
    using std::invalid_argument::invalid_argument;
};

// "Unable to open file", whatever the reason: callers match the text.
[[noreturn]] inline void fail_to_open() { throw FileError("Unable to open file"); }

// "<what>: <the errno's text>".
[[noreturn]] inline void fail_file(const char* what, int error) {
    throw FileError(std::string(what) + ": " + std::strerror(error));
}

}  // namespace vorn::typing::text
