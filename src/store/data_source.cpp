#include "store/data_source.h"

#include <QFileInfo>

#include <cmath>

namespace melofon::store {

namespace {
constexpr auto npos = DbfTable::npos;
}

QVariant Field::Value() const {
    if (set_.editing_)
        return (*set_.editing_)[std::size_t(index_)];
    set_.requireCurrentRow();
    return set_.table_.value(set_.current_, index_);
}

void Field::setValue(const QVariant& value) {
    if (!set_.editing_)
        throw StoreError(StoreError::Kind::NotEditing,
                         QStringLiteral("No se puede escribir un campo sin empezar una fila nueva."));
    (*set_.editing_)[std::size_t(index_)] = value;
}

std::optional<qint32> Field::toInt32() const {
    const QVariant v = Value();
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const double d = v.userType() == QMetaType::QString ? v.toString().trimmed().toDouble(&ok)
                                                         : v.toDouble(&ok);
    if (!ok || std::trunc(d) != d || d < INT32_MIN || d > INT32_MAX)
        return std::nullopt;
    return qint32(d);
}

void Recordset::refresh() {
    visible_ = table_.rowCount();
    liveVisible_ = table_.liveRowCount();
    editing_.reset();
    MoveFirst();
}

std::uint32_t Recordset::firstLiveFrom(std::uint32_t row) const {
    row = table_.firstLiveFrom(row);
    return row < visibleEnd() ? row : npos;
}

// Moving abandons a new row that was started but not stored (or refused), as it would
// otherwise be what the fields read back.
void Recordset::MoveFirst() {
    editing_.reset();
    current_ = firstLiveFrom(0);
}

void Recordset::MoveNext() {
    editing_.reset();
    if (current_ != npos)
        current_ = firstLiveFrom(current_ + 1);
}

void Recordset::MoveLast() {
    editing_.reset();
    current_ = table_.lastLiveBefore(visibleEnd());
}

void Recordset::requireCurrentRow() const {
    if (current_ == npos || table_.isDeleted(current_))
        throw StoreError(StoreError::Kind::NoCurrentRow,
                         QStringLiteral("No hay fila actual en la tabla %1.")
                             .arg(QFileInfo(table_.path()).fileName()));
}

Field Recordset::Fields(QByteArrayView name) { return Field(*this, table_.requireField(name)); }

void Recordset::AddNew() { editing_.emplace(table_.fields().size()); }

void Recordset::Update() {
    if (!editing_)
        throw StoreError(StoreError::Kind::NotEditing,
                         QStringLiteral("No hay ninguna fila nueva que guardar."));
    // On a refusal the new row stays in edit so that nothing is lost silently.
    table_.append(*editing_);
    editing_.reset();
}

void Recordset::Delete() {
    requireCurrentRow();
    table_.markDeleted(current_);
    --liveVisible_;
}

bool Recordset::FindFirst(QByteArrayView field, qint32 id) {
    editing_.reset();
    current_ = table_.findId(table_.requireField(field), id, 0, visibleEnd());
    return current_ != npos;
}

bool Recordset::FindNext(QByteArrayView field, qint32 id) {
    editing_.reset();
    if (current_ == npos)
        return false;
    current_ = table_.findId(table_.requireField(field), id, current_ + 1, visibleEnd());
    return current_ != npos;
}

DataSource::DataSource(std::unique_ptr<DbfTable> table)
    : table_(std::move(table)), recordset_(new Recordset(*table_)) {}

void DataSource::Refresh() { recordset_->refresh(); }

} // namespace melofon::store
