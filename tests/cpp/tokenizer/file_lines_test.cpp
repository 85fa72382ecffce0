// Lines come out of a file a chunk at a time exactly as std::getline gives
// them out of the whole file, wherever the chunks cut, and failures keep
// their errno.

#include "tokenizer/file_lines.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>
#include <vector>

#include "tokenizer_files.h"

namespace vorn::typing::text {
namespace {

using Lines = std::vector<std::string>;

class FileLinesTest : public ::testing::Test {
  protected:
    std::string write(const std::string& content) const { return scratch_.write("file", content); }

    ScratchFolder scratch_{"vorn-lines-"};
};

Lines by_getline(const std::string& content) {
    std::istringstream in(content);
    Lines lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

Lines by_chunks(const std::string& path, std::size_t chunk) {
    FileLines file(path, chunk);
    Lines lines;
    std::string_view line;
    while (file.next(line)) {
        lines.emplace_back(line);
        EXPECT_EQ(file.number(), lines.size());
    }
    EXPECT_EQ(file.error(), 0);
    EXPECT_FALSE(file.next(line));  // the end stays the end
    return lines;
}

TEST_F(FileLinesTest, LinesAsGetlineGivesThemWhereverChunksCut) {
    const std::string long_line(70000, 'x');
    const std::vector<std::string> contents = {"",
                                               "\n",
                                               "\n\n",
                                               "a",
                                               "a\n",
                                               "a\nb",
                                               "a\nb\n",
                                               "\nab\n\n",
                                               "a\r\nb\r\n",
                                               long_line,
                                               long_line + "\n" + long_line,
                                               "a\n" + long_line + "\nb",
                                               std::string("nul\0\n", 5)};
    for (const std::string& content : contents) {
        const std::string path = write(content);
        for (const std::size_t chunk :
             {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, FileLines::kChunk}) {
            EXPECT_EQ(by_chunks(path, chunk), by_getline(content))
                << content.size() << " bytes, chunks of " << chunk;
        }
    }
}

TEST_F(FileLinesTest, FailuresKeepTheirErrno) {
    FileLines missing((scratch_.path() / "missing").string());
    EXPECT_EQ(missing.error(), ENOENT);
    std::string_view line;
    EXPECT_FALSE(missing.next(line));

    // A directory opens; reading it fails.
    FileLines directory(scratch_.path().string());
    EXPECT_EQ(directory.error(), 0);
    EXPECT_FALSE(directory.next(line));
    EXPECT_EQ(directory.error(), EISDIR);
    EXPECT_EQ(directory.number(), 0U);
}

TEST_F(FileLinesTest, ProbeReadsOneByteAtMost) {
    EXPECT_EQ(probe_file(write("")), 0);
    EXPECT_EQ(probe_file(write("anything")), 0);
    EXPECT_EQ(probe_file((scratch_.path() / "missing").string()), ENOENT);
    EXPECT_EQ(probe_file(scratch_.path().string()), EISDIR);
    EXPECT_EQ(probe_file((scratch_.path() / "file" / "below").string()), ENOTDIR);
}

}  // namespace
}  // namespace vorn::typing::text
