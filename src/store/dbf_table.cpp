#include "store/dbf_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace melofon::store {

namespace {

constexpr unsigned char kEndOfFile = 0x1A;
constexpr unsigned char kHeaderEnd = 0x0D;
constexpr std::uint32_t kPrefixSize = 32;
constexpr std::uint32_t kDescriptorSize = 32;

std::uint32_t le16(const unsigned char* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
void putLe16(char* p, std::uint32_t v) {
    p[0] = char(v & 0xFF);
    p[1] = char((v >> 8) & 0xFF);
}
void putLe32(char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = char((v >> (8 * i)) & 0xFF);
}

QString systemError(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// Why a write failed, in the user's words.
QString writeError(int err) {
    switch (err) {
    case ENOSPC:
        return QStringLiteral("el disco está lleno");
    case EDQUOT:
        return QStringLiteral("se ha superado la cuota de disco");
    case EIO:
        return QStringLiteral("error de entrada/salida del disco");
    case EROFS:
        return QStringLiteral("el sistema de archivos es de solo lectura");
    case EACCES:
    case EPERM:
        return QStringLiteral("no hay permiso para escribir en el archivo");
    case EFBIG:
        return QStringLiteral("el archivo ha llegado al tamaño máximo");
    default:
        return systemError(err);
    }
}

// Reads exactly `size` bytes at `offset`; false on a short read.
bool preadFully(int fd, void* buffer, std::size_t size, std::int64_t offset) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::pread(fd, out, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

bool pwriteFully(int fd, const char* data, std::size_t size, std::int64_t offset) {
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, data, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
        offset += n;
    }
    return true;
}

bool isPad(char c) { return c == ' ' || c == '\0'; }

double parseNumber(const char* p, std::size_t size) {
    const char* begin = p;
    const char* end = p + size;
    while (begin < end && isPad(*begin))
        ++begin;
    while (end > begin && isPad(end[-1]))
        --end;
    if (begin == end || std::all_of(begin, end, [](char c) { return c == '*'; }))
        return std::nan("");
    if (*begin == '+')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end)
        return std::nan("");
    return value;
}

// The file in `dir` whose name equals `fileName` ignoring letter case.
QString findCaseInsensitive(const QString& dir, const QString& fileName) {
    const QDir d(dir);
    if (d.exists(fileName))
        return d.filePath(fileName);
    QStringList matches;
    const QStringList entries = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& entry : entries)
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            matches << entry;
    if (matches.isEmpty())
        return {};
    matches.sort();
    return d.filePath(matches.first());
}

QString sidecarPath(const QString& tablePath) {
    const QFileInfo info(tablePath);
    return findCaseInsensitive(info.absolutePath(), info.completeBaseName() + QStringLiteral(".cpg"));
}

QString displayName(const QString& path) { return QDir::toNativeSeparators(path); }

// Today's date as the header keeps it: years since 1900, month, day. localtime_r, unlike
// QDate::currentDate, does not look at the time zone file again on every call.
QByteArray headerDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    QByteArray d(3, '\0');
    d[0] = char(std::clamp(local.tm_year, 0, 255));
    d[1] = char(local.tm_mon + 1);
    d[2] = char(local.tm_mday);
    return d;
}

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

QString findTableFile(const QString& dir, const QString& baseName) {
    return findCaseInsensitive(dir, baseName + QStringLiteral(".dbf"));
}

DbfTable::~DbfTable() {
    if (fd_ < 0)
        return;
    if (dataDirty_ || headerDirty_) {
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

void DbfTable::repair() {
    if (mode_ != Mode::ReadWrite || (tornRows_ == 0 && !tailIsOurs_))
        return;
    TableIo& io = TableIo::current();
    const auto failRepair = [this] { fail(StoreError::Kind::WriteFailed, writeError(errno)); };
    for (std::uint32_t r = 0; r < committedRows_ && tornRows_ > 0; ++r) {
        if (deleted_[r] != 2)
            continue;
        const char mark = '*';
        if (!io.write(fd_, &mark, 1, std::int64_t(headerLength_) + std::int64_t(r) * recordLength_))
            failRepair();
        deleted_[r] = 1;
        --tornRows_;
    }
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

void DbfTable::readRecords(std::uint32_t count) {
    columns_.assign(fields_.size(), Column{});
    chains_.resize(fields_.size());
    deleted_.reserve(count);
    skipForward_.reserve(count);
    skipBackward_.reserve(count);
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (fields_[i].isNumeric())
            columns_[i].numbers.reserve(count);
        else
            columns_[i].textEnd.reserve(count);
    }

    // Read in blocks so that the peak stays near the size of the decoded rows.
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
        if (done == 0 && n < count) {
            // Size the text buffers from the first block, so they need not grow (and be
            // copied while twice their size) record by record.
            for (Column& c : columns_)
                if (!c.text.empty())
                    c.text.reserve(std::size_t(double(c.text.size()) / n * count * 1.05));
        }
        done += n;
    }
}

void DbfTable::storeRecord(const char* record, bool torn) {
    const std::uint8_t state = torn ? 2 : record[0] == ' ' ? 0 : record[0] == '*' ? 1 : 2;
    const auto row = std::uint32_t(deleted_.size());
    deleted_.push_back(state);
    skipForward_.push_back(row + 1);
    skipBackward_.push_back(row);
    if (state == 0)
        ++liveRows_;
    else if (state == 2)
        ++tornRows_;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const char* p = record + fieldOffsets_[i];
        const std::size_t len = std::size_t(fields_[i].length);
        Column& c = columns_[i];
        if (fields_[i].isNumeric()) {
            c.numbers.push_back(parseNumber(p, len));
        } else {
            std::size_t n = len;
            while (n > 0 && isPad(p[n - 1]))
                --n;
            c.text.append(p, n);
            c.textEnd.push_back(std::uint32_t(c.text.size()));
        }
    }
}

std::uint32_t DbfTable::firstLiveFrom(std::uint32_t row) const {
    while (row < rowCount() && deleted_[row]) {
        const std::uint32_t next = skipForward_[row];
        if (next < rowCount() && deleted_[next])
            skipForward_[row] = skipForward_[next];
        row = next;
    }
    return row;
}

std::uint32_t DbfTable::lastLiveBefore(std::uint32_t end) const {
    while (end > 0 && deleted_[end - 1]) {
        const std::uint32_t next = skipBackward_[end - 1];
        if (next > 0 && deleted_[next - 1])
            skipBackward_[end - 1] = skipBackward_[next - 1];
        end = next;
    }
    return end == 0 ? npos : end - 1;
}

int DbfTable::fieldIndex(QByteArrayView name) const {
    for (std::size_t i = 0; i < fields_.size(); ++i)
        if (QByteArrayView(fields_[i].name).compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

std::optional<double> DbfTable::number(std::uint32_t row, int field) const {
    const Column& c = columns_[std::size_t(field)];
    if (!fields_[std::size_t(field)].isNumeric()) {
        const QString t = text(row, field).trimmed();
        bool ok = false;
        const double v = t.toDouble(&ok);
        return ok ? std::optional<double>(v) : std::nullopt;
    }
    const double v = c.numbers[row];
    return std::isnan(v) ? std::nullopt : std::optional<double>(v);
}

QString DbfTable::text(std::uint32_t row, int field) const {
    const Column& c = columns_[std::size_t(field)];
    if (fields_[std::size_t(field)].isNumeric()) {
        const auto v = number(row, field);
        return v ? QString::number(*v, 'f', fields_[std::size_t(field)].decimals) : QString();
    }
    const std::uint32_t begin = row == 0 ? 0 : c.textEnd[row - 1];
    return codePage_.decode(c.text.data() + begin, qsizetype(c.textEnd[row] - begin));
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

QByteArray DbfTable::encodeRecord(const std::vector<QVariant>& values) const {
    const QString table = QFileInfo(path_).fileName();
    QByteArray record(qsizetype(recordLength_), ' ');
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        const FieldDef& f = fields_[i];
        const QVariant v = i < values.size() ? values[i] : QVariant();
        if (v.isNull())
            continue;
        const QString fieldName = QString::fromLatin1(f.name);
        QByteArray bytes;
        if (f.isNumeric()) {
            const int type = v.metaType().id();
            const bool integral = type == QMetaType::Int || type == QMetaType::LongLong ||
                                  type == QMetaType::UInt || type == QMetaType::ULongLong;
            bool ok = true;
            if (integral && f.decimals == 0) {
                bytes = QByteArray::number(v.toLongLong(&ok));
            } else {
                const double d = v.toDouble(&ok);
                ok = ok && std::isfinite(d) && (f.decimals > 0 || std::trunc(d) == d);
                bytes = QByteArray::number(d, 'f', f.decimals);
            }
            if (!ok || bytes.size() > f.length)
                throw StoreError(StoreError::Kind::BadValue,
                                 QStringLiteral("El número %1 no cabe en el campo %2 de la tabla %3.")
                                     .arg(v.toString(), fieldName, table));
            bytes = QByteArray(f.length - bytes.size(), ' ') + bytes;
        } else {
            const QString text = v.toString();
            const auto encoded = codePage_.encode(text);
            if (!encoded)
                throw StoreError(StoreError::Kind::NotRepresentable,
                                 QStringLiteral("El texto «%1» tiene caracteres que la tabla %2 no "
                                                "puede guardar (código de página %3).")
                                     .arg(text, table, QString::fromLatin1(codePage_.name())));
            if (encoded->size() > f.length)
                throw StoreError(StoreError::Kind::TooLong,
                                 QStringLiteral("El texto «%1» no cabe en el campo %2 de la tabla "
                                                "%3: ocupa %4 bytes y el campo admite %5.")
                                     .arg(text, fieldName, table)
                                     .arg(encoded->size())
                                     .arg(f.length));
            bytes = *encoded;
        }
        record.replace(fieldOffsets_[i], bytes.size(), bytes);
    }
    return record;
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
    for (std::uint32_t r = row; r < rowCount(); ++r)
        liveRows_ -= deleted_[r] == 0;
    deleted_.resize(row);
    skipForward_.resize(row);
    skipBackward_.resize(row);
    for (std::uint32_t& next : skipForward_)
        next = std::min(next, row);
    for (Column& c : columns_) {
        if (!c.numbers.empty())
            c.numbers.resize(row);
        if (!c.textEnd.empty()) {
            c.textEnd.resize(row);
            c.text.resize(row == 0 ? 0 : c.textEnd.back());
        }
    }
    for (auto& chains : chains_)
        chains.reset(); // rebuilt on the next search
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
    for (std::size_t i = 0; i < chains_.size(); ++i)
        if (chains_[i])
            addToChains(*chains_[i], int(i), row);
    if (!deferSync_)
        commit();
    return row;
}

void DbfTable::markDeleted(std::uint32_t row) {
    if (row >= rowCount() || deleted_[row])
        return;
    const char mark = '*';
    writeAt(std::int64_t(headerLength_) + std::int64_t(row) * recordLength_, &mark, 1);
    deleted_[row] = 1;
    --liveRows_;
    headerDirty_ = true; // the date
    if (!deferSync_)
        commit();
}

void DbfTable::addToChains(IdChains& chains, int field, std::uint32_t row) {
    chains.next.push_back(npos);
    const auto v = number(row, field);
    if (!v || std::trunc(*v) != *v || *v < INT32_MIN || *v > INT32_MAX)
        return;
    const auto id = std::int32_t(*v);
    auto it = chains.ends.find(id);
    if (it == chains.ends.end()) {
        chains.ends.insert(id, {row, row});
    } else {
        chains.next[it->tail] = row;
        it->tail = row;
    }
}

DbfTable::IdChains& DbfTable::chainsFor(int field) {
    auto& slot = chains_[std::size_t(field)];
    if (!slot) {
        slot = std::make_unique<IdChains>();
        slot->next.reserve(rowCount());
        for (std::uint32_t r = 0; r < rowCount(); ++r)
            addToChains(*slot, field, r);
    }
    return *slot;
}

std::uint32_t DbfTable::findId(int field, std::int32_t id, std::uint32_t from, std::uint32_t limit) {
    IdChains& chains = chainsFor(field);
    auto it = chains.ends.find(id);
    if (it == chains.ends.end())
        return npos;
    // Deleted rows at the head are dropped from the chain for good, except its last row,
    // which new rows with the same id are linked behind.
    while (deleted_[it->head] && chains.next[it->head] != npos)
        it->head = chains.next[it->head];

    std::uint32_t r = it->head;
    if (from > 0 && from - 1 < rowCount()) {
        const auto before = number(from - 1, field);
        if (before && *before == double(id))
            r = chains.next[from - 1]; // a walk going on from the row before
    }
    for (; r != npos && r < limit; r = chains.next[r])
        if (!deleted_[r] && r >= from)
            return r;
    return npos;
}

void DbfTable::create(const QString& path, const std::vector<FieldDef>& fields) {
    const QFileInfo info(path);
    const auto failCreate = [&](const QString& why) {
        throw StoreError(StoreError::Kind::WriteFailed,
                         QStringLiteral("No se puede crear la tabla %1: %2.")
                             .arg(displayName(path), why));
    };

    QByteArray file(qsizetype(kPrefixSize), '\0');
    file[0] = 0x03;
    file.replace(1, 3, headerDate());
    std::uint32_t recordLength = 1;
    for (const FieldDef& f : fields) {
        QByteArray d(qsizetype(kDescriptorSize), '\0');
        d.replace(0, std::min<qsizetype>(f.name.size(), 10), f.name.left(10));
        d[11] = f.type;
        d[16] = char(f.length);
        d[17] = char(f.decimals);
        file += d;
        recordLength += std::uint32_t(f.length);
    }
    putLe16(file.data() + 8, kPrefixSize + kDescriptorSize * std::uint32_t(fields.size()) + 1);
    putLe16(file.data() + 10, recordLength);
    file.append(char(kHeaderEnd));
    file.append(char(kEndOfFile));

    // The code page first: a table without its .cpg would be read as CP850.
    QFile cpg(info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".cpg"));
    if (!cpg.open(QIODevice::WriteOnly | QIODevice::Truncate) || cpg.write("UTF-8") != 5 ||
        !cpg.flush() || ::fdatasync(cpg.handle()) != 0)
        failCreate(cpg.errorString());
    cpg.close();

    // Written whole under a temporary name, then renamed: never a half-written table.
    const QString temp = path + QStringLiteral(".tmp");
    const QByteArray nativeTemp = QFile::encodeName(temp);
    const int fd = ::open(nativeTemp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        failCreate(systemError(errno));
    const bool ok = pwriteFully(fd, file.constData(), std::size_t(file.size()), 0) && ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!ok || ::rename(nativeTemp.constData(), QFile::encodeName(path).constData()) != 0) {
        const int renameErr = ok ? errno : err;
        ::unlink(nativeTemp.constData());
        failCreate(systemError(renameErr));
    }
    const int dirFd = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace melofon::store
