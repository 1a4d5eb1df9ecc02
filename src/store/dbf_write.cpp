#include "store/dbf_format.h"
#include "store/dbf_table.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace melofon::store {

using namespace dbf;

namespace {
TableIo systemIo;
TableIo* installedIo = &systemIo;
} // namespace

bool TableIo::write(int fd, const char* data, std::size_t size, std::int64_t offset) {
    return pwriteFully(fd, data, size, offset);
}
bool TableIo::sync(int fd) { return ::fdatasync(fd) == 0; }
bool TableIo::truncate(int fd, std::int64_t length) { return ::ftruncate(fd, off_t(length)) == 0; }
TableIo& TableIo::current() { return *installedIo; }
void TableIo::install(TableIo* io) { installedIo = io ? io : &systemIo; }

void DbfTable::repair() {
    if (mode_ != Mode::ReadWrite || (tornRows_.empty() && !tailIsOurs_))
        return;
    TableIo& io = TableIo::current();
    const auto failRepair = [this] { fail(StoreError::Kind::WriteFailed, writeError(errno)); };
    // Torn rows already count as deleted; only their flag bytes are left to mark.
    for (std::size_t i = 0; i < tornRows_.size(); ++i) {
        const char mark = '*';
        if (!io.write(fd_, &mark, 1, std::int64_t(headerLength_) + std::int64_t(tornRows_[i]) * recordLength_)) {
            tornRows_.erase(tornRows_.begin(), tornRows_.begin() + std::ptrdiff_t(i));
            failRepair();
        }
    }
    tornRows_.clear();
    if (tailIsOurs_) {
        const char eof = char(kEndOfFile);
        const std::int64_t end = committedEnd();
        if (!io.write(fd_, &eof, 1, end) || !io.truncate(fd_, end + 1))
            failRepair();
        fileSize_ = end + 1;
        tailIsOurs_ = false;
    }
    if (!io.sync(fd_))
        failRepair();
}

void DbfTable::writeAt(std::int64_t offset, const char* data, std::size_t size) {
    if (mode_ != Mode::ReadWrite)
        fail(StoreError::Kind::WriteFailed, QStringLiteral("está abierta solo para lectura"));
    if (!TableIo::current().write(fd_, data, size, offset))
        failWrite(errno);
    fileSize_ = std::max(fileSize_, offset + std::int64_t(size));
    dataDirty_ = true;
}

void DbfTable::failWrite(int err) const {
    throw StoreError(StoreError::Kind::WriteFailed,
                     QStringLiteral("No se pudo guardar el cambio en la tabla %1: %2. La tabla queda "
                                    "como estaba antes del cambio.")
                         .arg(displayName(path_), writeError(err)));
}

DbfTable::FileEnd DbfTable::fileEndFrom(std::int64_t at) const {
    FileEnd e{fileSize_, at, QByteArray(qsizetype(std::max<std::int64_t>(0, fileSize_ - at)), '\0')};
    if (!e.bytes.isEmpty() && !preadFully(fd_, e.bytes.data(), std::size_t(e.bytes.size()), at))
        fail(StoreError::Kind::CannotOpen, QStringLiteral("no se pudo leer el final del archivo"));
    return e;
}

// In place first, then the cut: neither needs room the disk may not have.
void DbfTable::restore(const FileEnd& e) {
    TableIo& io = TableIo::current();
    if (!e.bytes.isEmpty())
        io.write(fd_, e.bytes.constData(), std::size_t(e.bytes.size()), e.at);
    io.truncate(fd_, e.size);
    io.sync(fd_);
    fileSize_ = e.size;
}

void DbfTable::discardUncommitted() {
    if (!appending_)
        return;
    char count[4];
    putLe32(count, committedRows_);
    TableIo::current().write(fd_, count, sizeof count, 4);
    restore(lastCommit_);
    dropRowsFrom(committedRows_);
    appending_ = false;
}

// Puts the file back as the last commit left it, so that no reader sees a half-written
// row past the count, forgets the uncommitted rows, and reports `err`.
void DbfTable::rollBack(int err) {
    discardUncommitted();
    headerDirty_ = false;
    failWrite(err);
}

void DbfTable::dropRowsFrom(std::uint32_t row) {
    cache_.rows = 0; // the rows appended in their place will differ
    live_.truncate(row);
    for (auto& column : ids_)
        if (column)
            column->truncate(row);
    std::erase_if(tornRows_, [row](std::uint32_t r) { return r >= row; });
}

void DbfTable::commit() {
    if (!dataDirty_ && !headerDirty_)
        return;
    TableIo& io = TableIo::current();
    if (dataDirty_ && !io.sync(fd_))
        rollBack(errno);
    dataDirty_ = false;
    if (headerDirty_) {
        // The header's count, made durable, then the new rows' flags, made durable. Until
        // the flags are, a new row the count names still holds the end mark in its flag
        // byte: a torn row, listed neither by us (we go by the count) nor by readers that
        // stop at the end mark, and marked deleted by the next repair. Flags before the
        // count would let those readers list a row that we then drop.
        QByteArray header = headerDate();
        header.resize(7);
        putLe32(header.data() + 3, rowCount());
        bool ok = io.write(fd_, header.constData(), std::size_t(header.size()), 1) && io.sync(fd_);
        if (ok && rowCount() > committedRows_) {
            const char live = ' ';
            for (std::uint32_t r = committedRows_; ok && r < rowCount(); ++r)
                ok = io.write(fd_, &live, 1, std::int64_t(headerLength_) + std::int64_t(r) * recordLength_);
            ok = ok && io.sync(fd_);
        }
        if (!ok)
            rollBack(errno);
        headerDirty_ = false;
    }
    committedRows_ = rowCount();
    appending_ = false;
}

std::uint32_t DbfTable::append(const std::vector<QVariant>& values) {
    QByteArray buffer = encodeRecord(values);
    if (mode_ != Mode::ReadWrite)
        fail(StoreError::Kind::WriteFailed, QStringLiteral("está abierta solo para lectura"));
    const std::uint32_t row = rowCount();
    const std::int64_t at = std::int64_t(headerLength_) + std::int64_t(row) * recordLength_;
    // What a failure of this write puts back; for the first uncommitted row also what a
    // failed commit does.
    const FileEnd before = fileEndFrom(at);
    buffer.append(char(kEndOfFile));
    // All but the flag byte, which keeps the end mark that is there until the commit:
    // readers that stop at the end mark rather than at the count (dbfread) see no row
    // that is not committed, and a count that reaches the disk first names a torn row.
    if (!TableIo::current().write(fd_, buffer.constData() + 1, std::size_t(buffer.size() - 1), at + 1)) {
        const int err = errno;
        restore(before);
        failWrite(err);
    }
    if (!appending_)
        lastCommit_ = before;
    appending_ = true;
    fileSize_ = std::max(fileSize_, at + std::int64_t(buffer.size()));
    dataDirty_ = true;
    headerDirty_ = true;

    storeRecord(buffer.constData());
    if (!deferSync_)
        commit();
    return row;
}

void DbfTable::markDeleted(std::uint32_t row) {
    if (row >= rowCount() || isDeleted(row))
        return;
    const char mark = '*';
    writeAt(std::int64_t(headerLength_) + std::int64_t(row) * recordLength_, &mark, 1);
    live_.kill(row);
    for (auto& column : ids_)
        if (column)
            column->deleted(row);
    headerDirty_ = true; // the date
    if (!deferSync_)
        commit();
}

} // namespace melofon::store
