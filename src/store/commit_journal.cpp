#include "store/commit_journal.h"

#include "store/dbf_format.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace melofon::store::journal {

using namespace dbf;

namespace {

const QByteArray kFirstLine = "Melofon: cambio de las listas de reproducción en curso, versión 1";

QByteArray hex(std::uint64_t v) { return QByteArray::number(qulonglong(v), 16); }

// Rising rows as ranges, "3-5,9"; "-" for none.
QByteArray ranges(const std::vector<std::uint32_t>& rows) {
    QByteArray out;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        if (!out.isEmpty())
            out += ',';
        out += QByteArray::number(rows[i]);
        if (j > i)
            out += '-' + QByteArray::number(rows[j]);
        i = j + 1;
    }
    return out.isEmpty() ? QByteArray("-") : out;
}

bool parseRanges(const QByteArray& text, std::vector<std::uint32_t>& rows) {
    if (text == "-")
        return true;
    for (const QByteArray& part : text.split(',')) {
        const QList<QByteArray> ends = part.split('-');
        bool ok1 = false, ok2 = true;
        const qulonglong first = ends.value(0).toULongLong(&ok1);
        const qulonglong last = ends.size() == 2 ? ends[1].toULongLong(&ok2) : first;
        if (!ok1 || !ok2 || ends.size() > 2 || last < first || last >= kNoRow ||
            (!rows.empty() && first <= rows.back()) || last - first > (64u << 20))
            return false;
        for (qulonglong r = first; r <= last; ++r)
            rows.push_back(std::uint32_t(r));
    }
    return true;
}

} // namespace

QByteArray encode(const std::vector<TableEntry>& entries) {
    QByteArray text = kFirstLine + '\n';
    for (const TableEntry& e : entries) {
        const DbfTable::Commit& c = e.commit;
        text += "tabla " + e.fileName.toUtf8() + " cabecera " + QByteArray::number(c.headerLength) + " registro " +
                QByteArray::number(c.recordLength) + " filas " + QByteArray::number(c.rowsBefore) + ' ' +
                QByteArray::number(c.rowsAfter) + " nuevas " + hex(c.appendedDigest) + " borradas " +
                ranges(c.deleted) + '\n';
    }
    return text + "fin " + hex(digest(kDigestStart, text.constData(), std::size_t(text.size()))) + '\n';
}

std::optional<std::vector<TableEntry>> decode(const QByteArray& text) {
    const qsizetype end = text.lastIndexOf("fin ");
    if (end < 0 || !text.endsWith('\n'))
        return std::nullopt;
    bool ok = false;
    const std::uint64_t sum = text.mid(end + 4).trimmed().toULongLong(&ok, 16);
    if (!ok || sum != digest(kDigestStart, text.constData(), std::size_t(end)))
        return std::nullopt;
    QList<QByteArray> lines = text.left(end).split('\n');
    if (lines.isEmpty() || lines.takeFirst() != kFirstLine)
        return std::nullopt;
    std::vector<TableEntry> entries;
    for (const QByteArray& line : lines) {
        if (line.isEmpty())
            continue;
        // The file name may hold spaces: the fields are counted from the end.
        const QList<QByteArray> w = line.split(' ');
        const qsizetype n = w.size();
        if (n < 13 || w[0] != "tabla" || w[n - 11] != "cabecera" || w[n - 9] != "registro" || w[n - 7] != "filas" ||
            w[n - 4] != "nuevas" || w[n - 2] != "borradas")
            return std::nullopt;
        TableEntry e;
        e.fileName = QString::fromUtf8(w.mid(1, n - 12).join(' '));
        bool a = false, b = false, c = false, d = false, f = false;
        e.commit.headerLength = w[n - 10].toUInt(&a);
        e.commit.recordLength = w[n - 8].toUInt(&b);
        e.commit.rowsBefore = w[n - 6].toUInt(&c);
        e.commit.rowsAfter = w[n - 5].toUInt(&d);
        e.commit.appendedDigest = w[n - 3].toULongLong(&f, 16);
        if (!a || !b || !c || !d || !f || e.fileName.isEmpty() || !parseRanges(w[n - 1], e.commit.deleted))
            return std::nullopt;
        entries.push_back(std::move(e));
    }
    return entries;
}

void write(const QString& dir, int dirFd, const QByteArray& text) {
    TableIo& io = TableIo::current();
    const QString newPath = QDir(dir).filePath(kNewFileName);
    const QString path = QDir(dir).filePath(kFileName);
    const int fd = ::open(QFile::encodeName(newPath).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0 && io.write(fd, text.constData(), std::size_t(text.size()), 0) && io.sync(fd);
    int err = ok ? 0 : errno;
    if (fd >= 0)
        ::close(fd);
    // The rename, once durable, is the commit: from then on a start completes the command.
    bool renamed = false;
    if (ok) {
        renamed = io.rename(newPath, path);
        ok = renamed && io.syncDirectory(dirFd);
        err = ok ? 0 : errno;
    }
    if (ok)
        return;
    io.remove(renamed ? path : newPath);
    throw StoreError(StoreError::Kind::WriteFailed,
                     QStringLiteral("No se pudo guardar el cambio en las listas de reproducción de %1: %2. "
                                    "Las tablas quedan como estaban antes del cambio.")
                         .arg(QDir::toNativeSeparators(dir), writeError(err)));
}

} // namespace melofon::store::journal
