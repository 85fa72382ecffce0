// Plain POSIX reads: they report failures through errno, which the stream
// classes don't promise to keep, and read a directory as EISDIR, as the
// library's own reading meets it.

#include "tokenizer/file_lines.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vorn::typing::text {

namespace {

// A failure that left errno unset is still a failure.
int last_error() { return errno != 0 ? errno : EIO; }

int open_for_reading(const std::string& path) {
    errno = 0;
    int descriptor = -1;
    do {
        descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// Bytes read into `buffer`, 0 at the end, -1 on a failure (errno tells).
ssize_t read_some(int descriptor, char* buffer, std::size_t size) {
    ssize_t count = -1;
    do {
        errno = 0;
        count = ::read(descriptor, buffer, size);
    } while (count < 0 && errno == EINTR);
    return count;
}

}  // namespace

FileLines::FileLines(const std::string& path, std::size_t chunk)
    : descriptor_(open_for_reading(path)) {
    if (descriptor_ < 0) {
        error_ = last_error();
    } else {
        chunk_.resize(chunk == 0 ? 1 : chunk);
    }
}

FileLines::~FileLines() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
    }
}

bool FileLines::fill() {
    if (descriptor_ < 0 || error_ != 0) {
        return false;
    }
    const ssize_t count = read_some(descriptor_, chunk_.data(), chunk_.size());
    if (count < 0) {
        error_ = last_error();
        return false;
    }
    begin_ = 0;
    end_ = static_cast<std::size_t>(count);
    return count > 0;
}

bool FileLines::next(std::string_view& line) {
    if (returned_carried_) {
        carried_.clear();
        returned_carried_ = false;
    }
    while (begin_ < end_ || fill()) {
        const char* const start = chunk_.data() + begin_;
        const std::size_t left = end_ - begin_;
        const auto* const feed = static_cast<const char*>(std::memchr(start, '\n', left));
        if (feed != nullptr) {
            const auto size = static_cast<std::size_t>(feed - start);
            begin_ += size + 1;
            ++number_;
            if (carried_.empty()) {
                line = std::string_view(start, size);
            } else {
                carried_.append(start, size);
                line = carried_;
                returned_carried_ = true;
            }
            return true;
        }
        carried_.append(start, left);
        begin_ = end_;
    }
    if (error_ != 0 || carried_.empty()) {
        return false;
    }
    ++number_;
    line = carried_;
    returned_carried_ = true;
    return true;
}

int probe_file(const std::string& path) {
    const int descriptor = open_for_reading(path);
    if (descriptor < 0) {
        return last_error();
    }
    // Opening a directory succeeds; only reading from it tells.
    char first = '\0';
    const int error = read_some(descriptor, &first, 1) < 0 ? last_error() : 0;
    ::close(descriptor);
    return error;
}

}  // namespace vorn::typing::text
