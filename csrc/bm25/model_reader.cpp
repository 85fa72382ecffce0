#include "bm25/model_reader.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "bm25/model_members.h"
#include "json/strict_reader.h"
#include "token_table/token_counts.h"
#include "token_table/token_table_filler.h"

namespace vorn::typing::text {

namespace {

// Checks the token object whose opening brace the reader is at and counts
// its members; every value must be an Integer.
template <typename Reader>
bool count_tokens(Reader& reader, std::size_t& members) {
    members = 0;
    reader.decode_unicode_in_keys(UnicodeEscapes::decode);
    const bool read = reader.read_object([&reader, &members] {
        std::int32_t count = 0;
        members += 1;
        return reader.read_integer(count);
    });
    reader.decode_unicode_in_keys(UnicodeEscapes::keep);
    return read;
}

JsonValue* scalar_named(std::string_view key, ModelScan& scan) {
    if (key == kMemberDocCount) {
        return &scan.doc_count;
    }
    if (key == kMemberAverage) {
        return &scan.doc_length_average;
    }
    if (key == kMemberB) {
        return &scan.b;
    }
    if (key == kMemberK1) {
        return &scan.k1;
    }
    return nullptr;
}

// Tokens wait here between hashing and insertion, so that the table slots
// of the next few are on their way from memory while one is stored.
class InsertQueue {
  public:
    // Keys that are views of `text` stay views; all others are copied.
    InsertQueue(std::string_view text, TokenTable& table, std::int32_t& bound)
        : text_(text), table_(table), bound_(bound) {}

    void push(std::string_view token, std::int32_t count) {
        Pending& slot = pending_[next_ % kDepth];
        if (next_ >= kDepth) {
            insert(slot);
        }
        // A key with escapes lives in the reader's buffer, which the next
        // such key overwrites.
        if (token.data() < text_.data() || token.data() >= text_.data() + text_.size()) {
            slot.own.assign(token);
            token = slot.own;
        }
        slot.token = token;
        slot.hash = hash_token(token);
        slot.count = count;
        table_.prefetch(slot.hash);
        ++next_;
    }

    void drain() {
        for (std::size_t i = next_ >= kDepth ? next_ - kDepth : 0; i < next_; ++i) {
            insert(pending_[i % kDepth]);
        }
        next_ = 0;
    }

  private:
    static constexpr std::size_t kDepth = 16;

    struct Pending {
        std::string_view token;
        std::uint64_t hash = 0;
        std::int32_t count = 0;
        std::string own;
    };

    void insert(const Pending& pending) {
        table_.at_or_insert(pending.token, pending.hash) = pending.count;
        bound_ = std::max(bound_, pending.count);
    }

    std::string_view text_;
    TokenTable& table_;
    std::int32_t& bound_;
    std::array<Pending, kDepth> pending_{};
    std::size_t next_ = 0;
};

template <typename Text>
bool scan_text(const Text& text, ModelScan& scan) {
    BasicStrictReader<Text> reader(text);
    // What follows the object is not read.
    return reader.read_object([&reader, &scan] {
        if (reader.key() == kMemberTokens && reader.peek() == '{') {
            scan.has_tokens = true;
            scan.tokens_at = reader.position();
            return count_tokens(reader, scan.token_members);
        }
        // A number in place of the token object leaves the table alone.
        if (reader.key() == kMemberTokens) {
            scan.has_tokens = false;
        }
        JsonValue* const scalar = scalar_named(reader.key(), scan);
        JsonValue value;
        if (!reader.read_number(value)) {
            return false;
        }
        if (scalar != nullptr) {
            *scalar = std::move(value);
        }
        return true;
    });
}

// Calls `visit` with each member of the token object in the text's order;
// stops early when `visit` returns false.
template <typename Text, typename Visit>
bool for_each_token(const Text& text, const ModelScan& scan, Visit visit) {
    using Reader = BasicStrictReader<Text>;
    Reader reader(text, scan.tokens_at);
    reader.decode_unicode_in_keys(UnicodeEscapes::decode);
    // The scan read this very text without giving up, so neither can this.
    if (!reader.enter_object()) {
        throw std::logic_error("model text changed between its two readings");
    }
    while (true) {
        const typename Reader::Next next = reader.next_member();
        if (next == Reader::Next::end) {
            return true;
        }
        std::int32_t count = 0;
        if (next == Reader::Next::give_up || !reader.read_integer(count)) {
            throw std::logic_error("model text changed between its two readings");
        }
        if (!visit(reader.key(), count)) {
            return false;
        }
    }
}

// An empty table, which is what a service loads into when it starts, takes
// the tokens without looking any of them up; false when a token is repeated.
template <typename Text>
bool fill_empty_table(const Text& text, const ModelScan& scan, TokenTable& table,
                      std::int32_t& bound) {
    TokenTableFiller filler(table, scan.token_members);
    return for_each_token(text, scan,
                          [&filler, &bound](std::string_view token, std::int32_t count) {
                              bound = std::max(bound, count);
                              return filler.add(token, hash_token(token), count);
                          }) &&
           filler.finish();
}

template <typename Text>
void read_tokens(const Text& text, const ModelScan& scan, TokenTable& table, std::int32_t& bound) {
    // A repeated token is read again with the rest: the filler cannot keep
    // the later count without a second record of it. The bound it raised
    // is the largest of the same counts that the reading again meets.
    if (table.empty() && TokenTableFiller::fits(scan.token_members) &&
        fill_empty_table(text, scan, table, bound)) {
        return;
    }
    table.reserve(table.size() + scan.token_members);
    // Keys of a code-point text live in the reader's buffer.
    std::string_view views_of;
    if constexpr (std::is_same_v<Text, std::string_view>) {
        views_of = text;
    }
    InsertQueue queue(views_of, table, bound);
    for_each_token(text, scan, [&queue](std::string_view token, std::int32_t count) {
        queue.push(token, count);
        return true;
    });
    queue.drain();
}

}  // namespace

bool scan_model_text(std::string_view text, ModelScan& scan) { return scan_text(text, scan); }
bool scan_model_text(const Latin1Text& text, ModelScan& scan) { return scan_text(text, scan); }
bool scan_model_text(const Ucs2Text& text, ModelScan& scan) { return scan_text(text, scan); }
bool scan_model_text(const Ucs4Text& text, ModelScan& scan) { return scan_text(text, scan); }

void read_model_tokens(std::string_view text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound) {
    read_tokens(text, scan, table, bound);
}
void read_model_tokens(const Latin1Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound) {
    read_tokens(text, scan, table, bound);
}
void read_model_tokens(const Ucs2Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound) {
    read_tokens(text, scan, table, bound);
}
void read_model_tokens(const Ucs4Text& text, const ModelScan& scan, TokenTable& table,
                       std::int32_t& bound) {
    read_tokens(text, scan, table, bound);
}

}  // namespace vorn::typing::text
