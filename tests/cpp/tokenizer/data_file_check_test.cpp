// The data-file checks read large files a chunk at a time: faults are found
// on the line where they are, also on lines that span two chunks, and the
// standard dictionaries pass.

#include "tokenizer/data_file_check.h"

#include <gtest/gtest.h>

#include <string>

#include "tokenizer/file_lines.h"
#include "tokenizer_files.h"

namespace vorn::typing::text {
namespace {

class DataFileCheck : public ::testing::Test {
  protected:
    std::string write(const std::string& name, const std::string& content) const {
        return scratch_.write(name, content);
    }

  private:
    ScratchFolder scratch_{"vorn-check-"};
};

TEST_F(DataFileCheck, StandardDictionariesPass) {
    EXPECT_FALSE(find_data_file_fault(standard_paths()).has_value());
}

// The line at fault is the one that crosses the third chunk boundary.
TEST_F(DataFileCheck, MainDictionaryFaultsOnTheirLineAcrossChunks) {
    std::string content;
    std::size_t bad_line = 0;
    for (std::size_t line = 1; line <= 100000; ++line) {
        const bool crosses = bad_line == 0 && content.size() + 20 > 3 * FileLines::kChunk;
        if (crosses) {
            bad_line = line;
        }
        content += "word" + std::to_string(line) + (crosses ? " 7 n extra\n" : " 7 n\n");
    }
    JiebaDataPaths paths = standard_paths();
    paths.dict_path = write("dict", content);
    const auto fault = find_data_file_fault(paths);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, DataFileFault::Kind::malformed);
    EXPECT_EQ(fault->line, bad_line);
    EXPECT_NE(fault->reason.find("found 4"), std::string::npos) << fault->reason;
}

// Emission lines of many items are longer than a chunk.
TEST_F(DataFileCheck, LongModelLinesAreReadWhole) {
    std::string emission;
    for (int i = 0; i < 40000; ++i) {
        emission += std::string(i == 0 ? "" : ",") + "\xe4\xb8\xad:-1.5";
    }
    const std::string rows = "-0.26 -3.14e+100 -3.14e+100 -1.46\n";
    std::string model = "# start\n" + rows;
    for (int i = 0; i < 4; ++i) {
        model += rows;
    }
    for (int i = 0; i < 4; ++i) {
        model += emission + "\n";
    }
    JiebaDataPaths paths = standard_paths();
    paths.hmm_path = write("model", model);
    EXPECT_FALSE(find_data_file_fault(paths).has_value());

    paths.hmm_path = write("model", model.substr(0, model.size() - 1) + ",x\n");
    const auto fault = find_data_file_fault(paths);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->line, 10U);
    EXPECT_NE(fault->reason.find("the emission line of S: item 40001"), std::string::npos)
        << fault->reason;
}

}  // namespace
}  // namespace vorn::typing::text
