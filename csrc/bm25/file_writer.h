#pragma once
// Writes a whole text to a path as safely as the file system allows: a
// regular file is replaced in one step through a temporary file beside it,
// so that a failed or interrupted write never leaves a truncated file;
// what cannot be replaced that way (devices, pipes, files with several
// names, files in a directory the caller may not write) is written in place,
// as a plain open would.

#include <string>

namespace vorn::typing::text {

// Throws std::invalid_argument for a path holding a NUL,
// std::runtime_error "Failed to dump: Unable to open file" when the path
// cannot be opened for writing, and another "Failed to dump: ..." message
// when writing, syncing, closing or renaming fails.
void write_file_safely(const std::string& path, const std::string& content);

}  // namespace vorn::typing::text
