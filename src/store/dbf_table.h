#pragma once

#include "store/code_page.h"
#include "store/row_index.h"
#include "store/store_error.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace melofon::store {

struct FieldDef {
    QByteArray name; // as stored, up to 10 ASCII characters
    char type = 'C'; // 'C' text, 'N' or 'F' numeric; other types are read as text
    int length = 0;
    int decimals = 0;

    bool isNumeric() const { return type == 'N' || type == 'F'; }
};

// The system calls that change a table file. Tables reach the disk only through the one
// installed here, so that a test can record every write and sync and rebuild what a
// crash at any instant would leave.
class TableIo {
public:
    virtual ~TableIo() = default;
    virtual bool write(int fd, const char* data, std::size_t size, std::int64_t offset);
    virtual bool sync(int fd);
    virtual bool truncate(int fd, std::int64_t length);
    virtual bool rename(const QString& from, const QString& to);
    virtual bool remove(const QString& path);
    virtual bool syncDirectory(int fd);

    static TableIo& current();
    // nullptr puts the plain system calls back.
    static void install(TableIo* io);
};

// One dBASE III table file. Its ids are held in memory and indexed, its texts are read
// from the file when asked for, and every change is written through at once.
//
// Reading is liberal (any field order, numeric ids of any width, capped record counts,
// a missing end-of-file mark); writing is strict and ordered so that a crash or a power
// cut at any instant leaves the table as it was before the last commit or after it:
//   new records (+ 0x1A) first, the first of them keeping the end mark in its flag byte,
//   made durable; then the header's date and count, that one flag and the '*' marks,
//   made durable. Until then the new records are a tail that no reader counts or lists,
//   and the two kinds of reader (up to the count, up to the end mark) disagree for one
//   write only, between the count and the flag.
// Rows are addressed by their record number; deleted rows keep their number. A record
// whose flag byte is neither blank nor '*' is torn (its commit did not reach the disk
// whole), and so is every record after one whose flag byte is the end mark, as readers
// that stop at the end mark see them: a torn record counts as deleted.
class DbfTable {
public:
    enum class Mode { ReadOnly, ReadWrite };
    static constexpr std::uint32_t npos = kNoRow;

    // Validates the header before allocating anything; throws StoreError. Never writes:
    // what an interrupted write left behind is mended by repair().
    static std::unique_ptr<DbfTable> open(const QString& path, Mode mode);

    // Mends what Melofon's own interrupted command can leave: torn records become deleted
    // ones, and its uncommitted records (the last perhaps partial) or a missing end mark
    // past the counted records are cut back to the end mark. Anything else past them is
    // not ours and stays as it is. ReadWrite tables only; a no-op when there is nothing
    // to mend.
    void repair();

    // Writes a new empty dBASE III table (and a .cpg sidecar saying UTF-8) atomically.
    static void create(const QString& path, const std::vector<FieldDef>& fields);

    ~DbfTable();
    DbfTable(const DbfTable&) = delete;
    DbfTable& operator=(const DbfTable&) = delete;

    const QString& path() const { return path_; }
    const std::vector<FieldDef>& fields() const { return fields_; }
    const CodePage& codePage() const { return codePage_; }
    // Case-insensitive; -1 when there is no such field.
    int fieldIndex(QByteArrayView name) const;
    // The same, but throws StoreError (BadValue) when there is no such field.
    int requireField(QByteArrayView name) const;

    std::uint32_t rowCount() const { return live_.size(); }
    std::uint32_t liveRowCount() const { return live_.count(); }
    bool isDeleted(std::uint32_t row) const { return !live_.test(row); }
    // The first live row at or after `row` (rowCount() when none), and the last live row
    // before `end` (npos when none), however many rows lie deleted in between.
    std::uint32_t firstLiveFrom(std::uint32_t row) const { return live_.nextFrom(row); }
    std::uint32_t lastLiveBefore(std::uint32_t end) const { return live_.lastBefore(end); }

    // A numeric field: its value as a number, or null when empty or '*'-filled.
    // A text field: its text without the trailing pad blanks, read from the file: only
    // the ids are held in memory.
    QVariant value(std::uint32_t row, int field) const;
    QString text(std::uint32_t row, int field) const;
    std::optional<double> number(std::uint32_t row, int field) const;

    // Encodes and checks every value first; nothing is written when one is refused.
    // `values` holds one entry per field (null for an empty field). Returns the row.
    // A failed write puts the file back as it was before this row.
    std::uint32_t append(const std::vector<QVariant>& values);
    // Gone from memory at once; the mark reaches the file with the commit.
    void markDeleted(std::uint32_t row);

    // Each change is committed at once unless deferred; deferred changes are committed
    // by commit(), or by the store's commit of all three tables. When a commit fails,
    // every change since the last one is taken back, from the file too.
    void setDeferSync(bool defer) { deferSync_ = defer; }
    void commit();
    // Takes back every change since the last commit, from the file too. False when the
    // file could not be put back whole.
    bool discardUncommitted();

    // The steps of a commit, for the store that commits the three tables as one.
    bool hasUncommitted() const { return headerDirty_; }
    // Writes the new records behind the end mark and makes them durable; on a failure
    // takes back every change and throws.
    void syncAppended();
    struct Commit {
        std::uint32_t headerLength = 0;
        std::uint32_t recordLength = 0;
        std::uint32_t rowsBefore = 0;
        std::uint32_t rowsAfter = 0;
        std::uint64_t appendedDigest = 0; // of the new records, their flag bytes left out
        std::vector<std::uint32_t> deleted; // rows to mark, rising
    };
    Commit pendingCommit() const;
    // Writes the count, the flag and the marks, made durable; throws on a failure and
    // leaves the taking back to discardUncommitted().
    void applyCommit();
    void endCommit();
    // Whether the file holds the new records of `c` and its count is from before or after.
    bool holds(const Commit& c) const;
    // Writes what applyCommit() would have, for a commit an interrupted program left. The
    // rows held in memory are not updated: the table is to be opened again.
    void completeCommit(const Commit& c);

    // The first live row at or after `from` and before `limit` whose field holds `id`, in
    // record order; npos when none. The id fields are indexed as the table is read and
    // kept so through every change; a text field is indexed on its first search.
    std::uint32_t findId(int field, std::int32_t id, std::uint32_t from, std::uint32_t limit);
    // The greatest id a live row holds in `field`; nothing when none holds one.
    std::optional<std::int32_t> greatestId(int field);

private:
    DbfTable() = default;
    void readRecords(std::uint32_t count);
    void storeRecord(const char* record, bool torn = false);
    QByteArray encodeRecord(const std::vector<QVariant>& values) const;
    void writeAt(std::int64_t offset, const char* data, std::size_t size);
    // The file from `at` to its end, as it is now.
    struct FileEnd {
        std::int64_t size;
        std::int64_t at;
        QByteArray bytes;
    };
    FileEnd fileEndFrom(std::int64_t at) const;
    bool restore(const FileEnd& end);
    bool isOurUncommittedTail(std::int64_t end, std::int64_t tail) const;
    std::int64_t committedEnd() const;
    [[noreturn]] void failWrite(int err) const;
    [[noreturn]] void rollBack(int err);
    std::int64_t flagOffset(std::uint32_t row) const {
        return std::int64_t(headerLength_) + std::int64_t(row) * recordLength_;
    }
    bool writeCommit(std::uint32_t rowsBefore, std::uint32_t rowsAfter, std::vector<std::uint32_t> deleted);
    std::uint64_t digestOfRows(std::uint32_t from, std::uint32_t to) const;
    void dropRowsFrom(std::uint32_t row);
    // The bytes of a row's record, read through a small cache.
    const char* record(std::uint32_t row) const;
    // A field of a record in memory: its text without the pad blanks, its number.
    QString fieldText(const char* bytes, std::size_t length) const;
    double fieldNumber(const char* record, int field) const;
    IdColumn& idColumn(int field);
    [[noreturn]] void fail(StoreError::Kind kind, const QString& why) const;

    QString path_;
    int fd_ = -1;
    Mode mode_ = Mode::ReadOnly;
    CodePage codePage_{"CP850"};
    std::vector<FieldDef> fields_;
    std::vector<int> fieldOffsets_;
    std::uint32_t headerLength_ = 0;
    std::uint32_t recordLength_ = 0;
    // Torn rows, until repair() marks them deleted.
    std::vector<std::uint32_t> tornRows_;
    // Rows the header on disk counts; rows past it are appended but not committed.
    std::uint32_t committedRows_ = 0;
    std::int64_t fileSize_ = 0;
    QByteArray appended_;    // the records appended since the last commit
    bool appending_ = false; // ...and written past committedRows_
    std::vector<std::uint32_t> deleted_; // since the last commit, not yet marked in the file
    bool applying_ = false;              // the commit's in-place writes may have begun
    FileEnd lastCommit_{};   // the file's end as the last commit left it, while appending
    // Whether repair() may cut what lies past the counted records.
    bool tailIsOurs_ = false;
    LiveRows live_;
    // One per field: the numeric ones from the start, a text one once it is searched.
    std::vector<std::unique_ptr<IdColumn>> ids_;
    struct ReadCache {
        std::uint32_t first = 0;
        std::uint32_t rows = 0;
        std::vector<char> bytes;
    };
    mutable ReadCache cache_;
    bool deferSync_ = false;
    bool headerDirty_ = false; // changes since the last commit
};

// The file in `dir` named `baseName` + ".dbf" whatever the letter case of either part;
// an empty string when there is none. The exact spelling wins when several exist.
QString findTableFile(const QString& dir, const QString& baseName);

} // namespace melofon::store
