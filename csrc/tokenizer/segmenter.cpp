#include "tokenizer/segmenter.h"

#include <clocale>  // with glibc also newlocale and uselocale (POSIX)
#include <cppjieba/Jieba.hpp>
#include <new>
#include <utility>

namespace vorn::typing::text {
namespace {

// cppjieba reads the model's probabilities and the IDF values with atof and
// trims model lines with isspace, and both follow the thread's locale: after
// setlocale to a decimal-comma locale "-3.14" reads as -3 and the segmenter
// cuts differently. The library loads under the "C" locale of this thread
// alone, so the host process keeps its locale everywhere else.
class ClassicLocaleScope {
  public:
    ClassicLocaleScope() : c_locale_(::newlocale(LC_ALL_MASK, "C", locale_t{})) {
        if (c_locale_ == locale_t{}) {
            throw std::bad_alloc();
        }
        previous_ = ::uselocale(c_locale_);
    }
    ClassicLocaleScope(const ClassicLocaleScope&) = delete;
    ClassicLocaleScope& operator=(const ClassicLocaleScope&) = delete;
    ~ClassicLocaleScope() {
        ::uselocale(previous_);
        ::freelocale(c_locale_);
    }

  private:
    locale_t c_locale_;
    locale_t previous_{};
};

void refuse_embedded_nul(const std::string& path, const char* argument) {
    if (path.find('\0') != std::string::npos) {
        throw std::invalid_argument(std::string(argument) + ": embedded null byte");
    }
}

std::string describe(const DataFileFault& fault) {
    if (fault.kind == DataFileFault::Kind::unreadable) {
        return fault.path + ": cannot be read";
    }
    if (fault.line == 0) {
        return fault.path + ": " + fault.reason;
    }
    return fault.path + ", line " + std::to_string(fault.line) + ": " + fault.reason;
}

}  // namespace

DataFileError::DataFileError(DataFileFault fault)
    : std::runtime_error(describe(fault)), fault_(std::move(fault)) {}

std::shared_ptr<cppjieba::Jieba> make_segmenter(const JiebaDataPaths& paths) {
    refuse_embedded_nul(paths.dict_path, "dict_path");
    refuse_embedded_nul(paths.hmm_path, "hmm_path");
    refuse_embedded_nul(paths.user_dict_path, "user_dict_path");
    refuse_embedded_nul(paths.idf_path, "idf_path");
    refuse_embedded_nul(paths.stop_word_path, "stop_word_path");
    if (auto fault = find_data_file_fault(paths)) {
        throw DataFileError(std::move(*fault));
    }
    const ClassicLocaleScope classic;
    return std::make_shared<cppjieba::Jieba>(paths.dict_path, paths.hmm_path, paths.user_dict_path,
                                             paths.idf_path, paths.stop_word_path);
}

std::vector<std::string> cut(const cppjieba::Jieba& jieba, const std::string& sentence) {
    std::vector<std::string> words;
    jieba.Cut(sentence, words, true);
    return words;
}

std::vector<std::string> cut_for_search(const cppjieba::Jieba& jieba, const std::string& sentence) {
    std::vector<std::string> words;
    jieba.CutForSearch(sentence, words, true);
    return words;
}

}  // namespace vorn::typing::text
