#include "search/max_score.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <stdexcept>

#include "platform/prefetch.h"
#include "search/posting_block.h"

namespace vorn::typing::text {

namespace {

// Documents probed for a first k-th score, per result asked for.
constexpr std::size_t kProbe = 4;

using Docs = std::vector<std::uint32_t>;

// The first place at or after `from` whose document is not below `doc`:
// steps of 1, 2, 4, ... then a bisection between the last two, so that a walk
// through two sorted lists costs about the distance it moves, in the cache,
// where a bisection of the whole rest takes a miss a step.
std::size_t gallop(const Docs& docs, std::size_t from, std::uint32_t doc) {
    std::size_t low = from;
    std::size_t step = 1;
    while (low + step < docs.size() && docs[low + step] < doc) {
        low += step;
        step *= 2;
    }
    if (low >= docs.size() || docs[low] >= doc) {
        return low;
    }
    const std::size_t high = std::min(docs.size(), low + step + 1);
    const auto begin = docs.begin();
    return static_cast<std::size_t>(std::lower_bound(begin + static_cast<std::ptrdiff_t>(low + 1),
                                                     begin + static_cast<std::ptrdiff_t>(high),
                                                     doc) -
                                    begin);
}

// What is known of one term's postings: the whole list, or the documents
// looked up so far and, of those, the ones that hold it. Either way `docs`
// (ascending) and `tfs` are the postings known.
class TermPostings {
  public:
    // Forgets what the last query learnt; keeps the buffers.
    void reset(std::size_t index, const QueryTerm& term, const Normalisers& normalisers) {
        index_ = index;
        count_ = term.postings;
        normalisers_ = normalisers;
        complete_ = false;
        docs.clear();
        tfs.clear();
        checked_.clear();
    }

    void read_all(PostingStore& store, BlockDecoder& decoder) {
        if (complete_) {
            return;
        }
        decode(store.all_blocks(index_), decoder, docs, tfs);
        complete_ = true;
        checked_.clear();
    }

    // Learns the weights of `wanted` (ascending): from the blocks that can
    // hold them, or the whole list when they would touch most of its blocks.
    void look_up(PostingStore& store, BlockDecoder& decoder, const Docs& wanted) {
        if (complete_) {
            return;
        }
        Docs needed;
        std::set_difference(wanted.begin(), wanted.end(), checked_.begin(), checked_.end(),
                            std::back_inserter(needed));
        if (needed.empty()) {
            return;
        }
        decode(rows_for(store, needed), decoder, listed_, listed_tfs_);
        Docs found_docs;
        std::vector<std::uint32_t> found_tfs;
        std::size_t at = 0;
        for (const std::uint32_t doc : needed) {
            at = gallop(listed_, at, doc);
            if (at < listed_.size() && listed_[at] == doc) {
                found_docs.push_back(doc);
                found_tfs.push_back(listed_tfs_[at]);
            }
        }
        merge_found(found_docs, found_tfs);
        Docs checked;
        checked.reserve(checked_.size() + needed.size());
        std::set_union(checked_.begin(), checked_.end(), needed.begin(), needed.end(),
                       std::back_inserter(checked));
        checked_.swap(checked);
    }

    // The stored weight of the i-th posting known: computed where it is
    // used, so that a long list is not written out a second time as weights.
    double weight_at(std::size_t i) const {
        const auto tf = static_cast<double>(tfs[i]);
        return tf / (tf + normalisers_.values[docs[i]]);
    }

    // The stored weight of `doc`, 0.0 where absent; it must have been read
    // or looked up.
    double weight_of(std::uint32_t doc) const {
        const auto at = std::lower_bound(docs.begin(), docs.end(), doc);
        return at != docs.end() && *at == doc
                   ? weight_at(static_cast<std::size_t>(at - docs.begin()))
                   : 0.0;
    }

    // Asks for the normaliser of the i-th posting known, if there is one.
    void prefetch(std::size_t i) const {
        if (i < docs.size()) {
            prefetch_line(normalisers_.values + docs[i]);
        }
    }

    Docs docs;
    std::vector<std::uint32_t> tfs;

  private:
    BlockRows rows_for(PostingStore& store, const Docs& needed) const {
        if (needed.size() * kBlockPostings >= count_) {
            return store.all_blocks(index_);
        }
        const Docs keys = store.block_keys(index_);
        Docs wanted;
        for (const std::uint32_t doc : needed) {
            const auto after = std::upper_bound(keys.begin(), keys.end(), doc);
            if (after != keys.begin() && (wanted.empty() || wanted.back() != *(after - 1))) {
                wanted.push_back(*(after - 1));
            }
        }
        if (wanted.empty()) {
            return {};
        }
        return wanted.size() == keys.size() ? store.all_blocks(index_)
                                            : store.blocks(index_, wanted);
    }

    void decode(const BlockRows& rows, BlockDecoder& decoder, Docs& into_docs,
                std::vector<std::uint32_t>& into_tfs) const {
        into_docs.clear();
        into_tfs.clear();
        for (const auto& [docs_blob, tfs_blob] : rows) {
            decoder.decode(docs_blob, tfs_blob, into_docs, into_tfs);
        }
        if (!into_docs.empty() &&
            *std::max_element(into_docs.begin(), into_docs.end()) >= normalisers_.size) {
            throw std::invalid_argument(
                "a posting of a document without a length: the file is damaged");
        }
        if (normalisers_.removed) {
            drop_removed(into_docs, into_tfs);
        }
    }

    void drop_removed(Docs& docs_of, std::vector<std::uint32_t>& tfs_of) const {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < docs_of.size(); ++i) {
            if (!std::isnan(normalisers_.values[docs_of[i]])) {
                docs_of[kept] = docs_of[i];
                tfs_of[kept] = tfs_of[i];
                ++kept;
            }
        }
        docs_of.resize(kept);
        tfs_of.resize(kept);
    }

    void merge_found(const Docs& found_docs, const std::vector<std::uint32_t>& found_tfs) {
        Docs merged_docs;
        std::vector<std::uint32_t> merged_tfs;
        merged_docs.reserve(docs.size() + found_docs.size());
        merged_tfs.reserve(docs.size() + found_docs.size());
        std::size_t old = 0;
        std::size_t found = 0;
        while (old < docs.size() || found < found_docs.size()) {
            if (found == found_docs.size() ||
                (old < docs.size() && docs[old] < found_docs[found])) {
                merged_docs.push_back(docs[old]);
                merged_tfs.push_back(tfs[old++]);
            } else {
                merged_docs.push_back(found_docs[found]);
                merged_tfs.push_back(found_tfs[found++]);
            }
        }
        docs.swap(merged_docs);
        tfs.swap(merged_tfs);
    }

    std::size_t index_ = 0;
    std::uint64_t count_ = 0;
    Normalisers normalisers_;
    bool complete_ = false;
    Docs checked_;
    // Buffers of one read, kept for the next.
    Docs listed_;
    std::vector<std::uint32_t> listed_tfs_;
};

// Partial scores by document, ascending.
using Partial = std::vector<Scored>;

// partial[doc] += weight x the term's weight, for every document the term is
// known to hold (new documents join); `scratch` is reused between calls, so
// that a query's large buffers are allocated and faulted in once.
void add_in(Partial& partial, const TermPostings& term, double weight, Partial& scratch) {
    scratch.resize(partial.size() + term.docs.size());
    std::size_t at = 0;
    std::size_t out = 0;
    const std::size_t count = term.docs.size();
    // A long list's documents lie far apart in the normalisers' table: ask
    // for them a few postings ahead, or each is a wait on memory.
    constexpr std::size_t ahead = 16;
    for (std::size_t i = 0; i < count; ++i) {
        term.prefetch(i + ahead);
        const std::uint32_t doc = term.docs[i];
        while (at < partial.size() && partial[at].doc < doc) {
            scratch[out++] = partial[at++];
        }
        const double value = term.weight_at(i) * weight;
        if (at < partial.size() && partial[at].doc == doc) {
            scratch[out++] = {doc, partial[at++].score + value};
        } else {
            scratch[out++] = {doc, value};
        }
    }
    while (at < partial.size()) {
        scratch[out++] = partial[at++];
    }
    scratch.resize(out);
    partial.swap(scratch);
}

// The same for the documents that partial holds; others are passed over.
void add_to_known(Partial& partial, const TermPostings& term, double weight) {
    std::size_t at = 0;
    for (Scored& entry : partial) {
        at = gallop(term.docs, at, entry.doc);
        if (at == term.docs.size()) {
            break;
        }
        if (term.docs[at] == entry.doc) {
            entry.score += term.weight_at(at) * weight;
        }
    }
}

// The k-th largest score (entries must hold at least k): a heap of the k
// best, which most entries pass by with one comparison.
double kth_largest(const Partial& entries, std::size_t k) {
    std::vector<double> best;
    best.reserve(k);
    for (const Scored& entry : entries) {
        if (best.size() < k) {
            best.push_back(entry.score);
            std::push_heap(best.begin(), best.end(), std::greater<>());
        } else if (entry.score > best.front()) {
            std::pop_heap(best.begin(), best.end(), std::greater<>());
            best.back() = entry.score;
            std::push_heap(best.begin(), best.end(), std::greater<>());
        }
    }
    return best.front();
}

void keep_from(Partial& partial, double cut) {
    partial.erase(std::remove_if(partial.begin(), partial.end(),
                                 [cut](const Scored& entry) { return !(cut <= entry.score); }),
                  partial.end());
}

Docs docs_of(const Partial& partial) {
    Docs docs(partial.size());
    std::transform(partial.begin(), partial.end(), docs.begin(),
                   [](const Scored& entry) { return entry.doc; });
    return docs;
}

// The largest score of a document holding only some of `terms` (at least one).
double bound_of(const std::vector<QueryTerm>& terms, const std::vector<std::size_t>& which) {
    double positive = 0.0;
    bool any_positive = false;
    double largest = -std::numeric_limits<double>::infinity();
    for (const std::size_t i : which) {
        if (terms[i].high > 0.0) {
            positive += terms[i].high;
            any_positive = true;
        }
        largest = std::max(largest, terms[i].high);
    }
    return any_positive ? positive : largest;
}

}  // namespace

struct MaxScore::Buffers {
    BlockDecoder decoder;
    Partial scratch;
    std::vector<TermPostings> postings;
};

namespace {

class Plan {
  public:
    Plan(const std::vector<QueryTerm>& terms, std::size_t k, const Normalisers& normalisers,
         PostingStore& store, MaxScore::Buffers& buffers)
        : terms_(terms),
          k_(k),
          normalisers_(normalisers),
          store_(store),
          decoder_(buffers.decoder),
          scratch_(buffers.scratch),
          postings_(buffers.postings) {
        if (postings_.size() < terms.size()) {
            postings_.resize(terms.size());
        }
        for (std::size_t i = 0; i < terms.size(); ++i) {
            postings_[i].reset(i, terms[i], normalisers);
            margin_ += std::max(std::abs(terms[i].low), std::abs(terms[i].high));
        }
        // Wider than the rounding of any sum of these terms by many orders of magnitude.
        margin_ = 1e-9 * margin_ + 1e-300;
        by_bound_.resize(terms.size());
        std::iota(by_bound_.begin(), by_bound_.end(), std::size_t{0});
        std::sort(by_bound_.begin(), by_bound_.end(), [&terms](std::size_t a, std::size_t b) {
            if (terms[a].high != terms[b].high) {
                return terms[a].high > terms[b].high;
            }
            return terms[a].postings != terms[b].postings ? terms[a].postings < terms[b].postings
                                                          : a < b;
        });
        for (std::size_t start = 0; start <= terms.size(); ++start) {
            suffix_bound_.push_back(bound_of(
                terms,
                std::vector<std::size_t>(by_bound_.begin() + static_cast<std::ptrdiff_t>(start),
                                         by_bound_.end())));
        }
    }

    std::vector<Scored> run() {
        const std::size_t count = terms_.size();
        std::size_t essential = first_essential();
        for (;;) {
            Partial partial;
            for (std::size_t j = 0; j < essential; ++j) {
                const std::size_t i = by_bound_[j];
                postings_[i].read_all(store_, decoder_);
                add_in(partial, postings_[i], terms_[i].weight, scratch_);
            }
            for (std::size_t step = essential; step < count; ++step) {
                if (partial.size() > k_) {
                    // Each candidate's final score lies in [partial + the negative
                    // ends, partial + the positive ends] of the terms not read yet.
                    double cut = kth_largest(partial, k_) + sum_of_ends(step, false);
                    cut -= sum_of_ends(step, true);
                    keep_from(partial, cut - margin_);
                }
                const std::size_t i = by_bound_[step];
                postings_[i].look_up(store_, decoder_, docs_of(partial));
                add_to_known(partial, postings_[i], terms_[i].weight);
            }
            if (partial.size() > k_) {
                // Every term has been added: what lies below the k-th by more
                // than rounding cannot be in the top k.
                keep_from(partial, kth_largest(partial, k_) - margin_);
            }
            std::vector<Scored> exact = exact_scores(docs_of(partial));
            if (essential == count) {
                return exact;  // every term read in full: every match was a candidate
            }
            if (exact.size() >= k_) {
                const double kth = kth_largest(exact, k_);
                if (suffix_bound_[essential] + margin_ < kth) {
                    return exact;
                }
                // Candidates only grow, so the k-th score only rises: skip the
                // prefixes whose rest could still beat it.
                while (essential < count && !(suffix_bound_[essential] + margin_ < kth)) {
                    ++essential;
                }
            } else {
                ++essential;
            }
        }
    }

  private:
    // The positive (or negative) ends of the terms from `step` on, in order.
    double sum_of_ends(std::size_t step, bool positive) const {
        double sum = 0.0;
        for (std::size_t j = step; j < terms_.size(); ++j) {
            const QueryTerm& term = terms_[by_bound_[j]];
            sum += positive ? std::max(0.0, term.high) : std::min(0.0, term.low);
        }
        return sum;
    }

    std::vector<Scored> exact_scores(const Docs& docs) const {
        std::vector<Scored> scores;
        scores.reserve(docs.size());
        for (const std::uint32_t doc : docs) {
            double score = 0.0;
            for (std::size_t i = 0; i < terms_.size(); ++i) {
                score += terms_[i].weight * postings_[i].weight_of(doc);
            }
            scores.push_back({doc, score});
        }
        return scores;
    }

    // How many terms to read in full at first: the fewest whose rest cannot
    // reach a k-th score found by probing the documents with the largest
    // contributions of the first term, looked up in the others (a few blocks
    // each): real documents, so their k-th score is a floor under the final
    // one. Without a probe the plan would look up every document of the first
    // list in every other list before learning that more lists must be read.
    std::size_t first_essential() {
        const std::size_t count = terms_.size();
        if (count == 1) {
            return 1;
        }
        TermPostings& first = postings_[by_bound_[0]];
        first.read_all(store_, decoder_);
        if (first.docs.size() < k_) {
            return 1;
        }
        const double weight = terms_[by_bound_[0]].weight;
        const std::size_t probed = std::min(kProbe * k_, first.docs.size());
        // The probed postings: the largest contributions, ties to the first;
        // a heap whose top is the worst kept.
        using Entry = std::pair<double, std::size_t>;
        const auto better = [](const Entry& a, const Entry& b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        };
        std::vector<Entry> best;
        best.reserve(probed);
        for (std::size_t i = 0; i < first.docs.size(); ++i) {
            const Entry entry{first.weight_at(i) * weight, i};
            if (best.size() < probed) {
                best.push_back(entry);
                std::push_heap(best.begin(), best.end(), better);
            } else if (better(entry, best.front())) {
                std::pop_heap(best.begin(), best.end(), better);
                best.back() = entry;
                std::push_heap(best.begin(), best.end(), better);
            }
        }
        Docs probe(best.size());
        std::transform(best.begin(), best.end(), probe.begin(),
                       [&first](const Entry& entry) { return first.docs[entry.second]; });
        std::sort(probe.begin(), probe.end());
        for (std::size_t j = 1; j < count; ++j) {
            postings_[by_bound_[j]].look_up(store_, decoder_, probe);
        }
        const double floor = kth_largest(exact_scores(probe), k_);
        std::size_t essential = 1;
        while (essential < count && !(suffix_bound_[essential] + margin_ < floor)) {
            ++essential;
        }
        return essential;
    }

    const std::vector<QueryTerm>& terms_;
    std::size_t k_;
    Normalisers normalisers_;
    PostingStore& store_;
    BlockDecoder& decoder_;
    Partial& scratch_;
    std::vector<TermPostings>& postings_;
    double margin_ = 0.0;
    std::vector<std::size_t> by_bound_;
    std::vector<double> suffix_bound_;
};

}  // namespace

MaxScore::MaxScore() : buffers_(std::make_unique<Buffers>()) {}

MaxScore::~MaxScore() = default;

std::vector<Scored> MaxScore::candidates(const std::vector<QueryTerm>& terms, std::size_t k,
                                         const Normalisers& normalisers, PostingStore& store) {
    if (k == 0) {
        throw std::invalid_argument("k must be positive");
    }
    if (terms.empty()) {
        return {};
    }
    return Plan(terms, k, normalisers, store, *buffers_).run();
}

std::vector<Scored> max_score_candidates(const std::vector<QueryTerm>& terms, std::size_t k,
                                         const Normalisers& normalisers, PostingStore& store) {
    MaxScore plan;
    return plan.candidates(terms, k, normalisers, store);
}

}  // namespace vorn::typing::text
