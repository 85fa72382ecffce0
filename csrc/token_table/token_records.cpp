#include "token_table/token_records.h"

#include <cstring>
#include <stdexcept>
#include <utility>

namespace vorn::typing::text {

namespace {

constexpr std::size_t kSmallBlock = std::size_t{64} * 1024;

[[noreturn]] void refuse_token() {
    throw std::length_error("BM25 token table cannot hold this token");
}

}  // namespace

// A moved-from table must not keep writing into blocks it gave away.
TokenRecords::TokenRecords(TokenRecords&& other) noexcept
    : blocks_(std::move(other.blocks_)),
      memory_(std::move(other.memory_)),
      current_(std::exchange(other.current_, 0)),
      left_(std::exchange(other.left_, 0)) {
    other.blocks_.clear();
    other.memory_.clear();
}

TokenRecords& TokenRecords::operator=(TokenRecords&& other) noexcept {
    if (this != &other) {
        blocks_ = std::move(other.blocks_);
        memory_ = std::move(other.memory_);
        current_ = std::exchange(other.current_, 0);
        left_ = std::exchange(other.left_, 0);
        other.blocks_.clear();
        other.memory_.clear();
    }
    return *this;
}

std::size_t TokenRecords::new_block(std::size_t bytes) {
    const std::size_t spans = (bytes + kBlockSpan - 1) / kBlockSpan;
    const std::size_t index = blocks_.size();
    if (((index + spans) << kUnitsPerSpan) >= (Handle{1} << kHandleBits)) {
        refuse_token();
    }
    blocks_.reserve(index + spans);
    memory_.reserve(memory_.size() + 1);
    char* const base = memory_.emplace_back(bytes).data();
    blocks_.push_back({base, 0});
    blocks_.resize(index + spans, {nullptr, 0});
    return index;
}

TokenRecords::Handle TokenRecords::add(std::string_view token) {
    if (token.size() > UINT32_MAX) {
        refuse_token();
    }
    const std::size_t bytes = record_bytes(token.size());
    std::size_t index = current_;
    if (bytes > kSmallBlock / 4) {
        // Long tokens get a block of their own so that the shared block in use
        // is not abandoned half empty.
        index = new_block(bytes + kReadableText);
    } else {
        if (bytes > left_) {
            // Once the table holds a few blocks, a block is one huge page:
            // millions of tokens would otherwise cost a fault every 4 KiB of
            // their text.
            const std::size_t size =
                memory_.size() * kSmallBlock >= kHugePageSize ? kHugePageSize : kSmallBlock;
            current_ = index = new_block(size);
            left_ = size - kReadableText;
        }
        left_ -= bytes;
    }
    Block& block = blocks_[index];
    char* const record = block.base + block.used;
    new (record) Header{0, static_cast<std::uint32_t>(token.size())};
    if (!token.empty()) {
        std::memcpy(record + sizeof(Header), token.data(), token.size());
    }
    const Handle handle = handle_of(index, block.used);
    block.used += bytes;
    return handle;
}

void TokenRecords::Iterator::skip_spent_blocks() {
    const std::vector<Block>& blocks = records_->blocks_;
    while (index_ < blocks.size() && offset_ >= blocks[index_].used) {
        ++index_;
        offset_ = 0;
    }
}

}  // namespace vorn::typing::text
