#include "platform/file_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/descriptor.h"
#include "platform/file_error.h"
#include "platform/temporary_file.h"

namespace vorn::typing::text {

namespace {

// open() gives up on longer chains with ELOOP.
constexpr int kMaxSymlinkHops = 40;

void write_all(int fd, std::string_view content) {
    constexpr std::size_t kChunk = std::size_t{1} << 30;
    std::size_t written = 0;
    while (written < content.size()) {
        const std::size_t chunk = std::min(content.size() - written, kChunk);
        const ssize_t result = ::write(fd, content.data() + written, chunk);
        if (result < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail_file("Unable to write file", errno);
        }
        written += static_cast<std::size_t>(result);
    }
}

void write_content(int fd, const ContentSource& content) {
    content([fd](std::string_view piece) { write_all(fd, piece); });
}

void sync(int fd) {
    if (::fsync(fd) != 0) {
        fail_file("Unable to sync file", errno);
    }
}

std::string directory_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path that open() would end up writing: symbolic links are followed
// to their last target, which need not exist yet, so that the link keeps
// pointing at the new file.
std::string final_target(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop <= kMaxSymlinkHops; ++hop) {
        struct stat link {};
        if (::lstat(current.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) {
            return current;
        }
        std::vector<char> buffer(static_cast<std::size_t>(link.st_size) + 256);
        const ssize_t length = ::readlink(current.c_str(), buffer.data(), buffer.size());
        if (length < 0 || static_cast<std::size_t>(length) >= buffer.size()) {
            return current;  // changed under us: let open() decide
        }
        const std::string destination(buffer.data(), static_cast<std::size_t>(length));
        if (destination.empty()) {
            return current;
        }
        if (destination.front() == '/') {
            current = destination;
        } else {
            current = directory_of(current).append("/").append(destination);
        }
    }
    fail_to_open();
}

// A rename leaves the new file owned by the caller; give it the owner,
// group and permissions of the file it replaces where the caller may (root
// may give it away, others only a group of theirs). Permissions go last:
// changing the owner clears the set-user-ID and set-group-ID bits.
void take_over_attributes(int fd, const struct stat& existing) {
    if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
        (void)::fchown(fd, static_cast<uid_t>(-1), existing.st_gid);
    }
    (void)::fchmod(fd, existing.st_mode & 07777);
}

// After a rename only the directory records the new name; until it is
// synced, a power loss could bring the old file back. A directory that
// cannot be opened or synced (some file systems refuse) is left as it is.
void sync_directory(const std::string& directory) {
    const Descriptor handle(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.valid()) {
        return;
    }
    if (::fsync(handle.get()) != 0 && errno != EINVAL && errno != EROFS) {
        fail_file("Unable to sync directory", errno);
    }
}

void write_in_place(const std::string& path, const ContentSource& content, bool regular) {
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!file.valid()) {
        fail_to_open();
    }
    write_content(file.get(), content);
    if (regular) {
        sync(file.get());
    }
    if (file.close() != 0) {
        fail_file("Unable to close file", errno);
    }
}

// Replaces `target` through a temporary file, unnamed where the system
// allows it. False when its directory lets no temporary file be created or
// renamed over the target.
bool replace_atomically(const std::string& target, const ContentSource& content,
                        const struct stat* existing, std::string_view temporary_prefix) {
    const std::string directory = directory_of(target);
    for (const auto kind : {TemporaryFile::Kind::unnamed, TemporaryFile::Kind::named}) {
        std::optional<TemporaryFile> file =
            TemporaryFile::create(directory, kind, temporary_prefix);
        if (!file) {
            continue;
        }
        if (existing != nullptr) {
            take_over_attributes(file->fd(), *existing);
        }
        write_content(file->fd(), content);
        sync(file->fd());
        switch (file->replace(target)) {
            case TemporaryFile::Outcome::replaced:
                sync_directory(directory);
                return true;
            case TemporaryFile::Outcome::unnamed_refused:
                continue;
            case TemporaryFile::Outcome::rename_refused:
                return false;
        }
    }
    return false;
}

}  // namespace

void write_file_safely(const std::string& path, const ContentSource& content,
                       std::string_view temporary_prefix) {
    if (path.find('\0') != std::string::npos) {
        throw PathError("embedded null character in path");
    }
    // No file can be opened under the empty name; without this the temporary
    // file would be written in the current directory before the rename fails.
    if (path.empty()) {
        fail_to_open();
    }
    const std::string target = final_target(path);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0) {
        if (errno != ENOENT) {
            fail_to_open();  // a forbidden or impossible path, as open() would find
        }
        if (!replace_atomically(target, content, nullptr, temporary_prefix)) {
            fail_to_open();
        }
        return;
    }
    if (S_ISDIR(existing.st_mode)) {
        fail_to_open();
    }
    // Devices and pipes cannot be replaced by a rename.
    if (!S_ISREG(existing.st_mode)) {
        write_in_place(target, content, false);
        return;
    }
    // A file we may not write stays as it is, even if its directory would
    // let us replace it.
    if (::access(target.c_str(), W_OK) != 0) {
        fail_to_open();
    }
    // A rename would give only this name the new content; the others would
    // keep the old one.
    if (existing.st_nlink > 1) {
        write_in_place(target, content, true);
        return;
    }
    // A directory that refuses new files or renames (a sticky one, over
    // another user's file) still lets a writable file be written, as a plain
    // open would.
    if (!replace_atomically(target, content, &existing, temporary_prefix)) {
        write_in_place(target, content, true);
    }
}

void write_file_safely(const std::string& path, const std::string& content,
                       std::string_view temporary_prefix) {
    write_file_safely(
        path, [&content](const ContentSink& sink) { sink(content); }, temporary_prefix);
}

}  // namespace vorn::typing::text
