// Cuts arbitrary bytes with the standard dictionaries, in normal and in search
// mode. Beyond memory and undefined-behaviour faults it checks what callers
// rely on: the words of a cut join back into the sentence (or there are none,
// when the library refuses the bytes), and a search cut holds every word of
// the normal cut, in order.
#include <cppjieba/Jieba.hpp>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Loading the dictionaries takes seconds, so the segmenter is built once for
// the whole run; cutting only reads it.
const cppjieba::Jieba& segmenter() {
    const std::string dir = VORN_DICT_DIR;
    static const cppjieba::Jieba jieba(dir + "/jieba.dict.utf8", dir + "/hmm_model.utf8",
                                       dir + "/user.dict.utf8", dir + "/idf.utf8",
                                       dir + "/stop_words.utf8");
    return jieba;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += word;
    }
    return text;
}

bool is_subsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    std::size_t next = 0;
    for (const std::string& word : whole) {
        if (next < part.size() && word == part[next]) {
            ++next;
        }
    }
    return next == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The library reports bytes it cannot decode on standard error, once per
    // input; sanitizer reports go to the file descriptor directly.
    std::cerr.setstate(std::ios_base::badbit);
    segmenter();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string sentence(reinterpret_cast<const char*>(data), size);
    const cppjieba::Jieba& jieba = segmenter();
    std::vector<std::string> words;
    jieba.Cut(sentence, words, true);
    std::vector<std::string> search_words;
    jieba.CutForSearch(sentence, search_words, true);

    if (!words.empty() && joined(words) != sentence) {
        std::abort();
    }
    for (const std::string& word : words) {
        if (word.empty()) {
            std::abort();
        }
    }
    if (!is_subsequence(words, search_words)) {
        std::abort();
    }
    return 0;
}
