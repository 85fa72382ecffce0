#pragma once
// Reads data files keeping the errno of a failure, so that the caller can
// report the exact reason (missing, forbidden, a directory, ...).

#include <string>

namespace vorn::typing::text {

struct FileContent {
    std::string bytes;
    int error_number = 0;  // errno of the failed open or read; 0 when all was read
};

// The whole content of the file at `path`.
FileContent read_file(const std::string& path);

// 0 when the file at `path` opens and its first byte, if any, can be read;
// otherwise the errno of the failure. Reads nothing more.
int probe_file(const std::string& path);

}  // namespace vorn::typing::text
