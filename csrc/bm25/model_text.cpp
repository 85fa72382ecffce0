#include "bm25/model_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "bm25/token_key.h"
#include "bm25/token_order.h"
#include "json/escape.h"

namespace vorn::typing::text {

namespace {

constexpr std::string_view kAnchor = "\"_doc_token_frequency\" : {\n";
constexpr std::string_view kMemberIndent = "    ";
constexpr std::string_view kMemberSeparator = ",\n";
constexpr std::string_view kKeySeparator = "\" : ";
constexpr std::size_t kMaxCountLength = 11;  // "-2147483648"

struct Member {
    OrderedText key;
    std::int32_t count;
};

// Keys in the order of std::string's comparison, which is the order of the
// serializer's object.
void sort_members(std::vector<Member>& members) {
    std::sort(members.begin(), members.end(),
              [](const Member& left, const Member& right) { return left.key < right.key; });
}

}  // namespace

std::string with_token_members(const std::string& document, const TokenTable& table) {
    const std::size_t anchor = document.find(kAnchor);
    if (anchor == std::string::npos) {
        throw std::logic_error("model document has no token object");
    }
    const std::size_t insert_at = anchor + kAnchor.size();

    // Escaped keys are rare; they live here so that the views stay valid.
    std::deque<std::string> escaped;
    std::vector<Member> members;
    members.reserve(table.size());
    std::size_t text_size = document.size();
    for (const auto& entry : table) {
        std::string_view key = entry.token();
        if (needs_escape(key)) {
            key = escaped.emplace_back(key_of_token(key));
        }
        members.push_back({{order_prefix(key), key}, entry.count});
        text_size += kMemberIndent.size() + 1 + key.size() + kKeySeparator.size() +
                     kMaxCountLength + kMemberSeparator.size();
    }
    sort_members(members);

    // Written through a cursor into text sized for the longest counts, then
    // cut to length: appending piece by piece costs a call per piece.
    std::string text(text_size, '\0');
    char* cursor = text.data();
    const auto put = [&cursor](std::string_view piece) {
        cursor = std::copy(piece.begin(), piece.end(), cursor);
    };
    put(std::string_view(document).substr(0, insert_at));
    std::string_view separator;
    for (const Member& member : members) {
        put(separator);
        put(kMemberIndent);
        *cursor++ = '"';
        put(member.key.text);
        put(kKeySeparator);
        cursor = std::to_chars(cursor, cursor + kMaxCountLength, member.count).ptr;
        separator = kMemberSeparator;
    }
    put(std::string_view(document).substr(insert_at));
    text.resize(static_cast<std::size_t>(cursor - text.data()));
    return text;
}

}  // namespace vorn::typing::text
