#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "bm25/bm25.h"
#include "bm25/token_key.h"
#include "test_access.h"

namespace vorn::typing::text {
namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class ModelFile : public ::testing::Test {
  protected:
    void SetUp() override {
        directory_ = fs::temp_directory_path() /
                     ("vorn-model-file-" + std::to_string(::getpid()) + "-" +
                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    std::string dumped(const BM25& model) {
        const auto path = directory_ / "model.json";
        model.dump(path.string());
        return read_file(path);
    }

    // Runs load and returns its message, or "" when it succeeded.
    static std::string load_error(BM25& model, const std::string& text) {
        testing::internal::CaptureStderr();
        std::string message;
        try {
            model.load(text);
        } catch (const std::runtime_error& error) {
            message = error.what();
        }
        testing::internal::GetCapturedStderr();
        return message;
    }

    fs::path directory_;
};

TEST_F(ModelFile, LayoutOfATrainedModel) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a", "b", "a"});
    EXPECT_EQ(dumped(model),
              "{\n"
              "  \"_b\" : 0.750000,\n"
              "  \"_doc_count\" : 1,\n"
              "  \"_doc_length_average\" : 3.000000,\n"
              "  \"_doc_token_frequency\" : {\n"
              "    \"a\" : 2,\n"
              "    \"b\" : 1\n"
              "  },\n"
              "  \"_k1\" : 1.200000\n"
              "}");
}

TEST_F(ModelFile, LayoutOfAnUntrainedModelAndKeyOrder) {
    EXPECT_EQ(dumped(BM25(0.5, 2.0)),
              "{\n  \"_b\" : 0.500000,\n  \"_doc_count\" : 0,\n"
              "  \"_doc_length_average\" : 0.000000,\n  \"_doc_token_frequency\" : {\n\n  },\n"
              "  \"_k1\" : 2.000000\n}");
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"ab", "a", "B", "\xe4\xb8\xad"});
    const std::string text = dumped(model);
    EXPECT_LT(text.find("\"B\""), text.find("\"a\""));
    EXPECT_LT(text.find("\"a\""), text.find("\"ab\""));
    EXPECT_LT(text.find("\"ab\""), text.find("\"\xe4\xb8\xad\""));
}

TEST_F(ModelFile, RoundTripKeepsEveryTokenAndDumpsIdenticalBytes) {
    BM25 model(0.3, 1.7);
    const StringTokens tricky{"q\"uote",
                              "back\\slash",
                              "\b\f\n\r\t",
                              "",
                              "\\u0041",
                              "\xff\xfe",
                              std::string("nul\0byte", 8),
                              "\\n",
                              "/"};
    model.train(tricky);
    model.train(IdTokens{-9, 42});
    const std::string first = dumped(model);

    BM25 loaded(0.0, 0.0);
    loaded.load(first);
    EXPECT_EQ(table_of(loaded), table_of(model));
    EXPECT_EQ(loaded.doc_count(), 2);
    EXPECT_EQ(loaded.b(), 0.3);
    EXPECT_EQ(loaded.k1(), 1.7);
    EXPECT_EQ(loaded.doc_length_average(), 5.5);
    EXPECT_EQ(dumped(loaded), first);
}

TEST_F(ModelFile, TrainingAfterLoadContinuesTheLoadedAverage) {
    BM25 model(0.75, 1.2);
    model.load(R"({"_doc_count": 3, "_doc_length_average": 3.333333, "_b": 0.75, "_k1": 1.2})");
    EXPECT_EQ(model.doc_length_total(), 10);
    model.train(StringTokens{"a", "b"});
    EXPECT_EQ(model.doc_length_average(), 12.0 / 4.0);
}

TEST(TokenKey, UnescapesOnlyTheSevenEscapes) {
    EXPECT_EQ(token_of_key("a\\\"b\\\\c\\b\\f\\n\\r\\t"), "a\"b\\c\b\f\n\r\t");
    EXPECT_EQ(token_of_key("\\u0041\\/\\x\\"), "\\u0041\\/\\x\\");
}

TEST_F(ModelFile, FailureRowsLeaveTheStatedState) {
    BM25 model(0.5, 2.0);
    EXPECT_EQ(load_error(model, ""), "json data should not be empty");
    for (const char* text : {"[1, 2]", "42 ", "   ", "oops"}) {
        EXPECT_EQ(load_error(model, text), "load doc_count failed") << text;
        EXPECT_EQ(model.doc_count(), 0);
    }
    EXPECT_EQ(model.b(), 0.5);

    EXPECT_EQ(load_error(model, R"({"_doc_token_frequency": {"x": 1, "y": 1.5, "z": 3}})"),
              "load doc_token_frequency failed");
    EXPECT_EQ(table_of(model), (Table{{"x", 1}, {"y", 0}}));

    EXPECT_EQ(load_error(model, R"({"_doc_count": 3, "_doc_length_average": 2})"),
              "load doc_length_average failed");
    EXPECT_EQ(model.doc_count(), 3);
    EXPECT_EQ(model.doc_length_average(), 0.0);

    EXPECT_EQ(load_error(model, R"({"_doc_count": 4, "_doc_length_average": 2.5, "_b": 1})"),
              "load b failed");
    EXPECT_EQ(model.doc_length_average(), 2.5);
    EXPECT_EQ(model.b(), 0.0);
    EXPECT_EQ(model.k1(), 2.0);

    EXPECT_EQ(load_error(model, R"({"_doc_count": 4, "_doc_length_average": 2.5, "_b": 1.0})"),
              "load k1 failed");
    EXPECT_EQ(model.b(), 1.0);
    EXPECT_EQ(model.k1(), 0.0);
}

// Other JSON writers spell every character beyond ASCII as a "\u" escape;
// load reads the character, whichever way it reads the text, and a key
// holding half a surrogate pair changes nothing.
TEST_F(ModelFile, TokenKeysReadUnicodeEscapes) {
    const std::string tokens =
        R"("_doc_token_frequency": {"\u676d\u5dde": 3, "\uD83D\uDE00": 2, "\\u0041": 1, "x\u0022": 4})";
    const Table expected{
        {"\xE6\x9D\xAD\xE5\xB7\x9E", 3}, {"\xF0\x9F\x98\x80", 2}, {"\\u0041", 1}, {"x\"", 4}};
    for (const std::string& extra : {std::string(), std::string(R"("note": "tree", )")}) {
        BM25 model(0.75, 1.2);
        EXPECT_EQ(load_error(model, "{" + extra + R"("_b": 0.5, "_doc_count": 2, )" + tokens +
                                        R"(, "_doc_length_average": 1.5, "_k1": 1.1})"),
                  "");
        EXPECT_EQ(table_of(model), expected);
        EXPECT_EQ(model.b(), 0.5);
    }
    for (const std::string& extra : {std::string(), std::string(R"("note": "tree", )")}) {
        BM25 model(0.75, 1.2);
        model.train(StringTokens{"kept"});
        EXPECT_EQ(
            load_error(
                model,
                "{" + extra + R"("_doc_count": 9, "_doc_token_frequency": {"a": 1, "\udE00": 2}})"),
            "load failed: lone surrogate escape \\udE00 in a token key; the model is "
            "unchanged");
        EXPECT_EQ(table_of(model), (Table{{"kept", 1}}));
        EXPECT_EQ(model.doc_count(), 1);
    }
}

TEST_F(ModelFile, LoadMergesTablesAndIgnoresTrailingText) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"kept", "both"});
    EXPECT_EQ(load_error(model, R"({"_b": 0.1, "_doc_count": 7, "_doc_length_average": 1.5,
        "_doc_token_frequency": {"both": 9, "new": 2}, "_k1": 0.9} {"_doc_count": 1})"),
              "");
    EXPECT_EQ(table_of(model), (Table{{"kept", 1}, {"both", 9}, {"new", 2}}));
    EXPECT_EQ(model.doc_count(), 7);

    for (const char* table : {"3", "[1]", "\"s\""}) {
        BM25 other(0.75, 1.2);
        const std::string text = std::string(R"({"_b": 0.1, "_doc_count": 7, )") +
                                 R"("_doc_length_average": 1.5, "_k1": 0.9, )" +
                                 "\"_doc_token_frequency\": " + table + "}";
        EXPECT_EQ(load_error(other, text), "") << table;
        EXPECT_TRUE(table_of(other).empty());
        EXPECT_EQ(other.k1(), 0.9);
    }
}

TEST_F(ModelFile, NumberConversionFailuresLeaveTheModelUnchanged) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a"});
    EXPECT_THROW(model.load(R"({"_doc_token_frequency": {"a": 5}, "_doc_count": 2147483648})"),
                 std::out_of_range);
    EXPECT_THROW(model.load(R"({"_doc_token_frequency": {"a": 5}, "_b": 1e})"),
                 std::invalid_argument);
    EXPECT_EQ(table_of(model), (Table{{"a", 1}}));
    EXPECT_EQ(model.doc_count(), 1);
}

TEST_F(ModelFile, FailedDumpKeepsTheEarlierFile) {
    BM25 model(0.75, 1.2);
    model.train(StringTokens{"a"});
    const auto path = directory_ / "model.json";
    std::ofstream(path) << "precious";
    try {
        model.dump((directory_ / "missing" / "model.json").string());
        FAIL() << "expected an exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Failed to dump: Unable to open file");
    }
    EXPECT_THROW(model.dump(directory_.string()), std::runtime_error);
    if (fs::exists("/dev/full")) {
        try {
            model.dump("/dev/full");
            FAIL() << "expected an exception";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()).rfind("Failed to dump: ", 0), 0u);
        }
    }
    EXPECT_THROW(model.dump(std::string("model\0.json", 11)), std::invalid_argument);
    EXPECT_EQ(read_file(path), "precious");
    // Nothing but the earlier file is left in the directory.
    EXPECT_EQ(std::distance(fs::directory_iterator(directory_), fs::directory_iterator()), 1);

    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    model.dump(path.string());
    EXPECT_EQ(read_file(path).substr(0, 1), "{");
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ModelFile, NonFiniteFieldsAreRefusedBeforeAnythingIsWritten) {
    const auto path = directory_ / "model.json";
    std::ofstream(path) << "earlier";
    BM25 model(0.75, std::numeric_limits<double>::infinity());
    EXPECT_THROW(model.dump(path.string()), std::invalid_argument);
    model.k1(1.2);
    model.b(std::nan(""));
    EXPECT_THROW(model.dump(path.string()), std::invalid_argument);
    EXPECT_EQ(read_file(path), "earlier");
}

TEST_F(ModelFile, DumpThroughASymlinkReplacesItsTarget) {
    BM25 model(0.75, 1.2);
    const auto target = directory_ / "real.json";
    const auto link = directory_ / "link.json";
    std::ofstream(target) << "old";
    fs::create_symlink(target, link);
    model.dump(link.string());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file(target).substr(0, 1), "{");
}

}  // namespace
}  // namespace vorn::typing::text
