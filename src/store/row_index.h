#pragma once

#include <QHash>

#include <cstdint>
#include <optional>
#include <vector>

namespace melofon::store {

inline constexpr std::uint32_t kNoRow = UINT32_MAX;

// Which rows of a table are live, one bit each. The next or previous live row is found a
// word at a time, and across long runs of deleted rows 64 words at a time, so a walk
// costs no more than the rows it meets.
class LiveRows {
public:
    std::uint32_t size() const { return size_; }
    std::uint32_t count() const { return count_; }
    bool test(std::uint32_t row) const { return (words_[row >> 6] >> (row & 63)) & 1; }

    void reserve(std::uint32_t rows);
    void push(bool live);
    void kill(std::uint32_t row);
    void revive(std::uint32_t row);
    void truncate(std::uint32_t rows);

    // The first live row at or after `row`, size() when none.
    std::uint32_t nextFrom(std::uint32_t row) const;
    // The last live row before `end`, kNoRow when none.
    std::uint32_t lastBefore(std::uint32_t end) const;

private:
    std::size_t nextWord(std::size_t from) const;
    std::size_t lastWordBefore(std::size_t end) const;
    void markWord(std::size_t word);

    std::vector<std::uint64_t> words_;
    std::vector<std::uint64_t> summary_; // bit w: words_[w] holds a live row
    std::uint32_t size_ = 0;
    std::uint32_t count_ = 0;
};

// The values of one id field, row by row, with the index that finds the rows holding an
// id. While the ids never fall along the rows, as in every table Melofon writes, the
// values themselves are the index (a binary search) and cost 4 bytes a row; a table
// written elsewhere in another order gets chains of the rows that share an id.
class IdColumn {
public:
    void reserve(std::uint32_t rows);
    // NaN, a fraction or a number outside 32 bits is kept, but matches no id.
    void push(double value);
    void truncate(std::uint32_t rows);
    // Tells the column that `row` was deleted.
    void deleted(std::uint32_t row);
    void revived() { greatestKnown_ = false; }

    std::uint32_t size() const { return std::uint32_t(ids_.size()); }
    std::optional<double> number(std::uint32_t row) const;
    std::optional<std::int32_t> id(std::uint32_t row) const;

    // The first live row in [from, limit) holding `id`, kNoRow when none.
    std::uint32_t find(std::int32_t id, std::uint32_t from, std::uint32_t limit, const LiveRows& live);
    // The greatest id of a live row; nothing when no live row holds one.
    std::optional<std::int32_t> greatest(const LiveRows& live) const;

private:
    struct Ends {
        std::uint32_t head;
        std::uint32_t tail;
    };
    bool isOdd(std::uint32_t row) const { return !odd_.isEmpty() && odd_.contains(row); }
    void buildChains();
    void chain(std::uint32_t row);

    std::vector<std::int32_t> ids_;
    // Rows holding no 32-bit id, with what they hold; ids_ repeats the row before there,
    // so that it keeps its order.
    QHash<std::uint32_t, double> odd_;
    bool rising_ = true;
    std::uint32_t expected_ = 0;
    // Only once the ids have fallen somewhere.
    QHash<std::int32_t, Ends> ends_;
    std::vector<std::uint32_t> next_;
    mutable std::optional<std::int32_t> greatest_;
    mutable bool greatestKnown_ = false;
};

} // namespace melofon::store
