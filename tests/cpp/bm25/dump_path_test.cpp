// dump to the empty path: no file can have that name, and nothing may be
// written anywhere (the temporary file would land in the working directory).

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "bm25/bm25.h"

namespace vorn::typing::text {
namespace {

namespace fs = std::filesystem;

std::string dump_error(const BM25& model, const std::string& path) {
    try {
        model.dump(path);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

TEST(DumpPaths, EmptyPathCannotBeOpenedAndWritesNothing) {
    const fs::path directory =
        fs::temp_directory_path() / ("vorn-hardening-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    const fs::path previous = fs::current_path();
    fs::current_path(directory);
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a"});
    const std::string message = dump_error(model, "");
    const bool left_nothing = fs::is_empty(directory);
    fs::current_path(previous);
    fs::remove_all(directory);
    EXPECT_EQ(message, "Failed to dump: Unable to open file");
    EXPECT_TRUE(left_nothing);
}

}  // namespace
}  // namespace vorn::typing::text
