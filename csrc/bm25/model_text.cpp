#include "bm25/model_text.h"

#include <algorithm>

#include "bm25/model_members.h"
#include "bm25/token_key.h"
#include "bm25/token_order.h"
#include "json/escape.h"
#include "json/object_writer.h"

namespace vorn::typing::text {

namespace {

constexpr std::string_view kIndent = "  ";
// Room for the lines around the tokens: five keys, and three floats of up
// to 317 characters each ("%f" of the largest double).
constexpr std::size_t kFrameRoom = 2048;
// A token's line beyond its key: indentation, quotes, separators, count.
constexpr std::size_t kLineRoom = 32;
// How many members ahead the writer asks for the memory it will read.
constexpr std::size_t kAhead = 8;
// Members are grouped by the first two bytes of their keys.
constexpr std::size_t kGroups = std::size_t{1} << 16;

std::size_t group_of(std::uint64_t prefix) { return static_cast<std::size_t>(prefix >> 48U); }

}  // namespace

ModelText::ModelText(const ModelStatistics& statistics, const TokenTable& table)
    : statistics_(statistics), table_(table) {
    // Members are placed by the first two bytes of their keys, then each
    // group is sorted on its own: one pass less over memory than a full sort
    // and most of its comparisons spared. Only the rare keys with escapes
    // are kept apart, in table order, so that the second pass finds them.
    std::vector<std::uint32_t> starts(kGroups + 1, 0);
    std::size_t longest = 0;
    for (const TokenTable::Entry item : table) {
        std::string_view key = item.token();
        if (needs_escape(key)) {
            const EscapedKey& escaped =
                escaped_.emplace_back(EscapedKey{key_of_token(key), item.handle});
            key = escaped.key;
        }
        longest = std::max(longest, key.size());
        ++starts[group_of(order_prefix(key)) + 1];
    }
    for (std::size_t group = 0; group < kGroups; ++group) {
        starts[group + 1] += starts[group];
    }
    order_.resize(table.size());
    std::uint64_t escaped = 0;
    for (const TokenTable::Entry item : table) {
        std::string_view key = item.token();
        std::uint64_t member = item.handle;
        if (needs_escape(key)) {
            key = escaped_[escaped].key;
            member = kEscaped | escaped++;
        }
        const std::uint64_t prefix = order_prefix(key);
        order_[starts[group_of(prefix)]++] = {prefix, member};
    }
    // std::string's order, which is the order of the object's keys. After
    // the placement each group ends where the next one started.
    const auto before = [this](const Ordered& left, const Ordered& right) {
        if (left.prefix != right.prefix) {
            return left.prefix < right.prefix;
        }
        return OrderedText{left.prefix, key_of(left)} < OrderedText{right.prefix, key_of(right)};
    };
    std::uint32_t group_start = 0;
    for (std::size_t group = 0; group < kGroups; ++group) {
        std::sort(order_.begin() + group_start, order_.begin() + starts[group], before);
        group_start = starts[group];
    }
    buffer_.reserve(kPieceSize + longest + kLineRoom + kFrameRoom);
}

std::string_view ModelText::key_of(const Ordered& member) const {
    if ((member.member & kEscaped) != 0) {
        return escaped_[member.member & ~kEscaped].key;
    }
    return table_.token_at(member.member);
}

TokenTable::Handle ModelText::handle_of(const Ordered& member) const {
    if ((member.member & kEscaped) != 0) {
        return escaped_[member.member & ~kEscaped].handle;
    }
    return member.member;
}

void ModelText::write(const ContentSink& sink) const {
    std::string& out = buffer_;
    out.clear();
    ObjectWriter root(out, 1, kIndent);
    root.key(kMemberB);
    write_float(out, statistics_.b);
    root.key(kMemberDocCount);
    write_integer(out, statistics_.doc_count);
    root.key(kMemberAverage);
    write_float(out, statistics_.doc_length_average);
    root.key(kMemberTokens);
    {
        ObjectWriter tokens(out, 2, kIndent);
        const std::size_t size = order_.size();
        for (std::size_t i = 0; i < size; ++i) {
            // Key order is not the table's order: ask for the records ahead.
            if (i + kAhead < size) {
                table_.prefetch_at(handle_of(order_[i + kAhead]));
            }
            const Ordered& member = order_[i];
            tokens.key(key_of(member));
            write_integer(out, table_.count_at(handle_of(member)));
            if (out.size() >= kPieceSize) {
                sink(out);
                out.clear();
            }
        }
        tokens.close();
    }
    root.key(kMemberK1);
    write_float(out, statistics_.k1);
    root.close();
    sink(out);
    out.clear();
}

std::string ModelText::str() const {
    std::string text;
    write([&text](std::string_view piece) { text += piece; });
    return text;
}

}  // namespace vorn::typing::text
