#pragma once
// A new file in a target's directory that stays invisible until it is
// complete and then takes the target's name in one step, so that readers see
// the old file or the new one and a failed or killed writer leaves nothing.

#include <optional>
#include <string>
#include <string_view>

#include "platform/descriptor.h"

namespace vorn::typing::text {

class TemporaryFile {
  public:
    enum class Kind {
        // O_TMPFILE: the file has no name until replace(), so a process
        // killed while writing it leaves nothing behind.
        unnamed,
        // A hidden "<prefix><process>-<number>.tmp" file, for file systems
        // and kernels that refuse unnamed files or naming them.
        named,
    };

    // A new empty file in `directory`, mode 0666 less the umask; nothing
    // when the directory refuses it. Any name it takes starts with `prefix`
    // (a dot, to keep it out of sight, and the name of the writer).
    static std::optional<TemporaryFile> create(const std::string& directory, Kind kind,
                                               std::string_view prefix);

    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    TemporaryFile(TemporaryFile&& other) noexcept;
    TemporaryFile& operator=(TemporaryFile&& other) = delete;
    // Closes the file and removes any name it got without replacing.
    ~TemporaryFile();

    int fd() const { return file_.get(); }
    Kind kind() const { return kind_; }

    enum class Outcome {
        replaced,
        // An unnamed file that cannot be given a name in its directory.
        unnamed_refused,
        // A rename that the directory forbids, such as one over another
        // user's file in a sticky directory.
        rename_refused,
    };

    // Closes the complete file and renames it over `target`. Unless the
    // outcome is `replaced`, nothing changed and the file is dropped. Throws
    // FileError (file_error.h) when closing or renaming fails otherwise.
    Outcome replace(const std::string& target);

  private:
    TemporaryFile(Descriptor file, Kind kind, std::string directory, std::string_view prefix,
                  std::string name);

    bool give_name();

    Descriptor file_;
    Kind kind_;
    std::string directory_;
    std::string prefix_;
    std::string name_;  // the file's path; empty while an unnamed file has none
};

}  // namespace vorn::typing::text
