#pragma once
// Reads a data file line by line as std::getline does, a chunk at a time:
// a dictionary of megabytes is checked at the speed of memory, without a
// copy of it, and the kernel's cache then serves the library's own reading.
// Failures keep their errno, so that the caller can report the exact reason
// (missing, forbidden, a directory, ...).

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::typing::text {

class FileLines {
  public:
    static constexpr std::size_t kChunk = std::size_t{1} << 16;

    // Opens the file at `path`; error() tells why it could not be.
    explicit FileLines(const std::string& path, std::size_t chunk = kChunk);
    FileLines(const FileLines&) = delete;
    FileLines& operator=(const FileLines&) = delete;
    ~FileLines();

    // The next line, without its '\n'; a last line without one still
    // counts, and a final '\n' opens no further line. False at the end, or
    // when reading fails (error() tells). The view lasts until the next call.
    bool next(std::string_view& line);

    // 1-based number of the line last returned; 0 before the first.
    std::size_t number() const { return number_; }

    // errno of the failed open or read; 0 while all went well.
    int error() const { return error_; }

  private:
    // Reads the next chunk; false at the end of the file or on a failure.
    bool fill();

    int descriptor_ = -1;
    int error_ = 0;
    std::vector<char> chunk_;
    std::size_t begin_ = 0;  // the unread part of the chunk
    std::size_t end_ = 0;
    std::string carried_;  // the start of a line that goes on in the next chunk
    bool returned_carried_ = false;
    std::size_t number_ = 0;
};

// 0 when the file at `path` opens and its first byte, if any, can be read;
// otherwise the errno of the failure. Reads nothing more.
int probe_file(const std::string& path);

}  // namespace vorn::typing::text
