// Which texts need escaping is asked of every key of a model on dump, a word
// at a time: the answer must be the byte table's for every byte at every
// place in texts of every size, whatever lies past a padded text.

#include "json/escape.h"

#include <gtest/gtest.h>

#include <string>

namespace vorn::typing::text {
namespace {

// The seven escaped bytes, and neighbours that a word-wide test could take
// for them: other control characters, the bytes around the quotation mark
// and the backslash, DEL and bytes of multi-byte characters.
constexpr char kEscaped[] = {'"', '\\', '\b', '\t', '\n', '\f', '\r'};
constexpr char kHarmless[] = {'\0', '\x01', '\x07', '\x0b', '\x0e', '\x1f', '!',    '#',
                              '[',  ']',    '\x7f', '\x80', '\xa2', '\xdc', '\xff', 'a'};

bool padded(const std::string& text, char filler) {
    std::string buffer = text + std::string(kPaddedText, filler);
    return needs_escape_padded(buffer.data(), text.size());
}

TEST(NeedsEscape, EveryByteAtEveryPlaceOfEverySize) {
    for (std::size_t size = 0; size <= 40; ++size) {
        for (const char base : {'a', '\x0b', '\xe4'}) {
            const std::string plain(size, base);
            EXPECT_FALSE(needs_escape(plain)) << size;
            // What lies past a padded text, escaped bytes included, is no
            // part of it.
            for (const char filler : {'"', '\n', '\0', 'x'}) {
                EXPECT_FALSE(padded(plain, filler)) << size;
            }
            for (std::size_t at = 0; at < size; ++at) {
                for (const char byte : kEscaped) {
                    std::string text = plain;
                    text[at] = byte;
                    ASSERT_TRUE(needs_escape(text)) << size << " " << at << " " << int{byte};
                    ASSERT_TRUE(padded(text, 'x')) << size << " " << at << " " << int{byte};
                }
                for (const char byte : kHarmless) {
                    std::string text = plain;
                    text[at] = byte;
                    ASSERT_FALSE(needs_escape(text)) << size << " " << at << " " << int{byte};
                    ASSERT_FALSE(padded(text, '\\')) << size << " " << at << " " << int{byte};
                }
            }
        }
    }
}

TEST(NeedsEscape, AgreesWithEscapeString) {
    std::string text;
    for (int byte = 0; byte < 256; ++byte) {
        text.assign(1, static_cast<char>(byte));
        EXPECT_EQ(needs_escape(text), escape_string(text) != text) << byte;
    }
}

}  // namespace
}  // namespace vorn::typing::text
