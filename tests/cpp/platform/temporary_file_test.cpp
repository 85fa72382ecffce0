// Both roads to a new model file, each on the real file system: the unnamed
// file that has no directory entry until it replaces the target, and the
// named temporary that stands in where unnamed files are refused.

#include "platform/temporary_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vorn::typing::text {
namespace {

namespace fs = std::filesystem;
using Kind = TemporaryFile::Kind;

constexpr std::string_view kPrefix = ".writer-";

class TemporaryFileRoads : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        directory_ =
            fs::temp_directory_path() / ("vorn-temporary-" + std::to_string(::getpid()) + "-" +
                                         std::to_string(static_cast<int>(GetParam())));
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(directory_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    std::string read(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path directory_;
};

TEST_P(TemporaryFileRoads, ReplacesTheTargetAndLeavesNothingElse) {
    const fs::path target = directory_ / "model.json";
    std::ofstream(target) << "old";
    auto file = TemporaryFile::create(directory_.string(), GetParam(), kPrefix);
    ASSERT_TRUE(file.has_value());
    ASSERT_EQ(::write(file->fd(), "new", 3), 3);
    // Only a named temporary is visible while it is written, under the
    // caller's prefix.
    EXPECT_EQ(entries().size(), GetParam() == Kind::named ? 2U : 1U);
    for (const std::string& name : entries()) {
        EXPECT_TRUE(name == "model.json" || name.rfind(kPrefix, 0) == 0) << name;
    }
    EXPECT_EQ(file->replace(target.string()), TemporaryFile::Outcome::replaced);
    file.reset();
    EXPECT_EQ(read(target), "new");
    EXPECT_EQ(entries(), std::vector<std::string>{"model.json"});
}

TEST_P(TemporaryFileRoads, AFileDroppedBeforeReplacingLeavesNothing) {
    {
        auto file = TemporaryFile::create(directory_.string(), GetParam(), kPrefix);
        ASSERT_TRUE(file.has_value());
        ASSERT_EQ(::write(file->fd(), "partial", 7), 7);
    }
    EXPECT_TRUE(fs::is_empty(directory_));
}

TEST_P(TemporaryFileRoads, FoldersThatRefuseNewFilesGiveNothing) {
    EXPECT_FALSE(TemporaryFile::create((directory_ / "missing").string(), GetParam(), kPrefix));
    EXPECT_FALSE(TemporaryFile::create("/proc", GetParam(), kPrefix));
}

INSTANTIATE_TEST_SUITE_P(BothKinds, TemporaryFileRoads,
                         ::testing::Values(Kind::unnamed, Kind::named), [](const auto& param_info) {
                             return param_info.param == Kind::unnamed ? "Unnamed" : "Named";
                         });

}  // namespace
}  // namespace vorn::typing::text
