#pragma once
// Finds, before cppjieba is handed its five data files, each fault that would
// make the library write a FATAL line and abort the whole process while
// loading them, so that the caller can report it instead.

#include <cstddef>
#include <optional>
#include <string>

namespace vorn::typing::text {

// The five paths in the order cppjieba::Jieba takes them.
struct JiebaDataPaths {
    std::string dict_path;
    std::string hmm_path;
    std::string user_dict_path;  // "" for none, or several joined by '|' or ';'
    std::string idf_path;
    std::string stop_word_path;
};

struct DataFileFault {
    enum class Kind { unreadable, malformed };

    Kind kind = Kind::unreadable;
    std::string path;
    int error_number = 0;  // unreadable: errno of the failed open or read
    std::size_t line = 0;  // malformed: 1-based line at fault; 0 for the file as a whole
    std::string reason;    // malformed: what is wrong there
};

// The first fault in the order the library loads the files (main dictionary,
// user dictionaries, model, IDF table, stop words), or nothing. Reads the main
// dictionary and the model once each; of the other files only the first byte.
std::optional<DataFileFault> find_data_file_fault(const JiebaDataPaths& paths);

}  // namespace vorn::typing::text
