// Each function mirrors one routine of cppjieba 5.1.3 or limonp; the comments
// name it, since a difference in the smallest detail would let a file through
// that makes the library abort.

#include "tokenizer/cppjieba_text.h"

#include <algorithm>

namespace vorn::typing::text {
namespace {

bool is_ascii_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

// limonp::Split: pieces are cut at each delimiter while text remains.
std::size_t limonp_split_count(std::string_view text, std::string_view delimiters) {
    if (text.empty()) {
        return 0;
    }
    const std::string_view cut = text.substr(0, text.size() - 1);
    // A dictionary's hundreds of thousands of lines have one delimiter.
    if (delimiters.size() == 1) {
        return 1 + static_cast<std::size_t>(std::count(cut.begin(), cut.end(), delimiters[0]));
    }
    std::size_t count = 1;
    for (const char c : cut) {
        if (delimiters.find(c) != std::string_view::npos) {
            ++count;
        }
    }
    return count;
}

std::vector<std::string> limonp_split(std::string_view text, std::string_view delimiters) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of(delimiters, start);
        if (end == std::string_view::npos) {
            pieces.emplace_back(text.substr(start));
            break;
        }
        pieces.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// limonp::Trim with limonp::IsSpace, which refuses every value above 0xff:
// a byte of 0x80 or more is a negative char, so it is never white space.
std::string_view limonp_trim(std::string_view text) {
    const auto first = std::find_if_not(text.begin(), text.end(), is_ascii_space);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), is_ascii_space).base();
    if (first >= last) {
        return {};
    }
    return text.substr(static_cast<std::size_t>(first - text.begin()),
                       static_cast<std::size_t>(last - first));
}

// cppjieba::DecodeRuneInString: the lead byte alone decides the length, and a
// sequence that doesn't fit in what is left fails; continuation bytes are not
// checked.
bool decodes_as_one_rune(std::string_view text) {
    const std::size_t size = text.size();
    if (size == 0) {
        return false;
    }
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 0;
    if (lead < 0x80) {
        length = 1;
    } else if (lead <= 0xdf && size > 1) {
        length = 2;
    } else if (lead <= 0xef && size > 2) {
        length = 3;
    } else if (lead <= 0xf7 && size > 3) {
        length = 4;
    }
    return length == size;
}

}  // namespace vorn::typing::text
