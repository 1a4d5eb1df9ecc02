#include "store/row_index.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace melofon::store {

namespace {
constexpr std::size_t kNoWord = SIZE_MAX;
// Bits 0 to `bit` of a word.
std::uint64_t upTo(unsigned bit) { return bit >= 63 ? ~0ull : (1ull << (bit + 1)) - 1; }
} // namespace

void LiveRows::reserve(std::uint32_t rows) {
    words_.reserve((std::size_t(rows) + 63) / 64);
    summary_.reserve((std::size_t(rows) + 4095) / 4096);
}

void LiveRows::markWord(std::size_t word) {
    if (words_[word])
        summary_[word >> 6] |= 1ull << (word & 63);
    else
        summary_[word >> 6] &= ~(1ull << (word & 63));
}

void LiveRows::push(bool live) {
    if ((size_ & 63) == 0) {
        words_.push_back(0);
        if (((words_.size() - 1) & 63) == 0)
            summary_.push_back(0);
    }
    if (live) {
        words_[size_ >> 6] |= 1ull << (size_ & 63);
        markWord(size_ >> 6);
        ++count_;
    }
    ++size_;
}

void LiveRows::kill(std::uint32_t row) {
    if (row >= size_ || !test(row))
        return;
    words_[row >> 6] &= ~(1ull << (row & 63));
    markWord(row >> 6);
    --count_;
}

void LiveRows::revive(std::uint32_t row) {
    if (row >= size_ || test(row))
        return;
    words_[row >> 6] |= 1ull << (row & 63);
    markWord(row >> 6);
    ++count_;
}

void LiveRows::truncate(std::uint32_t rows) {
    if (rows >= size_)
        return;
    for (std::uint32_t r = rows; r < size_; ++r)
        count_ -= test(r);
    size_ = rows;
    words_.resize((std::size_t(rows) + 63) / 64);
    if ((rows & 63) != 0)
        words_.back() &= upTo((rows & 63) - 1);
    summary_.assign((words_.size() + 63) / 64, 0);
    for (std::size_t w = 0; w < words_.size(); ++w)
        markWord(w);
}

std::size_t LiveRows::nextWord(std::size_t from) const {
    std::size_t s = from >> 6;
    if (s >= summary_.size())
        return kNoWord;
    std::uint64_t bits = summary_[s] & (~0ull << (from & 63));
    while (bits == 0) {
        if (++s >= summary_.size())
            return kNoWord;
        bits = summary_[s];
    }
    return s * 64 + std::size_t(std::countr_zero(bits));
}

std::size_t LiveRows::lastWordBefore(std::size_t end) const {
    if (end == 0)
        return kNoWord;
    std::size_t s = (end - 1) >> 6;
    std::uint64_t bits = summary_[s] & upTo(unsigned((end - 1) & 63));
    while (bits == 0) {
        if (s == 0)
            return kNoWord;
        bits = summary_[--s];
    }
    return s * 64 + 63 - std::size_t(std::countl_zero(bits));
}

std::uint32_t LiveRows::nextFrom(std::uint32_t row) const {
    if (row >= size_)
        return size_;
    const std::size_t w = row >> 6;
    if (const std::uint64_t bits = words_[w] & (~0ull << (row & 63)))
        return std::uint32_t(w * 64 + std::size_t(std::countr_zero(bits)));
    const std::size_t next = nextWord(w + 1);
    return next == kNoWord ? size_ : std::uint32_t(next * 64 + std::size_t(std::countr_zero(words_[next])));
}

std::uint32_t LiveRows::lastBefore(std::uint32_t end) const {
    end = std::min(end, size_);
    if (end == 0)
        return kNoRow;
    const std::uint32_t last = end - 1;
    const std::size_t w = last >> 6;
    if (const std::uint64_t bits = words_[w] & upTo(last & 63))
        return std::uint32_t(w * 64 + 63 - std::size_t(std::countl_zero(bits)));
    const std::size_t word = lastWordBefore(w);
    return word == kNoWord ? kNoRow
                           : std::uint32_t(word * 64 + 63 - std::size_t(std::countl_zero(words_[word])));
}

void IdColumn::reserve(std::uint32_t rows) {
    expected_ = rows;
    ids_.reserve(rows);
}

void IdColumn::push(double value) {
    const auto row = std::uint32_t(ids_.size());
    const bool whole = std::trunc(value) == value && value >= INT32_MIN && value <= INT32_MAX;
    if (!whole) {
        odd_.insert(row, value);
        ids_.push_back(ids_.empty() ? INT32_MIN : ids_.back());
    } else {
        const auto id = std::int32_t(value);
        if (rising_ && !ids_.empty() && id < ids_.back()) {
            rising_ = false;
            buildChains();
        }
        ids_.push_back(id);
        if (greatestKnown_ && (!greatest_ || id > *greatest_))
            greatest_ = id;
    }
    if (!rising_)
        chain(row);
}

void IdColumn::truncate(std::uint32_t rows) {
    if (rows >= ids_.size())
        return;
    ids_.resize(rows);
    for (auto it = odd_.begin(); it != odd_.end();)
        it = it.key() >= rows ? odd_.erase(it) : std::next(it);
    greatestKnown_ = false;
    if (!rising_) {
        ends_.clear();
        next_.clear();
        buildChains();
    }
}

void IdColumn::deleted(std::uint32_t row) {
    if (greatestKnown_ && greatest_ && id(row) == greatest_)
        greatestKnown_ = false;
}

std::optional<double> IdColumn::number(std::uint32_t row) const {
    if (isOdd(row)) {
        const double v = odd_.value(row);
        return std::isnan(v) ? std::nullopt : std::optional<double>(v);
    }
    return double(ids_[row]);
}

std::optional<std::int32_t> IdColumn::id(std::uint32_t row) const {
    return isOdd(row) ? std::nullopt : std::optional<std::int32_t>(ids_[row]);
}

void IdColumn::buildChains() {
    next_.reserve(std::max<std::size_t>(expected_, ids_.size()));
    for (std::uint32_t r = 0; r < ids_.size(); ++r)
        chain(r);
}

void IdColumn::chain(std::uint32_t row) {
    next_.push_back(kNoRow);
    if (isOdd(row))
        return;
    auto it = ends_.find(ids_[row]);
    if (it == ends_.end()) {
        ends_.insert(ids_[row], {row, row});
    } else {
        next_[it->tail] = row;
        it->tail = row;
    }
}

std::uint32_t IdColumn::find(std::int32_t id, std::uint32_t from, std::uint32_t limit, const LiveRows& live) {
    limit = std::min(limit, size());
    if (from >= limit)
        return kNoRow;
    if (rising_) {
        // The rows holding `id` stand together; the first live one among them is it.
        auto r = std::uint32_t(std::lower_bound(ids_.begin() + from, ids_.begin() + limit, id) - ids_.begin());
        for (;; ++r) {
            r = live.nextFrom(r);
            if (r >= limit || ids_[r] != id)
                return kNoRow;
            if (!isOdd(r))
                return r;
        }
    }
    auto it = ends_.find(id);
    if (it == ends_.end())
        return kNoRow;
    // Deleted rows at the head are dropped from the chain for good, except its last row,
    // which new rows with the same id are linked behind.
    while (!live.test(it->head) && next_[it->head] != kNoRow)
        it->head = next_[it->head];
    std::uint32_t r = it->head;
    if (from > 0 && this->id(from - 1) == id)
        r = next_[from - 1]; // a walk going on from the row before
    for (; r != kNoRow && r < limit; r = next_[r])
        if (r >= from && live.test(r))
            return r;
    return kNoRow;
}

std::optional<std::int32_t> IdColumn::greatest(const LiveRows& live) const {
    if (rising_) {
        for (std::uint32_t r = live.lastBefore(size()); r != kNoRow; r = live.lastBefore(r))
            if (!isOdd(r))
                return ids_[r];
        return std::nullopt;
    }
    if (!greatestKnown_) {
        greatest_.reset();
        for (std::uint32_t r = live.nextFrom(0); r < size(); r = live.nextFrom(r + 1))
            if (!isOdd(r) && (!greatest_ || ids_[r] > *greatest_))
                greatest_ = ids_[r];
        greatestKnown_ = true;
    }
    return greatest_;
}

} // namespace melofon::store
