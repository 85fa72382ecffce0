#pragma once
// The keys of a model file's token object (token texts, escaped where they
// must be) with their counts, in ascending byte order. A trained table keeps
// its tokens in the order they came, so that sorting handles into it and
// reading the texts back in key order would wait on memory once per token.
// Instead the keys are copied once, in table order, into groups by their
// first two bytes; each group is then small enough to be sorted and read
// while it sits in the cache.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_allocator.h"
#include "token_table/token_table.h"

namespace vorn::typing::text {

class SortedKeys {
  public:
    // Copies the keys and allocates all that for_each will use. The table
    // may change or go afterwards.
    explicit SortedKeys(const TokenTable& table);

    std::size_t size() const { return size_; }
    // The size of the longest key.
    std::size_t longest() const { return longest_; }

    // Calls visit(key, count) for every key in ascending byte order (the
    // order of std::string). kPaddedText bytes can be read from the start of
    // every key (see json/escape.h). Allocates nothing; may run any number
    // of times.
    template <typename Visit>
    void for_each(Visit&& visit) const {
        for (const Group& group : groups_) {
            const Ordered* const sorted = sort_group(group);
            for (std::size_t i = 0; i < group.count; ++i) {
                const char* const entry = sorted[i].entry;
                visit(key_of(entry), count_of(entry));
            }
        }
    }

  private:
    // A group's entries lie one after another in keys_: a header of the
    // count and the key's size, then the key's bytes.
    struct Header {
        std::int32_t count;
        std::uint32_t size;
    };
    struct Group {
        std::size_t begin;  // offset of the first entry in keys_
        std::size_t end;
        std::size_t count;
    };
    // An entry while its group is sorted: the first eight bytes of its key
    // decide most comparisons (see token_order.h).
    struct Ordered {
        std::uint64_t prefix;
        const char* entry;
    };

    static Header header_of(const char* entry) {
        Header header{};
        std::memcpy(&header, entry, sizeof(Header));
        return header;
    }
    static std::string_view key_of(const char* entry) {
        return {entry + sizeof(Header), header_of(entry).size};
    }
    static std::int32_t count_of(const char* entry) { return header_of(entry).count; }

    // The group's entries in key order, in order_ or spare_.
    const Ordered* sort_group(const Group& group) const;
    // std::string's order of the keys.
    static bool before(const Ordered& left, const Ordered& right);
    static void insertion_sort(Ordered* data, std::size_t count);
    // Sorts by the `bytes` lowest bytes of the prefixes, moving entries
    // between `data` and `spare`; returns the one that holds the result.
    static Ordered* radix_sort(Ordered* data, Ordered* spare, std::size_t count, std::size_t bytes);
    // Sorts a large group: split by the keys' third byte, each part sorted
    // while it sits in the cache. The result is in `spare`.
    static Ordered* split_and_sort(Ordered* items, Ordered* spare, std::size_t count);

    std::vector<Group> groups_;  // the groups that hold keys, in key order
    LargeBlock keys_;
    std::size_t size_ = 0;
    std::size_t longest_ = 0;
    // Room for the largest group, twice over: radix passes move entries
    // from one half to the other.
    mutable std::vector<Ordered, LargeAllocator<Ordered>> order_;
    mutable std::vector<Ordered, LargeAllocator<Ordered>> spare_;
};

}  // namespace vorn::typing::text
