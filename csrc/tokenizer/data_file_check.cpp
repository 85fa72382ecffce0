// The checks follow DictTrie, HMMModel and KeywordExtractor of cppjieba 5.1.3
// line by line. What the library only asserts (positive frequencies, a
// non-empty IDF table or stop-word list) is not checked: the library is built
// with NDEBUG, and none of it can crash a cut.

#include "tokenizer/data_file_check.h"

#include <array>
#include <string_view>

#include "tokenizer/cppjieba_text.h"
#include "tokenizer/file_lines.h"

namespace vorn::typing::text {
namespace {

constexpr std::size_t kDictFields = 3;   // word, frequency, tag
constexpr std::size_t kModelStates = 4;  // B, E, M, S

DataFileFault unreadable(const std::string& path, int error_number) {
    DataFileFault fault;
    fault.kind = DataFileFault::Kind::unreadable;
    fault.path = path;
    fault.error_number = error_number;
    return fault;
}

DataFileFault malformed(const std::string& path, std::size_t line, std::string reason) {
    DataFileFault fault;
    fault.kind = DataFileFault::Kind::malformed;
    fault.path = path;
    fault.line = line;
    fault.reason = std::move(reason);
    return fault;
}

std::optional<DataFileFault> check_readable(const std::string& path) {
    if (const int error_number = probe_file(path); error_number != 0) {
        return unreadable(path, error_number);
    }
    return std::nullopt;
}

// DictTrie::LoadDict demands three blank-separated fields on every line, and
// SetStaticWordWeights at least one entry.
std::optional<DataFileFault> check_main_dict(const std::string& path) {
    FileLines lines(path);
    std::string_view line;
    while (lines.next(line)) {
        const std::size_t fields = limonp_split_count(line, " ");
        if (fields != kDictFields) {
            return malformed(path, lines.number(),
                             "a dictionary entry needs 3 fields separated by single blanks "
                             "(word, frequency, tag), found " +
                                 std::to_string(fields));
        }
    }
    if (lines.error() != 0) {
        return unreadable(path, lines.error());
    }
    if (lines.number() == 0) {
        return malformed(path, 0, "the main dictionary has no entries");
    }
    return std::nullopt;
}

// DictTrie::LoadUserDict opens every piece of the list; the content of a user
// dictionary cannot make it abort.
std::optional<DataFileFault> check_user_dicts(const std::string& paths) {
    if (paths.empty()) {
        return std::nullopt;
    }
    for (const std::string& path : limonp_split(paths, "|;")) {
        if (const int error_number = probe_file(path); error_number != 0) {
            return unreadable(path, error_number);
        }
    }
    return std::nullopt;
}

// HMMModel::GetLine: the next line that is neither blank nor a "#" comment
// once trimmed.
bool next_model_line(FileLines& lines, std::string_view& line) {
    while (lines.next(line)) {
        line = limonp_trim(line);
        if (!line.empty() && line.front() != '#') {
            return true;
        }
    }
    return false;
}

// HMMModel::LoadEmitProb: comma-separated items, each one character and a
// value separated by ':'. Returns what is wrong, or "" when nothing is.
std::string emission_fault(std::string_view line) {
    std::size_t start = 0;
    for (std::size_t item = 1; start < line.size(); ++item) {
        std::size_t end = line.find(',', start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        const std::string_view piece = line.substr(start, end - start);
        if (limonp_split_count(piece, ":") != 2 ||
            !decodes_as_one_rune(piece.substr(0, piece.find(':')))) {
            return "item " + std::to_string(item) +
                   " is not one character and a value separated by ':'";
        }
        start = end + 1;
    }
    return {};
}

// HMMModel::LoadModel: a line of start values, a transition row per state,
// then an emission line per state.
std::optional<DataFileFault> check_hmm_model(const std::string& path) {
    static constexpr std::array<const char*, 9> kParts = {
        "the start probabilities", "the transition row of B", "the transition row of E",
        "the transition row of M", "the transition row of S", "the emission line of B",
        "the emission line of E",  "the emission line of M",  "the emission line of S"};

    FileLines lines(path);
    std::string_view line;
    for (std::size_t part = 0; part < kParts.size(); ++part) {
        if (!next_model_line(lines, line)) {
            if (lines.error() != 0) {
                return unreadable(path, lines.error());
            }
            return malformed(path, lines.number(),
                             std::string("the model ends before ") + kParts.at(part));
        }
        if (part <= kModelStates) {
            const std::size_t values = limonp_split_count(line, " ");
            if (values != kModelStates) {
                return malformed(path, lines.number(),
                                 std::string(kParts.at(part)) +
                                     ": expected 4 values separated by single blanks, found " +
                                     std::to_string(values));
            }
        } else if (std::string fault = emission_fault(line); !fault.empty()) {
            return malformed(path, lines.number(), std::string(kParts.at(part)) + ": " + fault);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<DataFileFault> find_data_file_fault(const JiebaDataPaths& paths) {
    if (auto fault = check_main_dict(paths.dict_path)) {
        return fault;
    }
    if (auto fault = check_user_dicts(paths.user_dict_path)) {
        return fault;
    }
    if (auto fault = check_hmm_model(paths.hmm_path)) {
        return fault;
    }
    if (auto fault = check_readable(paths.idf_path)) {
        return fault;
    }
    return check_readable(paths.stop_word_path);
}

}  // namespace vorn::typing::text
