#pragma once

#include "store/dbf_table.h"

#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <algorithm>

#include <memory>
#include <optional>
#include <vector>

namespace melofon::store {

class Recordset;

// One field of a row set's current row (or of the row being added), by name.
class Field {
public:
    QVariant Value() const;
    void setValue(const QVariant& value);
    Field& operator=(const QVariant& value) {
        setValue(value);
        return *this;
    }

    // The value as a 32-bit id, compared as a number whether stored as a number or as
    // its decimal text; nothing when empty, not whole or out of range.
    std::optional<qint32> toInt32() const;
    QString toText() const { return Value().toString(); }

private:
    friend class Recordset;
    Field(Recordset& set, int index) : set_(set), index_(index) {}
    Recordset& set_;
    int index_;
};

// The row set of a data source: a cursor over the table's live rows in stored order.
// Rows this set appends are seen after the data source's next Refresh; rows it deletes
// are gone at once from its counts and later walks.
class Recordset {
public:
    // Greater than 0 exactly when the set holds at least one row.
    int RecordCount() const { return int(liveVisible_); }
    void MoveFirst();
    void MoveNext();
    void MoveLast();
    // "EOF" itself is the C library's end-of-file macro, hence the spelling.
    bool Eof() const { return current_ == DbfTable::npos; }

    Field Fields(QByteArrayView name);

    void AddNew();
    void Update();
    void Delete();

    // The first row in stored order whose field equals `id` becomes current; at EOF
    // when none does. Same result as a walk from the first row, through the index.
    bool FindFirst(QByteArrayView field, qint32 id);
    // The next such row after the current one.
    bool FindNext(QByteArrayView field, qint32 id);

private:
    friend class DataSource;
    friend class Field;
    explicit Recordset(DbfTable& table) : table_(table) {}
    void requireCurrentRow() const;
    std::uint32_t firstLiveFrom(std::uint32_t row) const;
    // A failed commit takes rows back from the table, perhaps some this set already saw.
    std::uint32_t visibleEnd() const { return std::min(visible_, table_.rowCount()); }
    void refresh();

    DbfTable& table_;
    std::uint32_t visible_ = 0;     // rows past this one are not seen until Refresh
    std::uint32_t liveVisible_ = 0;
    std::uint32_t current_ = DbfTable::npos;
    std::optional<std::vector<QVariant>> editing_;
};

// A data source bound to one table file, with its own current row.
class DataSource {
public:
    DataSource(std::unique_ptr<DbfTable> table);

    // The first call shows the table as opened; later calls show the rows this source
    // appended since. The first row, if any, becomes current.
    void Refresh();
    Recordset& recordset() { return *recordset_; }
    DbfTable& table() { return *table_; }

private:
    std::unique_ptr<DbfTable> table_;
    std::unique_ptr<Recordset> recordset_;
};

} // namespace melofon::store
