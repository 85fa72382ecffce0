#pragma once
// cppjieba's segmenter, built from its five data files without ever letting
// the library abort the process, and its two cuts (HMM step on).

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tokenizer/data_file_check.h"

namespace cppjieba {
class Jieba;
}

namespace vorn::typing::text {

// A data file that the library would have aborted on; the fault says which
// file and why, so that the caller can raise its own kind of error.
class DataFileError : public std::runtime_error {
  public:
    explicit DataFileError(DataFileFault fault);
    const DataFileFault& fault() const noexcept { return fault_; }

  private:
    DataFileFault fault_;
};

// Throws std::invalid_argument "<argument>: embedded null byte" for a path
// holding a NUL (the library would open a shorter path), then DataFileError
// for the first fault in the order the library loads the files.
std::shared_ptr<cppjieba::Jieba> make_segmenter(const JiebaDataPaths& paths);

std::vector<std::string> cut(const cppjieba::Jieba& jieba, const std::string& sentence);
std::vector<std::string> cut_for_search(const cppjieba::Jieba& jieba, const std::string& sentence);

}  // namespace vorn::typing::text
