#include "search/posting_accumulator.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "search/posting_block.h"

namespace vorn::typing::text {

PostingAccumulator::PostingAccumulator(std::uint32_t first_doc, std::size_t limit,
                                       std::size_t block)
    : first_doc_(first_doc), limit_(limit), block_(block) {
    if (block == 0) {
        throw std::invalid_argument("a block holds at least one posting");
    }
}

void PostingAccumulator::add(std::uint32_t doc, const std::uint32_t* tokens, std::size_t count) {
    if (doc < first_doc_ || doc - first_doc_ < lengths_.size()) {
        throw std::invalid_argument("document " + std::to_string(doc) + " out of turn");
    }
    if (count > UINT32_MAX) {
        throw std::invalid_argument("a document of more than 2^32 words");
    }
    lengths_.resize(doc - first_doc_, 0);
    lengths_.push_back(static_cast<std::uint32_t>(count));
    // Sorting a document's few dozen tokens counts them in the cache, where
    // a table of counts would take a miss a word.
    sorted_.assign(tokens, tokens + count);
    std::sort(sorted_.begin(), sorted_.end());
    for (std::size_t at = 0; at < sorted_.size();) {
        const std::uint32_t token = sorted_[at];
        std::size_t end = at + 1;
        while (end < sorted_.size() && sorted_[end] == token) {
            ++end;
        }
        if (token >= waiting_.size()) {
            waiting_.resize(std::max<std::size_t>(token + 1, 2 * waiting_.size()));
            is_touched_.resize(waiting_.size(), false);
        }
        Waiting& waiting = waiting_[token];
        waiting.docs.push_back(doc);
        waiting.tfs.push_back(static_cast<std::uint32_t>(end - at));
        if (!is_touched_[token]) {
            is_touched_[token] = true;
            touched_.push_back(token);
        }
        ++waiting_count_;
        at = end;
    }
}

void PostingAccumulator::cut(std::uint32_t token, std::size_t postings,
                             std::vector<BlockRow>& rows) {
    Waiting& waiting = waiting_[token];
    std::vector<std::uint32_t> docs;
    std::vector<std::uint32_t> tfs;
    for (std::size_t start = 0; start < postings; start += block_) {
        const auto from = static_cast<std::ptrdiff_t>(start);
        const auto to = static_cast<std::ptrdiff_t>(std::min(postings, start + block_));
        docs.assign(waiting.docs.begin() + from, waiting.docs.begin() + to);
        tfs.assign(waiting.tfs.begin() + from, waiting.tfs.begin() + to);
        BlockRow row;
        row.token = token;
        row.first_doc = docs.front();
        auto [docs_blob, tfs_blob] = encode_block(docs, tfs);
        row.docs_blob = std::move(docs_blob);
        row.tfs_blob = std::move(tfs_blob);
        row.postings = static_cast<std::uint32_t>(docs.size());
        row.min_length = UINT32_MAX;
        for (std::size_t i = 0; i < docs.size(); ++i) {
            row.occurrences += tfs[i];
            row.max_tf = std::max(row.max_tf, tfs[i]);
            row.min_length = std::min(row.min_length, lengths_[docs[i] - first_doc_]);
        }
        rows.push_back(std::move(row));
    }
    waiting.docs.erase(waiting.docs.begin(),
                       waiting.docs.begin() + static_cast<std::ptrdiff_t>(postings));
    waiting.tfs.erase(waiting.tfs.begin(),
                      waiting.tfs.begin() + static_cast<std::ptrdiff_t>(postings));
    if (waiting.docs.empty()) {
        waiting = Waiting();  // a word's buffers go when nothing of it waits
    }
    waiting_count_ -= postings;
}

std::vector<BlockRow> PostingAccumulator::end_batch() {
    if (waiting_count_ >= limit_) {
        return flush();
    }
    std::sort(touched_.begin(), touched_.end());
    std::vector<BlockRow> rows;
    for (const std::uint32_t token : touched_) {
        is_touched_[token] = false;
        const std::size_t full = waiting_[token].docs.size() / block_ * block_;
        if (full != 0) {
            cut(token, full, rows);
        }
    }
    touched_.clear();
    return rows;
}

std::vector<BlockRow> PostingAccumulator::flush() {
    std::vector<BlockRow> rows;
    for (std::uint32_t token = 0; token < waiting_.size(); ++token) {
        if (!waiting_[token].docs.empty()) {
            cut(token, waiting_[token].docs.size(), rows);
        }
    }
    for (const std::uint32_t token : touched_) {
        is_touched_[token] = false;
    }
    touched_.clear();
    return rows;
}

}  // namespace vorn::typing::text
