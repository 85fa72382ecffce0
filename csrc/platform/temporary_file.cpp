#include "platform/temporary_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <utility>

#include "platform/file_error.h"

namespace vorn::typing::text {
namespace {

// Names nobody else can be using: another writer in this process, or in
// another one, draws another number. Opened with O_EXCL, so a clash is seen.
std::string fresh_name(const std::string& directory, std::string_view prefix, unsigned int draw) {
    std::string name = directory;
    name += '/';
    name += prefix;
    name += std::to_string(::getpid());
    name += '-';
    name += std::to_string(draw);
    name += ".tmp";
    return name;
}

constexpr int kAttempts = 16;

}  // namespace

TemporaryFile::TemporaryFile(Descriptor file, Kind kind, std::string directory,
                             std::string_view prefix, std::string name)
    : file_(std::move(file)),
      kind_(kind),
      directory_(std::move(directory)),
      prefix_(prefix),
      name_(std::move(name)) {}

TemporaryFile::TemporaryFile(TemporaryFile&& other) noexcept
    : file_(std::move(other.file_)),
      kind_(other.kind_),
      directory_(std::move(other.directory_)),
      prefix_(std::move(other.prefix_)),
      name_(std::exchange(other.name_, std::string())) {}

std::optional<TemporaryFile> TemporaryFile::create(const std::string& directory, Kind kind,
                                                   std::string_view prefix) {
    if (kind == Kind::unnamed) {
        Descriptor file(::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
        if (!file.valid()) {
            return std::nullopt;
        }
        return TemporaryFile(std::move(file), kind, directory, prefix, "");
    }
    std::random_device entropy;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = fresh_name(directory, prefix, entropy());
        Descriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.valid()) {
            return TemporaryFile(std::move(file), kind, directory, prefix, std::move(name));
        }
        if (errno != EEXIST) {
            break;
        }
    }
    return std::nullopt;
}

TemporaryFile::~TemporaryFile() {
    if (!name_.empty()) {
        ::unlink(name_.c_str());
    }
}

// linkat with AT_EMPTY_PATH names the descriptor itself; kernels before 6.10
// allow it only with CAP_DAC_READ_SEARCH, and the link through /proc, which
// needs no capability, fails where /proc is not the process's own.
bool TemporaryFile::give_name() {
    std::random_device entropy;
    const std::string proc_path = "/proc/self/fd/" + std::to_string(file_.get());
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string name = fresh_name(directory_, prefix_, entropy());
        if (::linkat(file_.get(), "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
            ::linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            name_ = std::move(name);
            return true;
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

TemporaryFile::Outcome TemporaryFile::replace(const std::string& target) {
    if (kind_ == Kind::unnamed && !give_name()) {
        return Outcome::unnamed_refused;
    }
    if (file_.close() != 0) {
        fail_file("Unable to close file", errno);
    }
    if (::rename(name_.c_str(), target.c_str()) != 0) {
        if (errno == EPERM || errno == EACCES) {
            return Outcome::rename_refused;
        }
        fail_file("Unable to replace file", errno);
    }
    name_.clear();
    return Outcome::replaced;
}

}  // namespace vorn::typing::text
