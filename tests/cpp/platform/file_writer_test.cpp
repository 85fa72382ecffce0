// The writer's errors name what failed and nothing about the caller, which
// puts its own name in front; a failed write leaves the earlier file.

#include "platform/file_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/file_error.h"

namespace vorn::typing::text {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kPrefix = ".writer-";

std::string error_of(const std::string& path) {
    try {
        write_file_safely(path, std::string("content"), kPrefix);
    } catch (const PathError& error) {
        return std::string("path: ") + error.what();
    } catch (const FileError& error) {
        return std::string("file: ") + error.what();
    }
    return "";
}

TEST(FileWriter, ErrorsNameWhatFailed) {
    const fs::path directory =
        fs::temp_directory_path() / ("vorn-writer-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    const fs::path target = directory / "file.txt";
    std::ofstream(target) << "earlier";

    EXPECT_EQ(error_of((directory / "missing" / "file.txt").string()), "file: Unable to open file");
    EXPECT_EQ(error_of(directory.string()), "file: Unable to open file");
    EXPECT_EQ(error_of(""), "file: Unable to open file");
    EXPECT_EQ(error_of(target.string() + std::string(1, '\0') + "x"),
              "path: embedded null character in path");
    EXPECT_EQ(error_of("/dev/full"), "file: Unable to write file: No space left on device");

    std::ifstream in(target);
    std::ostringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "earlier");
    EXPECT_EQ(error_of(target.string()), "");
    fs::remove_all(directory);
}

}  // namespace
}  // namespace vorn::typing::text
