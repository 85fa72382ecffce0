#pragma once
// Writes a whole text to a path as safely as the file system allows: a
// regular file is replaced in one step through a temporary file beside it,
// so that a failed or interrupted write never leaves a truncated file;
// what cannot be replaced that way (devices, pipes, files with several
// names, files in a directory the caller may not write) is written in place,
// as a plain open would.

#include <functional>
#include <string>
#include <string_view>

namespace vorn::typing::text {

// Takes the content's pieces in order and writes them out.
using ContentSink = std::function<void(std::string_view)>;
// Hands the whole content to the sink, piece by piece, so that it never has
// to exist in memory at once. It runs once for every file the content is
// written to (a temporary file that cannot be named is written again under
// a name), and should allocate nothing: a file written in place has been
// truncated by the time it runs.
using ContentSource = std::function<void(const ContentSink&)>;

// Throws PathError (a std::invalid_argument) for a path holding a NUL,
// FileError (a std::runtime_error) "Unable to open file" when the path
// cannot be opened for writing, and another FileError "<what>: <the errno's
// text>" when writing, syncing, closing or renaming fails. What the source
// throws passes through; a replaced file is then left as it was. A
// temporary file that must have a name while it is written is a hidden one
// in the target's directory whose name starts with `temporary_prefix`.
void write_file_safely(const std::string& path, const ContentSource& content,
                       std::string_view temporary_prefix);
void write_file_safely(const std::string& path, const std::string& content,
                       std::string_view temporary_prefix);

}  // namespace vorn::typing::text
