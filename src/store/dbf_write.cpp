#include "store/dbf_format.h"
#include "store/dbf_table.h"

#include <QFile>

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
bool TableIo::rename(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}
bool TableIo::remove(const QString& path) { return ::unlink(QFile::encodeName(path).constData()) == 0; }
bool TableIo::syncDirectory(int fd) { return ::fsync(fd) == 0; }
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
bool DbfTable::restore(const FileEnd& e) {
    TableIo& io = TableIo::current();
    bool ok = e.bytes.isEmpty() || io.write(fd_, e.bytes.constData(), std::size_t(e.bytes.size()), e.at);
    ok = io.truncate(fd_, e.size) && ok;
    ok = io.sync(fd_) && ok;
    fileSize_ = e.size;
    return ok;
}

bool DbfTable::discardUncommitted() {
    TableIo& io = TableIo::current();
    bool ok = true;
    if (applying_) {
        // The count and the marks may have reached the file.
        for (const std::uint32_t row : deleted_) {
            const char live = ' ';
            if (row < committedRows_)
                ok = io.write(fd_, &live, 1, flagOffset(row)) && ok;
        }
    }
    if (appending_ || applying_) {
        char count[4];
        putLe32(count, committedRows_);
        ok = io.write(fd_, count, sizeof count, 4) && ok;
    }
    if (appending_)
        ok = restore(lastCommit_) && ok; // the end mark back in the first new flag, the tail cut
    else if (applying_)
        ok = io.sync(fd_) && ok;
    dropRowsFrom(committedRows_);
    for (const std::uint32_t row : deleted_) {
        if (row >= committedRows_)
            continue;
        live_.revive(row);
        for (auto& column : ids_)
            if (column)
                column->revived();
    }
    deleted_.clear();
    appended_.clear();
    appending_ = applying_ = headerDirty_ = false;
    return ok;
}

// Puts the file back as the last commit left it, so that no reader sees a half-written
// row past the count, forgets the uncommitted changes, and reports `err`.
void DbfTable::rollBack(int err) {
    discardUncommitted();
    failWrite(err);
}

void DbfTable::dropRowsFrom(std::uint32_t row) {
    live_.truncate(row);
    for (auto& column : ids_)
        if (column)
            column->truncate(row);
    std::erase_if(tornRows_, [row](std::uint32_t r) { return r >= row; });
}

void DbfTable::commit() {
    if (!hasUncommitted())
        return;
    syncAppended();
    try {
        applyCommit();
    } catch (const StoreError&) {
        discardUncommitted();
        throw;
    }
    endCommit();
}

// The new records in one write, past the count and behind the end mark that stays in the
// first one's flag byte until the commit: readers that stop at the end mark rather than
// at the count (dbfread) see none of them, and a count that reaches the disk first names
// a torn row. The others carry their blank flag already, so that the commit sets one.
void DbfTable::syncAppended() {
    if (appended_.isEmpty() || appending_)
        return;
    TableIo& io = TableIo::current();
    const std::int64_t at = committedEnd();
    lastCommit_ = fileEndFrom(at);
    appended_.append(char(kEndOfFile));
    const bool written = io.write(fd_, appended_.constData() + 1, std::size_t(appended_.size() - 1), at + 1);
    const int err = errno;
    appended_.chop(1);
    if (!written) {
        restore(lastCommit_);
        discardUncommitted();
        failWrite(err);
    }
    appending_ = true;
    fileSize_ = std::max(fileSize_, at + std::int64_t(appended_.size()) + 1);
    if (!io.sync(fd_))
        rollBack(errno);
}

DbfTable::Commit DbfTable::pendingCommit() const {
    Commit c{headerLength_, recordLength_, committedRows_, rowCount(), kDigestStart, deleted_};
    for (qsizetype at = 0; at < appended_.size(); at += recordLength_)
        c.appendedDigest = digest(c.appendedDigest, appended_.constData() + at + 1, recordLength_ - 1);
    std::sort(c.deleted.begin(), c.deleted.end());
    return c;
}

// The header's date and count, then the first new record's flag: until it is set, readers
// that stop at the end mark (dbfread) stop there, while those that go by the count
// (dbfdump) already list the new rows; one write apart. Then the marks, a run of
// neighbouring rows in one write of their records as they are: both kinds of reader read
// those alike.
bool DbfTable::writeCommit(std::uint32_t rowsBefore, std::uint32_t rowsAfter, std::vector<std::uint32_t> deleted) {
    TableIo& io = TableIo::current();
    QByteArray header = headerDate();
    header.resize(7);
    putLe32(header.data() + 3, rowsAfter);
    bool ok = io.write(fd_, header.constData(), std::size_t(header.size()), 1);
    const char live = ' ';
    if (ok && rowsAfter > rowsBefore)
        ok = io.write(fd_, &live, 1, flagOffset(rowsBefore));
    std::sort(deleted.begin(), deleted.end());
    std::vector<char> run;
    for (std::size_t i = 0; ok && i < deleted.size();) {
        std::size_t j = i;
        while (j + 1 < deleted.size() && deleted[j + 1] == deleted[j] + 1 && j - i < 255)
            ++j;
        const std::size_t size = std::size_t(deleted[j] - deleted[i]) * recordLength_ + 1;
        run.resize(size);
        ok = size == 1 || preadFully(fd_, run.data(), size, flagOffset(deleted[i]));
        for (std::size_t at = 0; ok && at < size; at += recordLength_)
            run[at] = '*';
        ok = ok && io.write(fd_, run.data(), size, flagOffset(deleted[i]));
        i = j + 1;
    }
    return ok && io.sync(fd_);
}

void DbfTable::applyCommit() {
    if (!headerDirty_)
        return;
    applying_ = true;
    if (!writeCommit(committedRows_, rowCount(), deleted_))
        failWrite(errno);
}

void DbfTable::endCommit() {
    committedRows_ = rowCount();
    deleted_.clear();
    appended_.clear();
    appending_ = applying_ = headerDirty_ = false;
}

std::uint64_t DbfTable::digestOfRows(std::uint32_t from, std::uint32_t to) const {
    std::uint64_t h = kDigestStart;
    std::vector<char> block(std::size_t(std::max<std::uint32_t>(1, (1u << 20) / recordLength_)) * recordLength_);
    for (std::uint32_t row = from; row < to;) {
        const std::uint32_t n = std::min(std::uint32_t(block.size() / recordLength_), to - row);
        if (!preadFully(fd_, block.data(), std::size_t(n) * recordLength_, flagOffset(row)))
            return 0;
        for (std::uint32_t i = 0; i < n; ++i)
            h = digest(h, block.data() + std::size_t(i) * recordLength_ + 1, recordLength_ - 1);
        row += n;
    }
    return h;
}

bool DbfTable::holds(const Commit& c) const {
    if (c.headerLength != headerLength_ || c.recordLength != recordLength_ || c.rowsAfter < c.rowsBefore ||
        (committedRows_ != c.rowsBefore && committedRows_ != c.rowsAfter) ||
        fileSize_ < flagOffset(c.rowsAfter))
        return false;
    for (const std::uint32_t row : c.deleted)
        if (row >= c.rowsAfter)
            return false;
    return c.rowsAfter == c.rowsBefore || digestOfRows(c.rowsBefore, c.rowsAfter) == c.appendedDigest;
}

void DbfTable::completeCommit(const Commit& c) {
    if (mode_ != Mode::ReadWrite)
        fail(StoreError::Kind::WriteFailed, QStringLiteral("está abierta solo para lectura"));
    if (!writeCommit(c.rowsBefore, c.rowsAfter, c.deleted))
        failWrite(errno);
}

// Held in memory until the commit writes the new records together.
std::uint32_t DbfTable::append(const std::vector<QVariant>& values) {
    const QByteArray record = encodeRecord(values);
    if (mode_ != Mode::ReadWrite)
        fail(StoreError::Kind::WriteFailed, QStringLiteral("está abierta solo para lectura"));
    const std::uint32_t row = rowCount();
    appended_ += record;
    headerDirty_ = true;
    storeRecord(record.constData());
    if (!deferSync_)
        commit();
    return row;
}

void DbfTable::markDeleted(std::uint32_t row) {
    if (row >= rowCount() || isDeleted(row))
        return;
    if (mode_ != Mode::ReadWrite)
        fail(StoreError::Kind::WriteFailed, QStringLiteral("está abierta solo para lectura"));
    live_.kill(row);
    for (auto& column : ids_)
        if (column)
            column->deleted(row);
    deleted_.push_back(row);
    headerDirty_ = true;
    if (!deferSync_)
        commit();
}

} // namespace melofon::store
