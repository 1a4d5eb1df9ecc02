#include "store/dbf_format.h"
#include "store/dbf_table.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>

namespace melofon::store {

namespace dbf {

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
    // Whole numbers, all that id fields hold, without the general parser: opening a large
    // table reads one in every record.
    const bool negative = begin < end && *begin == '-';
    const char* digits = begin + (negative ? 1 : 0);
    if (digits < end && end - digits <= 15 && std::all_of(digits, end, [](char c) { return c >= '0' && c <= '9'; })) {
        std::int64_t whole = 0;
        for (const char* d = digits; d < end; ++d)
            whole = whole * 10 + (*d - '0');
        return negative ? -double(whole) : double(whole);
    }
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

} // namespace dbf

using namespace dbf;

QString findTableFile(const QString& dir, const QString& baseName) {
    return findCaseInsensitive(dir, baseName + QStringLiteral(".dbf"));
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

