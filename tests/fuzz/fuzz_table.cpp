// Reads a table made of the fuzzer's bytes, edits it and reads it again. Aborts when:
// opening for reading changes a byte; FindId disagrees with a walk; a refused append
// changes a byte; a row the edit did not touch reads back different.
//
// Input: byte 0 the edit, bytes 1-4 an id, byte 5 the length of the text that follows
// the eight control bytes, byte 6 the length of the .cpg text after it (0: no .cpg);
// the rest is the table file.

#include "store/dbf_table.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

using melofon::store::DbfTable;
using melofon::store::StoreError;

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "fuzz_table: %s\n", what);
    std::abort();
}

// What reaches the disk, and when, is not what this target looks at: syncs would only
// slow it down a hundredfold.
class NoSyncIo : public melofon::store::TableIo {
public:
    bool sync(int) override { return true; }
};

const QString& workDir() {
    static char pattern[] = "/dev/shm/melofon-fuzz-XXXXXX";
    static const QString dir = [] {
        static NoSyncIo io;
        melofon::store::TableIo::install(&io);
        if (!::mkdtemp(pattern) && !::mkdtemp(std::strcpy(pattern, "/tmp/melofon-fuzz-XXXXXX")))
            broken("no temporary directory");
        std::atexit([] { std::filesystem::remove_all(pattern); });
        return QString::fromLocal8Bit(pattern);
    }();
    return dir;
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        broken("cannot write the input");
}

// Every row as its deleted flag and its fields' values.
std::vector<QVariantList> snapshot(const DbfTable& t) {
    std::vector<QVariantList> rows;
    for (std::uint32_t r = 0; r < t.rowCount(); ++r) {
        QVariantList row{t.isDeleted(r)};
        for (int f = 0; f < int(t.fields().size()); ++f)
            row << t.value(r, f);
        rows.push_back(row);
    }
    return rows;
}

void checkFindAgreesWithAWalk(DbfTable& t, std::int32_t id) {
    for (int f = 0; f < int(t.fields().size()); ++f) {
        if (!t.fields()[std::size_t(f)].isNumeric())
            continue;
        std::vector<std::uint32_t> walked, found;
        for (std::uint32_t r = 0; r < t.rowCount(); ++r) {
            const auto v = t.number(r, f);
            if (!t.isDeleted(r) && v && *v == double(id))
                walked.push_back(r);
        }
        for (auto r = t.findId(f, id, 0, t.rowCount()); r != DbfTable::npos; r = t.findId(f, id, r + 1, t.rowCount()))
            found.push_back(r);
        if (walked != found)
            broken("findId disagrees with a walk");
    }
}

bool isRefusal(const StoreError& e) {
    return e.kind() == StoreError::Kind::TooLong || e.kind() == StoreError::Kind::NotRepresentable ||
           e.kind() == StoreError::Kind::BadValue;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8)
        return 0;
    const std::uint8_t edit = data[0];
    std::int32_t id = 0;
    std::memcpy(&id, data + 1, 4);
    const std::size_t textLength = std::min<std::size_t>(data[5], size - 8);
    const std::size_t cpgLength = std::min<std::size_t>(data[6], size - 8 - textLength);
    const char* p = reinterpret_cast<const char*>(data) + 8;
    const QString text = QString::fromUtf8(p, qsizetype(textLength));
    const QByteArray cpg(p + textLength, qsizetype(cpgLength));
    const QByteArray file(p + textLength + cpgLength, qsizetype(size - 8 - textLength - cpgLength));

    const QString path = workDir() + QStringLiteral("/t.dbf");
    const QString cpgPath = workDir() + QStringLiteral("/t.cpg");
    writeAll(path, file);
    if (cpgLength > 0)
        writeAll(cpgPath, cpg);
    else
        QFile::remove(cpgPath);

    std::vector<QVariantList> before;
    try {
        auto t = DbfTable::open(path, DbfTable::Mode::ReadOnly);
        checkFindAgreesWithAWalk(*t, id);
        if (t->rowCount() > 0)
            if (const auto v = t->number(std::uint32_t(edit) % t->rowCount(), 0);
                v && *v >= INT32_MIN && *v <= INT32_MAX && *v == std::int32_t(*v))
                checkFindAgreesWithAWalk(*t, std::int32_t(*v));
        before = snapshot(*t);
    } catch (const StoreError&) {
        if (readAll(path) != file)
            broken("a refused open changed the file");
        return 0;
    }
    if (readAll(path) != file)
        broken("opening for reading changed the file");

    std::uint32_t deleted = DbfTable::npos;
    bool appended = false;
    {
        auto t = DbfTable::open(path, DbfTable::Mode::ReadWrite);
        t->repair();
        if (snapshot(*t) != before)
            broken("the repair changed a row");
        if (edit & 1 && t->rowCount() > 0) {
            deleted = std::uint32_t(id) % t->rowCount();
            t->markDeleted(deleted);
        }
        if (edit & 2) {
            std::vector<QVariant> values;
            for (const auto& f : t->fields())
                values.push_back(f.isNumeric() ? QVariant(id) : QVariant(text));
            const QByteArray unchanged = readAll(path);
            try {
                t->append(values);
                appended = true;
            } catch (const StoreError& e) {
                if (!isRefusal(e))
                    broken("an append failed for a reason other than its values");
                if (readAll(path) != unchanged)
                    broken("a refused append changed the file");
            }
        }
    }

    auto again = DbfTable::open(path, DbfTable::Mode::ReadOnly);
    const auto after = snapshot(*again);
    if (after.size() != before.size() + (appended ? 1 : 0))
        broken("the row count is not the rows before plus the appended one");
    for (std::size_t r = 0; r < before.size(); ++r) {
        QVariantList expected = before[r];
        if (r == deleted)
            expected[0] = true;
        if (after[r] != expected)
            broken("a row the edit did not touch reads back different");
    }
    return 0;
}
