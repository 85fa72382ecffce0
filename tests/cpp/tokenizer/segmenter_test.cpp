// The segmenter facade without Python: construction faults as exceptions, the
// cuts, and loading that ignores the host's locale.

#include "tokenizer/segmenter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cppjieba/Jieba.hpp>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tokenizer_files.h"

namespace vorn::typing::text {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

// The segmenter of the standard dictionaries, loaded once for the suite.
const cppjieba::Jieba& standard() {
    static const auto jieba = make_segmenter(standard_paths());
    return *jieba;
}

DataFileFault fault_of(const JiebaDataPaths& paths) {
    try {
        make_segmenter(paths);
    } catch (const DataFileError& error) {
        return error.fault();
    }
    ADD_FAILURE() << "no DataFileError";
    return {};
}

TEST(Segmenter, FaultsOfTheDataFilesAreExceptionsNamingTheFile) {
    JiebaDataPaths paths = standard_paths();
    paths.idf_path = "/nonexistent/idf.utf8";
    const DataFileFault missing = fault_of(paths);
    EXPECT_EQ(missing.kind, DataFileFault::Kind::unreadable);
    EXPECT_EQ(missing.error_number, ENOENT);
    EXPECT_EQ(missing.path, "/nonexistent/idf.utf8");

    const fs::path bad_dict =
        fs::temp_directory_path() / ("vorn-dict-" + std::to_string(::getpid()));
    std::ofstream(bad_dict) << "word 3 n\nonly-two 5\n";
    paths = standard_paths();
    paths.dict_path = bad_dict;
    const DataFileFault malformed = fault_of(paths);
    fs::remove(bad_dict);
    EXPECT_EQ(malformed.kind, DataFileFault::Kind::malformed);
    EXPECT_EQ(malformed.line, 2U);

    paths = standard_paths();
    paths.hmm_path += std::string(1, '\0') + "more";
    EXPECT_THROW(
        {
            try {
                make_segmenter(paths);
            } catch (const std::invalid_argument& error) {
                EXPECT_STREQ(error.what(), "hmm_path: embedded null byte");
                throw;
            }
        },
        std::invalid_argument);
}

TEST(Segmenter, CutsJoinBackAndSearchCutsAddDictionaryParts) {
    EXPECT_EQ(cut(standard(), "他来到了网易杭研大厦"),
              (Words{"他", "来到", "了", "网易", "杭研", "大厦"}));
    EXPECT_EQ(cut_for_search(standard(), "中国科学院"),
              (Words{"中国", "科学", "学院", "科学院", "中国科学院"}));
    EXPECT_EQ(cut(standard(), ""), Words{});
}

// cppjieba reads its model with atof: loaded under a decimal-comma locale it
// once cut "这对您的" as 这对 / 您 / 的.
TEST(Segmenter, LoadsAlikeUnderADecimalCommaLocaleAndKeepsThatLocale) {
    if (std::getenv("LOCPATH") == nullptr) {
        GTEST_SKIP() << "needs LOCPATH with de_DE.UTF-8, as CTest provides";
    }
    const Words expected = cut(standard(), "这对您的");
    ASSERT_EQ(expected, (Words{"这", "对", "您", "的"}));
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "de_DE.UTF-8 missing";
    const auto loaded_under_comma = make_segmenter(standard_paths());
    const std::string decimal_point = std::localeconv()->decimal_point;
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(decimal_point, ",");
    EXPECT_EQ(cut(*loaded_under_comma, "这对您的"), expected);
    EXPECT_EQ(cut(*loaded_under_comma, "很有可能与"), cut(standard(), "很有可能与"));
}

}  // namespace
}  // namespace vorn::typing::text
