#include "store/dbf_format.h"
#include "store/dbf_table.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

namespace melofon::store {

using namespace dbf;

DbfTable::~DbfTable() {
    if (fd_ < 0)
        return;
    if (headerDirty_) {
        try {
            commit();
        } catch (const StoreError&) {
            // Rolled back to the last commit; nothing more can be done on the way out.
        }
    }
    ::close(fd_);
}

void DbfTable::fail(StoreError::Kind kind, const QString& why) const {
    throw StoreError(kind, QStringLiteral("No se puede usar la tabla %1: %2.")
                               .arg(displayName(path_), why));
}

std::unique_ptr<DbfTable> DbfTable::open(const QString& path, Mode mode) {
    std::unique_ptr<DbfTable> t(new DbfTable);
    t->path_ = path;
    t->mode_ = mode;
    const QByteArray native = QFile::encodeName(path);
    t->fd_ = ::open(native.constData(), (mode == Mode::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (t->fd_ < 0)
        t->fail(StoreError::Kind::CannotOpen, systemError(errno));

    struct stat st {};
    if (::fstat(t->fd_, &st) != 0)
        t->fail(StoreError::Kind::CannotOpen, systemError(errno));
    if (!S_ISREG(st.st_mode))
        t->fail(StoreError::Kind::CannotOpen, QStringLiteral("no es un archivo normal"));
    const std::uint64_t fileSize = std::uint64_t(st.st_size);

    // Everything below is checked against the file's real size before anything is
    // allocated from the header's numbers.
    unsigned char prefix[kPrefixSize];
    if (fileSize < 1 || !preadFully(t->fd_, prefix, std::min<std::uint64_t>(fileSize, kPrefixSize), 0))
        t->fail(StoreError::Kind::NotDbase, QStringLiteral("el archivo está vacío"));
    if (prefix[0] != 0x03 && prefix[0] != 0x83)
        t->fail(StoreError::Kind::NotDbase, QStringLiteral("no es una tabla dBASE III"));
    if (fileSize < kPrefixSize)
        t->fail(StoreError::Kind::Damaged, QStringLiteral("la cabecera está incompleta"));
    const std::uint32_t declaredCount = le32(prefix + 4);
    t->headerLength_ = le16(prefix + 8);
    t->recordLength_ = le16(prefix + 10);
    if (t->headerLength_ < kPrefixSize + kDescriptorSize + 1)
        t->fail(StoreError::Kind::Damaged,
                QStringLiteral("la cabecera declara %1 bytes, menos de los que ocupa un campo")
                    .arg(t->headerLength_));
    if (t->headerLength_ > fileSize)
        t->fail(StoreError::Kind::Damaged, QStringLiteral("la cabecera está incompleta"));
    if (t->recordLength_ < 2)
        t->fail(StoreError::Kind::Damaged, QStringLiteral("la longitud de registro no es válida"));

    std::vector<unsigned char> header(t->headerLength_);
    if (!preadFully(t->fd_, header.data(), header.size(), 0))
        t->fail(StoreError::Kind::CannotOpen, QStringLiteral("no se pudo leer la cabecera"));
    std::uint32_t used = 1;
    for (std::uint32_t pos = kPrefixSize;
         pos + kDescriptorSize <= t->headerLength_ && header[pos] != kHeaderEnd;
         pos += kDescriptorSize) {
        const unsigned char* d = header.data() + pos;
        FieldDef f;
        f.name = QByteArray(reinterpret_cast<const char*>(d), int(qstrnlen(reinterpret_cast<const char*>(d), 11)));
        f.type = char(std::toupper(d[11]));
        f.length = d[16];
        f.decimals = d[17];
        if (f.name.isEmpty() || f.length == 0)
            t->fail(StoreError::Kind::Damaged,
                    QStringLiteral("la descripción del campo %1 no es válida")
                        .arg((pos - kPrefixSize) / kDescriptorSize + 1));
        t->fieldOffsets_.push_back(int(used));
        used += std::uint32_t(f.length);
        t->fields_.push_back(std::move(f));
    }
    if (t->fields_.empty())
        t->fail(StoreError::Kind::Damaged, QStringLiteral("no tiene campos"));
    if (used > t->recordLength_)
        t->fail(StoreError::Kind::Damaged,
                QStringLiteral("los campos ocupan %1 bytes y el registro solo %2")
                    .arg(used)
                    .arg(t->recordLength_));

    // A .cpg sidecar names the code page; otherwise the language driver byte does.
    const QString cpg = sidecarPath(path);
    if (!cpg.isEmpty()) {
        QFile f(cpg);
        if (!f.open(QIODevice::ReadOnly))
            t->fail(StoreError::Kind::CannotOpen,
                    QStringLiteral("no se pudo leer %1").arg(displayName(cpg)));
        const QByteArray text = f.read(256);
        auto page = CodePage::fromCpgText(text);
        if (!page)
            t->fail(StoreError::Kind::UnknownCodePage,
                    QStringLiteral("%1 indica un código de página desconocido («%2»)")
                        .arg(displayName(cpg), QString::fromLatin1(text.trimmed())));
        t->codePage_ = *page;
    } else {
        t->codePage_ = CodePage::fromLanguageDriver(prefix[29]).value_or(CodePage("CP850"));
    }

    const std::uint64_t onDisk = (fileSize - t->headerLength_) / t->recordLength_;
    const std::uint32_t count = std::uint32_t(std::min<std::uint64_t>(declaredCount, onDisk));

    t->committedRows_ = count;
    t->fileSize_ = std::int64_t(fileSize);
    const std::uint64_t end = t->headerLength_ + std::uint64_t(count) * t->recordLength_;
    const auto tail = std::int64_t(fileSize - end);
    bool clean = false;
    if (tail == 1) {
        unsigned char last = 0;
        clean = preadFully(t->fd_, &last, 1, std::int64_t(end)) && last == kEndOfFile;
    }
    t->tailIsOurs_ = !clean && count == declaredCount && t->isOurUncommittedTail(end, tail);

    t->readRecords(count);
    return t;
}

// What an interrupted command of ours leaves past the count: its records, each beginning
// with the end mark its commit would have replaced (a blank if that reached the disk, or
// all zeros where a power cut kept the record from it), the last perhaps partial, and
// the end mark. Anything else is someone else's data.
bool DbfTable::isOurUncommittedTail(std::int64_t end, std::int64_t tail) const {
    if (tail > std::int64_t(64) << 20)
        return false;
    std::vector<char> bytes(static_cast<std::size_t>(tail));
    if (tail > 0 && !preadFully(fd_, bytes.data(), bytes.size(), end))
        return false;
    for (std::size_t at = 0; at < bytes.size(); at += recordLength_) {
        const std::size_t n = std::min<std::size_t>(recordLength_, bytes.size() - at);
        const char* record = bytes.data() + at;
        const bool zeros = std::all_of(record, record + n, [](char c) { return c == '\0'; });
        if (!zeros && record[0] != ' ' && record[0] != char(kEndOfFile))
            return false;
    }
    return true;
}

std::int64_t DbfTable::committedEnd() const {
    return std::int64_t(headerLength_) + std::int64_t(committedRows_) * recordLength_;
}

void DbfTable::readRecords(std::uint32_t count) {
    ids_.resize(fields_.size());
    live_.reserve(count);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].isNumeric()) {
            ids_[i] = std::make_unique<IdColumn>();
            ids_[i]->reserve(count);
        }
    }

    // Read in blocks; only the flag byte and the id fields of each record are kept.
    const std::uint32_t perBlock = std::max<std::uint32_t>(1, (1u << 20) / recordLength_);
    std::vector<char> block(std::size_t(perBlock) * recordLength_);
    bool endMarkSeen = false;
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t n = std::min(perBlock, count - done);
        const std::int64_t offset = std::int64_t(headerLength_) + std::int64_t(done) * recordLength_;
        if (!preadFully(fd_, block.data(), std::size_t(n) * recordLength_, offset))
            fail(StoreError::Kind::CannotOpen, QStringLiteral("no se pudieron leer los registros"));
        for (std::uint32_t i = 0; i < n; ++i) {
            const char* record = block.data() + std::size_t(i) * recordLength_;
            // An end mark in a flag byte is where an interrupted commit's rows begin:
            // that one and all after it are torn, as readers that stop there see it.
            endMarkSeen = endMarkSeen || record[0] == '\x1a';
            storeRecord(record, endMarkSeen);
        }
        done += n;
    }
}

void DbfTable::storeRecord(const char* record, bool torn) {
    torn = torn || (record[0] != ' ' && record[0] != '*');
    if (torn)
        tornRows_.push_back(rowCount());
    live_.push(record[0] == ' ' && !torn);
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (ids_[i])
            ids_[i]->push(fieldNumber(record, int(i)));
}

double DbfTable::fieldNumber(const char* record, int field) const {
    const FieldDef& f = fields_[std::size_t(field)];
    const char* p = record + fieldOffsets_[std::size_t(field)];
    if (f.isNumeric())
        return parseNumber(p, std::size_t(f.length));
    bool ok = false;
    const double v = fieldText(p, std::size_t(f.length)).trimmed().toDouble(&ok);
    return ok ? v : std::nan("");
}

IdColumn& DbfTable::idColumn(int field) {
    auto& column = ids_[std::size_t(field)];
    if (!column) {
        // A text field holding ids, as another program may write them: read once.
        column = std::make_unique<IdColumn>();
        column->reserve(rowCount());
        for (std::uint32_t r = 0; r < rowCount(); ++r)
            column->push(number(r, field).value_or(std::nan("")));
    }
    return *column;
}

std::uint32_t DbfTable::findId(int field, std::int32_t id, std::uint32_t from, std::uint32_t limit) {
    return idColumn(field).find(id, from, limit, live_);
}

std::optional<std::int32_t> DbfTable::greatestId(int field) { return idColumn(field).greatest(live_); }

int DbfTable::fieldIndex(QByteArrayView name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (QByteArrayView(fields_[i].name).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

int DbfTable::requireField(QByteArrayView name) const {
    const int index = fieldIndex(name);
    if (index < 0)
        throw StoreError(StoreError::Kind::BadValue,
                         QStringLiteral("La tabla %1 no tiene el campo %2.")
                             .arg(QFileInfo(path_).fileName(), QString::fromLatin1(name)));
    return index;
}

std::optional<double> DbfTable::number(std::uint32_t row, int field) const {
    if (fields_[std::size_t(field)].isNumeric())
        return ids_[std::size_t(field)]->number(row);
    const QString t = text(row, field).trimmed();
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QString DbfTable::text(std::uint32_t row, int field) const {
    const FieldDef& f = fields_[std::size_t(field)];
    if (f.isNumeric()) {
        const auto v = number(row, field);
        return v ? QString::number(*v, 'f', f.decimals) : QString();
    }
    return fieldText(record(row) + fieldOffsets_[std::size_t(field)], std::size_t(f.length));
}

// Rows are read a page at a time from the one asked for on, as the list views ask
// for them in order; rows not yet committed from memory. A committed row's field bytes
// never change, so the cache never goes stale.
const char* DbfTable::record(std::uint32_t row) const {
    if (row >= rowCount())
        fail(StoreError::Kind::NoCurrentRow, QStringLiteral("no tiene la fila %1").arg(std::uint64_t(row) + 1));
    if (row >= committedRows_)
        return appended_.constData() + std::size_t(row - committedRows_) * recordLength_;
    if (row < cache_.first || row >= cache_.first + cache_.rows) {
        const std::uint32_t rows = std::min(std::max<std::uint32_t>(1, (4u << 10) / recordLength_), committedRows_ - row);
        cache_.bytes.resize(std::size_t(rows) * recordLength_);
        cache_.rows = 0;
        if (!preadFully(fd_, cache_.bytes.data(), cache_.bytes.size(),
                        std::int64_t(headerLength_) + std::int64_t(row) * recordLength_))
            fail(StoreError::Kind::CannotOpen,
                 QStringLiteral("no se pudo leer la fila %1").arg(std::uint64_t(row) + 1));
        cache_.first = row;
        cache_.rows = rows;
    }
    return cache_.bytes.data() + std::size_t(row - cache_.first) * recordLength_;
}

QString DbfTable::fieldText(const char* bytes, std::size_t length) const {
    while (length > 0 && isPad(bytes[length - 1]))
        --length;
    return codePage_.decode(bytes, qsizetype(length));
}

QVariant DbfTable::value(std::uint32_t row, int field) const {
    if (!fields_[std::size_t(field)].isNumeric())
        return text(row, field);
    const auto v = number(row, field);
    if (!v)
        return {};
    if (std::trunc(*v) == *v && std::fabs(*v) < 9007199254740992.0)
        return QVariant(qint64(*v));
    return QVariant(*v);
}

} // namespace melofon::store
