// Plain stdio is used because it reports failures through errno, which the
// stream classes don't promise to keep.

#include "tokenizer/file_content.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <memory>

namespace vorn::typing::text {
namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// A failure that left errno unset is still a failure.
int last_error() { return errno != 0 ? errno : EIO; }

FileHandle open_for_reading(const std::string& path) {
    errno = 0;
    return FileHandle(std::fopen(path.c_str(), "rb"));
}

}  // namespace

FileContent read_file(const std::string& path) {
    FileContent content;
    const FileHandle file = open_for_reading(path);
    if (!file) {
        content.error_number = last_error();
        return content;
    }
    std::array<char, 1 << 16> buffer{};
    std::size_t count = 0;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) {
        content.bytes.append(buffer.data(), count);
    }
    if (std::ferror(file.get()) != 0) {
        content.error_number = last_error();
    }
    return content;
}

int probe_file(const std::string& path) {
    const FileHandle file = open_for_reading(path);
    if (!file) {
        return last_error();
    }
    // Opening a directory succeeds; only reading from it tells.
    if (std::fgetc(file.get()) == EOF && std::ferror(file.get()) != 0) {
        return last_error();
    }
    return 0;
}

}  // namespace vorn::typing::text
