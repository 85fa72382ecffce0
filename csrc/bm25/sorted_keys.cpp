#include "bm25/sorted_keys.h"

#include <algorithm>
#include <array>
#include <utility>

#include "bm25/token_key.h"
#include "bm25/token_order.h"
#include "json/escape.h"

namespace vorn::typing::text {

namespace {

constexpr std::size_t kGroups = std::size_t{1} << 16;
// Radix passes sort by the six bytes of the prefix that follow the two that
// make the group; groups this small are sorted by insertion instead, which
// costs less than clearing the passes' counters.
constexpr std::size_t kRadixBytes = 6;
constexpr std::size_t kSmallGroup = 48;
// Groups larger than this are split first (see sort_group).
constexpr std::size_t kLargeGroup = 4096;
// keys_ ends with this much room, so that an eight-byte load from any key
// stays inside it.
constexpr std::size_t kLoadRoom = 8;
// Keys up to this size are copied whole words at a time; every group ends
// in as much room, so that any key can be read this far (kPaddedText).
constexpr std::size_t kShortKey = kPaddedText;
static_assert(TokenTable::kReadableText >= kShortKey);

std::size_t group_of(std::string_view key) {
    const auto byte = [&key](std::size_t i) {
        return i < key.size() ? static_cast<std::size_t>(static_cast<unsigned char>(key[i])) : 0U;
    };
    return (byte(0) << 8U) | byte(1);
}

// order_prefix of a key that may be followed by kLoadRoom readable bytes.
std::uint64_t loaded_prefix(const char* key, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::uint64_t word = 0;
    std::memcpy(&word, key, sizeof(word));
    word = __builtin_bswap64(word);
    return size >= 8 ? word : word & (~std::uint64_t{0} << (8 * (8 - size)));
}

}  // namespace

SortedKeys::SortedKeys(const TokenTable& table) : keys_(kLoadRoom) {
    // First pass: the size of every group, and the keys that need escapes
    // (rare), kept in table order.
    std::vector<std::size_t> bytes(kGroups, 0);
    std::vector<std::size_t> counts(kGroups, 0);
    std::deque<std::pair<TokenTable::Handle, std::string>> escaped;
    for (const TokenTable::Entry item : table) {
        std::string_view key = item.token();
        if (needs_escape_padded(key.data(), key.size())) {
            key = escaped.emplace_back(item.handle, key_of_token(key)).second;
        }
        const std::size_t group = group_of(key);
        bytes[group] += sizeof(Header) + key.size();
        ++counts[group];
        longest_ = std::max(longest_, key.size());
        ++size_;
    }
    std::size_t total = 0;
    std::size_t largest = 0;
    for (std::size_t group = 0; group < kGroups; ++group) {
        const std::size_t group_bytes = bytes[group];
        if (counts[group] != 0) {
            groups_.push_back({total, total + group_bytes, counts[group]});
            largest = std::max(largest, counts[group]);
        }
        // From here on, where the group's next entry goes.
        bytes[group] = total;
        total += group_bytes + (counts[group] != 0 ? kShortKey : 0);
    }
    keys_ = LargeBlock(total + kLoadRoom);
    std::memset(keys_.data() + total, 0, kLoadRoom);

    // Second pass: every key into its group, in table order.
    auto next_escaped = escaped.begin();
    for (const TokenTable::Entry item : table) {
        std::string_view key = item.token();
        const std::string* escaped_key = nullptr;
        if (next_escaped != escaped.end() && next_escaped->first == item.handle) {
            escaped_key = &(next_escaped++)->second;
            key = *escaped_key;
        }
        std::size_t& at = bytes[group_of(key)];
        const Header header{item.count, static_cast<std::uint32_t>(key.size())};
        std::memcpy(keys_.data() + at, &header, sizeof(Header));
        char* const copy = keys_.data() + at + sizeof(Header);
        if (key.size() <= kShortKey && escaped_key == nullptr) {
            // Whole words: the record's text can be read this far, and the
            // group ends in room as large.
            std::memcpy(copy, key.data(), kShortKey);
        } else {
            std::memcpy(copy, key.data(), key.size());
        }
        at += sizeof(Header) + key.size();
    }
    order_.resize(largest);
    spare_.resize(largest);
}

bool SortedKeys::before(const Ordered& left, const Ordered& right) {
    if (left.prefix != right.prefix) {
        return left.prefix < right.prefix;
    }
    return OrderedText{left.prefix, key_of(left.entry)} <
           OrderedText{right.prefix, key_of(right.entry)};
}

void SortedKeys::insertion_sort(Ordered* data, std::size_t count) {
    for (std::size_t i = 1; i < count; ++i) {
        const Ordered moving = data[i];
        std::size_t j = i;
        for (; j > 0 && before(moving, data[j - 1]); --j) {
            data[j] = data[j - 1];
        }
        data[j] = moving;
    }
}

SortedKeys::Ordered* SortedKeys::radix_sort(Ordered* data, Ordered* spare, std::size_t count,
                                            std::size_t bytes) {
    // Least significant byte first; a byte that every key shares needs no
    // pass.
    std::array<std::array<std::size_t, 256>, kRadixBytes> counters{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t prefix = data[i].prefix;
        for (std::size_t byte = 0; byte < bytes; ++byte) {
            ++counters[byte][(prefix >> (8 * byte)) & 0xffU];
        }
    }
    for (std::size_t byte = 0; byte < bytes; ++byte) {
        std::array<std::size_t, 256>& starts = counters[byte];
        const std::size_t shift = 8 * byte;
        if (starts[(data[0].prefix >> shift) & 0xffU] == count) {
            continue;
        }
        std::size_t next = 0;
        for (std::size_t& start : starts) {
            next += std::exchange(start, next);
        }
        for (std::size_t i = 0; i < count; ++i) {
            spare[starts[(data[i].prefix >> shift) & 0xffU]++] = data[i];
        }
        std::swap(data, spare);
    }
    return data;
}

SortedKeys::Ordered* SortedKeys::split_and_sort(Ordered* items, Ordered* spare, std::size_t count) {
    // A large group (a million ids of one length make a hundred of them)
    // is split by its keys' third byte first, so that every part is
    // sorted while it sits in the cache.
    constexpr std::size_t kSplitShift = 8 * (kRadixBytes - 1);
    std::array<std::size_t, 257> starts{};
    for (std::size_t i = 0; i < count; ++i) {
        ++starts[((items[i].prefix >> kSplitShift) & 0xffU) + 1];
    }
    for (std::size_t part = 0; part < 256; ++part) {
        starts[part + 1] += starts[part];
    }
    std::array<std::size_t, 256> next{};
    std::copy(starts.begin(), starts.end() - 1, next.begin());
    for (std::size_t i = 0; i < count; ++i) {
        spare[next[(items[i].prefix >> kSplitShift) & 0xffU]++] = items[i];
    }
    for (std::size_t part = 0; part < 256; ++part) {
        Ordered* const begin = spare + starts[part];
        const std::size_t part_count = starts[part + 1] - starts[part];
        if (part_count <= kSmallGroup) {
            insertion_sort(begin, part_count);
        } else if (Ordered* const done =
                       radix_sort(begin, items + starts[part], part_count, kRadixBytes - 1);
                   done != begin) {
            std::copy(done, done + part_count, begin);
        }
    }
    return spare;
}

const SortedKeys::Ordered* SortedKeys::sort_group(const Group& group) const {
    Ordered* const items = order_.data();
    Ordered* const spare = spare_.data();
    const std::size_t count = group.count;
    const char* entry = keys_.data() + group.begin;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t key_size = header_of(entry).size;
        items[i] = {loaded_prefix(entry + sizeof(Header), key_size), entry};
        entry += sizeof(Header) + key_size;
    }
    if (count <= kSmallGroup) {
        insertion_sort(items, count);
        return items;
    }
    Ordered* const sorted = count <= kLargeGroup ? radix_sort(items, spare, count, kRadixBytes)
                                                 : split_and_sort(items, spare, count);
    // Keys that share their first eight bytes, which ids of one length
    // often do, are put in order by the rest.
    for (std::size_t run = 0; run < count;) {
        std::size_t end = run + 1;
        while (end < count && sorted[end].prefix == sorted[run].prefix) {
            ++end;
        }
        if (end - run > 1) {
            std::sort(sorted + run, sorted + end, before);
        }
        run = end;
    }
    return sorted;
}

}  // namespace vorn::typing::text
