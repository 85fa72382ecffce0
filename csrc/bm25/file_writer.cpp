#include "bm25/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>

namespace vorn::typing::text {

namespace {

[[noreturn]] void fail_to_open() {
    throw std::runtime_error("Failed to dump: Unable to open file");
}

[[noreturn]] void fail(const char* what, int error) {
    throw std::runtime_error(std::string("Failed to dump: ") + what + ": " + std::strerror(error));
}

// Closes on destruction unless close() already reported on it.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int get() const { return fd_; }
    void close() {
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) {
            fail("Unable to close file", errno);
        }
    }

  private:
    int fd_;
};

void write_all(int fd, const std::string& content) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    std::size_t written = 0;
    while (written < content.size()) {
        const std::size_t chunk = std::min(content.size() - written, kChunk);
        const ssize_t result = ::write(fd, content.data() + written, chunk);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("Unable to write file", errno);
        }
        written += static_cast<std::size_t>(result);
    }
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Devices and pipes cannot be replaced by a rename, so they get the text as a
// plain write.
void write_in_place(const std::string& path, const std::string& content) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (file.get() < 0) {
        fail_to_open();
    }
    write_all(file.get(), content);
    file.close();
}

// Opens a new file beside the target that nobody else can have opened; the
// creation mode lets the umask apply as it would to the target itself.
int open_temporary(const std::string& directory, std::string& temporary) {
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary = directory + "/.pyvornlex-" + std::to_string(::getpid()) + "-" +
                    std::to_string(entropy()) + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

}  // namespace

void write_file_atomically(const std::string& path, const std::string& content) {
    if (path.find('\0') != std::string::npos) {
        throw std::invalid_argument("Failed to dump: embedded null character in path");
    }
    // No file can be opened under the empty name; without this the temporary
    // file would be written in the current directory before the rename fails.
    if (path.empty()) {
        fail_to_open();
    }
    std::string target = path;
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    if (exists) {
        if (S_ISDIR(existing.st_mode)) {
            fail_to_open();
        }
        if (!S_ISREG(existing.st_mode)) {
            write_in_place(path, content);
            return;
        }
        // A file we may not write stays as it is, even if its directory would
        // let us replace it.
        if (::access(path.c_str(), W_OK) != 0) {
            fail_to_open();
        }
        // Replace what a symbolic link points to, not the link itself.
        const std::unique_ptr<char, decltype(&std::free)> resolved(
            ::realpath(path.c_str(), nullptr), &std::free);
        if (resolved) {
            target = resolved.get();
        }
    }

    std::string temporary;
    Descriptor file(open_temporary(directory_of(target), temporary));
    if (file.get() < 0) {
        fail_to_open();
    }
    try {
        if (exists) {
            ::fchmod(file.get(), existing.st_mode & 07777);
        }
        write_all(file.get(), content);
        if (::fsync(file.get()) != 0) {
            fail("Unable to sync file", errno);
        }
        file.close();
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            fail("Unable to replace file", errno);
        }
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
}

}  // namespace vorn::typing::text
