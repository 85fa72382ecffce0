#pragma once
// Writes a whole text to a path so that a failure never leaves a truncated
// file behind: regular files are replaced atomically through a temporary file
// in the same directory; devices and pipes are written in place.

#include <string>

namespace vorn::typing::text {

// Throws std::runtime_error "Failed to dump: Unable to open file" when the
// path cannot be opened, and another "Failed to dump: ..." message when
// writing, syncing, closing or renaming fails.
void write_file_atomically(const std::string& path, const std::string& content);

}  // namespace vorn::typing::text
