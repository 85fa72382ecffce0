#include "token_table/token_table_filler.h"

#include <algorithm>
#include <array>
#include <utility>

#include "platform/prefetch.h"

namespace vorn::typing::text {

namespace {

constexpr unsigned kTagBits = 64 - TokenRecords::kHandleBits;
// Ordering by the top 22 bits of the tags leaves at most a cache line of
// slots between neighbours out of order, for tables up to 2^25 slots.
constexpr unsigned kOrderedBits = 22;
constexpr unsigned kDigitBits = 11;
constexpr std::size_t kAhead = 16;

// A stable pass of a radix sort on the `width` bits of each value above `shift`.
void sort_pass(const std::vector<std::uint64_t>& from, std::vector<std::uint64_t>& to,
               unsigned shift, unsigned width) {
    std::array<std::size_t, std::size_t{1} << kDigitBits> starts{};
    const std::uint64_t mask = (std::uint64_t{1} << width) - 1;
    for (const std::uint64_t value : from) {
        ++starts[(value >> shift) & mask];
    }
    std::size_t start = 0;
    for (std::size_t& bucket : starts) {
        start += std::exchange(bucket, start);
    }
    to.resize(from.size());
    for (const std::uint64_t value : from) {
        to[starts[(value >> shift) & mask]++] = value;
    }
}

}  // namespace

bool TokenTableFiller::fits(std::size_t count) {
    return count <= (std::size_t{3} << (kTagBits - 2));
}

TokenTableFiller::TokenTableFiller(TokenTable& table, std::size_t count)
    : TokenTableFiller(table, count, std::clamp(count / 32, kMinChunk, kMaxChunk)) {}

TokenTableFiller::TokenTableFiller(TokenTable& table, std::size_t count, std::size_t chunk)
    : table_(table), chunk_size_(std::max<std::size_t>(chunk, 1)) {
    table_.reserve(count);
    order_bits_ = 64 - table_.shift_;
    chunk_.reserve(std::min(count, chunk_size_));
    spare_.reserve(std::min(count, chunk_size_));
}

bool TokenTableFiller::add(std::string_view token, std::uint64_t hash, std::int32_t count) {
    const TokenTable::Handle handle = table_.records_.add(token);
    table_.records_.count(handle) = count;
    ++table_.size_;
    chunk_.push_back(TokenTable::slot_value(hash, handle));
    return chunk_.size() < chunk_size_ || place_chunk();
}

bool TokenTableFiller::finish() { return place_chunk(); }

bool TokenTableFiller::place_chunk() {
    // Slot values order as their tags, whose top bits are the home.
    const unsigned bits = std::min(order_bits_, kOrderedBits);
    const unsigned low = bits / 2;
    const unsigned high = bits - low;
    if (low > 0) {
        sort_pass(chunk_, spare_, 64 - bits, low);
        std::swap(chunk_, spare_);
    }
    if (high > 0) {
        sort_pass(chunk_, spare_, 64 - high, high);
        std::swap(chunk_, spare_);
    }
    auto& slots = table_.slots_;
    const std::size_t mask = slots.size() - 1;
    const unsigned shift = table_.shift_;
    const auto home = [shift](std::uint64_t value) { return TokenTable::home_in(value, shift); };
    for (std::size_t i = 0; i < chunk_.size(); ++i) {
        if (i + kAhead < chunk_.size()) {
            prefetch_line(&slots[home(chunk_[i + kAhead])]);
        }
        // The probe of TokenTable::slot_of, but a new record is read only
        // when a tag matches: records lie in the text's order, so reading
        // each would be the random access this order avoids.
        const std::uint64_t value = chunk_[i];
        std::size_t slot = home(value);
        for (; slots[slot] != 0; slot = (slot + 1) & mask) {
            const std::uint64_t held = slots[slot];
            if (TokenTable::tag_of(held) == TokenTable::tag_of(value) &&
                table_.records_.token(TokenTable::handle_in(held)) ==
                    table_.records_.token(TokenTable::handle_in(value))) {
                return give_up();
            }
        }
        slots[slot] = value;
    }
    chunk_.clear();
    return true;
}

bool TokenTableFiller::give_up() {
    table_ = TokenTable();
    chunk_.clear();
    return false;
}

}  // namespace vorn::typing::text
