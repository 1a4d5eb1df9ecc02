// Tables exchanged with dBASE programs that share no code with ours: shapelib's
// dbfcreate/dbfadd made the foreign_*.dbf tables in tests/data (see make_fixtures.sh),
// and dbfread and dbfdump read back what Melofon writes.

#include "store/data_source.h"
#include "store/dbf_table.h"
#include "store/playlist_store.h"
#include "support/temp_dir.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <climits>
#include <csignal>
#include <map>
#include <optional>
#include <vector>

namespace melofon::store {
namespace {

using test::TempDir;

QString fixture(const char* name) {
    return QStringLiteral(MELOFON_TEST_DATA "/") + QString::fromLatin1(name);
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

std::unique_ptr<DataSource> openSource(const char* name) {
    auto source = std::make_unique<DataSource>(DbfTable::open(fixture(name), DbfTable::Mode::ReadOnly));
    source->Refresh();
    return source;
}

// The fixtures' rows as they must read: a text and an id (nothing when the field is empty).
struct TextAndId {
    QString text;
    std::optional<double> id;
};

// Walks the whole row set and compares every row, then checks that it ends there.
void expectRows(Recordset& rows, QByteArrayView textField, QByteArrayView idField,
                const std::vector<TextAndId>& expected) {
    rows.MoveFirst();
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_FALSE(rows.Eof());
        EXPECT_EQ(rows.Fields(textField).toText(), expected[i].text);
        const QVariant id = rows.Fields(idField).Value();
        if (expected[i].id) {
            ASSERT_FALSE(id.isNull());
            EXPECT_EQ(id.toDouble(), *expected[i].id);
        } else {
            EXPECT_TRUE(id.isNull()) << id.toString().toStdString();
        }
        rows.MoveNext();
    }
    EXPECT_TRUE(rows.Eof());
}

// The texts of the rows FindFirst/FindNext visit for `id`, in order.
QStringList found(Recordset& rows, QByteArrayView idField, qint32 id, QByteArrayView textField) {
    QStringList texts;
    for (bool hit = rows.FindFirst(idField, id); hit; hit = rows.FindNext(idField, id))
        texts << rows.Fields(textField).toText();
    EXPECT_TRUE(rows.Eof());
    return texts;
}

const QString kLongCp1252Path = QLatin1Char('/') + QString(252, QChar(u'ñ')) + QLatin1Char('Z');

const std::vector<TextAndId> kForeignListas = {
    {QStringLiteral("Favoritas"), 111111111},
    {QStringLiteral(" a"), 2},
    {QStringLiteral("Mañana € — «Ópera»"), 3},
    {QString(), 4},
    {QStringLiteral("Sin número"), std::nullopt},
    {QStringLiteral("Máximo"), INT32_MAX},
    {QStringLiteral("Mínimo"), INT32_MIN},
    {QStringLiteral("Favoritas otra vez"), 111111111},
    {QStringLiteral("  espacios"), 0}, // trailing blanks are padding, leading ones are text
    {QStringLiteral("Negativa"), -1},
};

const std::vector<TextAndId> kForeignDocument = {
    {QStringLiteral("/música/año.mp3"), 1},
    {QStringLiteral("/max.ogg"), INT32_MAX},
    {QStringLiteral("/min.ogg"), INT32_MIN},
    {QStringLiteral("/fuera.ogg"), 2147483648.0},
    {QStringLiteral("/medio.ogg"), 1.5},
    {kLongCp1252Path, 6},
    {QString(), std::nullopt},
    {QStringLiteral("  /con blancos.mp3"), -7},
};

TEST(ForeignTable, FieldsKeepTheirOrderCaseWidthAndDecimals) {
    const auto listas = DbfTable::open(fixture("foreign_listas.dbf"), DbfTable::Mode::ReadOnly);
    ASSERT_EQ(listas->fields().size(), 2u);
    EXPECT_EQ(listas->fields()[0].name, "lisDesc");
    EXPECT_EQ(listas->fields()[0].type, 'C');
    EXPECT_EQ(listas->fields()[0].length, 40);
    EXPECT_EQ(listas->fields()[1].name, "LisId");
    EXPECT_EQ(listas->fields()[1].type, 'N');
    EXPECT_EQ(listas->fields()[1].length, 15);
    EXPECT_EQ(listas->fields()[1].decimals, 5);
    EXPECT_EQ(listas->fieldIndex("LISID"), 1);
    EXPECT_EQ(listas->fieldIndex("lisdesc"), 0);
    EXPECT_EQ(listas->rowCount(), 10u);
    EXPECT_EQ(listas->liveRowCount(), 10u);

    const auto document = DbfTable::open(fixture("foreign_document.dbf"), DbfTable::Mode::ReadOnly);
    ASSERT_EQ(document->fields().size(), 3u);
    EXPECT_EQ(document->fieldIndex("NOTA"), 0);
    EXPECT_EQ(document->fieldIndex("DOCPATH"), 1);
    EXPECT_EQ(document->fieldIndex("DOCID"), 2);
    EXPECT_EQ(document->fields()[2].length, 17);
}

TEST(ForeignTable, LanguageDriverSaysCp1252WithoutASidecar) {
    // dbfcreate writes no .cpg; header byte 29 (0x57) alone names the code page.
    EXPECT_FALSE(QFile::exists(fixture("foreign_listas.cpg")));
    EXPECT_EQ(static_cast<unsigned char>(readFile(fixture("foreign_listas.dbf")).at(29)), 0x57);
    const auto listas = DbfTable::open(fixture("foreign_listas.dbf"), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(listas->codePage().name(), "CP1252");
}

TEST(ForeignTable, ListasReadsEveryValue) {
    auto source = openSource("foreign_listas.dbf");
    Recordset& rows = source->recordset();
    EXPECT_EQ(rows.RecordCount(), 10);
    expectRows(rows, "LISDESC", "LISID", kForeignListas);
}

TEST(ForeignTable, ListasIdsWithDecimalsAndCutShortStillCompareAsIds) {
    auto source = openSource("foreign_listas.dbf");
    Recordset& rows = source->recordset();
    // "111111111.00000", and the extremes dbfadd cut to "2147483647.0000" / "-2147483648.000".
    EXPECT_EQ(found(rows, "LISID", 111111111, "LISDESC"),
              QStringList({QStringLiteral("Favoritas"), QStringLiteral("Favoritas otra vez")}));
    EXPECT_EQ(found(rows, "LISID", INT32_MAX, "LISDESC"), QStringList{QStringLiteral("Máximo")});
    EXPECT_EQ(found(rows, "LISID", INT32_MIN, "LISDESC"), QStringList{QStringLiteral("Mínimo")});
    EXPECT_EQ(found(rows, "LISID", 0, "LISDESC"), QStringList{QStringLiteral("  espacios")});
    EXPECT_EQ(found(rows, "LISID", -1, "LISDESC"), QStringList{QStringLiteral("Negativa")});
    EXPECT_EQ(found(rows, "LISID", 4, "LISDESC"), QStringList{QString()});
    EXPECT_TRUE(found(rows, "LISID", 5, "LISDESC").isEmpty());

    ASSERT_TRUE(rows.FindFirst("LISID", INT32_MIN));
    EXPECT_EQ(rows.Fields("LISID").toInt32(), INT32_MIN);
    ASSERT_TRUE(rows.FindFirst("LISID", 111111111));
    EXPECT_EQ(rows.Fields("LisId").toInt32(), 111111111);

    // The row with the empty id has no id at all, not 0.
    rows.MoveFirst();
    for (int i = 0; i < 4; ++i)
        rows.MoveNext();
    ASSERT_EQ(rows.Fields("LISDESC").toText(), QStringLiteral("Sin número"));
    EXPECT_EQ(rows.Fields("LISID").toInt32(), std::nullopt);
}

TEST(ForeignTable, DocumentReadsEveryValue) {
    auto source = openSource("foreign_document.dbf");
    Recordset& rows = source->recordset();
    EXPECT_EQ(rows.RecordCount(), 8);
    expectRows(rows, "DOCPATH", "DOCID", kForeignDocument);
    ASSERT_EQ(kLongCp1252Path.size(), 254);

    // The field we do not know is read like any other.
    rows.MoveFirst();
    EXPECT_EQ(rows.Fields("nota").toText(), QStringLiteral("uno"));
    rows.MoveLast();
    EXPECT_EQ(rows.Fields("NOTA").toText(), QStringLiteral("  lejos"));
}

TEST(ForeignTable, DocumentIdsOutsideTheIntRangeOrNotWholeMatchNoId) {
    auto source = openSource("foreign_document.dbf");
    Recordset& rows = source->recordset();
    // 2147483648 must not wrap around to INT32_MIN, nor 1.5 be taken for 1.
    EXPECT_EQ(found(rows, "DOCID", INT32_MIN, "DOCPATH"), QStringList{QStringLiteral("/min.ogg")});
    EXPECT_EQ(found(rows, "DOCID", INT32_MAX, "DOCPATH"), QStringList{QStringLiteral("/max.ogg")});
    EXPECT_EQ(found(rows, "DOCID", 1, "DOCPATH"), QStringList{QStringLiteral("/música/año.mp3")});
    EXPECT_TRUE(found(rows, "DOCID", 2, "DOCPATH").isEmpty());
    EXPECT_EQ(found(rows, "DOCID", 6, "DOCPATH"), QStringList{kLongCp1252Path});
    EXPECT_EQ(found(rows, "DOCID", -7, "DOCPATH"), QStringList{QStringLiteral("  /con blancos.mp3")});

    rows.MoveFirst();
    for (int i = 0; i < 3; ++i)
        rows.MoveNext();
    ASSERT_EQ(rows.Fields("DOCPATH").toText(), QStringLiteral("/fuera.ogg"));
    EXPECT_EQ(rows.Fields("DOCID").toInt32(), std::nullopt);
    rows.MoveNext();
    ASSERT_EQ(rows.Fields("DOCPATH").toText(), QStringLiteral("/medio.ogg"));
    EXPECT_EQ(rows.Fields("DOCID").toInt32(), std::nullopt);
}

TEST(ForeignTable, LisDocFindsEveryLinkByEitherId) {
    auto source = openSource("foreign_lisdoc.dbf");
    Recordset& rows = source->recordset();
    EXPECT_EQ(rows.RecordCount(), 4);
    const auto docIdsOf = [&](qint32 lisId) {
        std::vector<qint32> docs;
        for (bool hit = rows.FindFirst("LISID", lisId); hit; hit = rows.FindNext("LISID", lisId))
            docs.push_back(rows.Fields("DOCID").toInt32().value_or(INT32_MIN));
        return docs;
    };
    const auto lisIdsOf = [&](qint32 docId) {
        std::vector<qint32> lists;
        for (bool hit = rows.FindFirst("DOCID", docId); hit; hit = rows.FindNext("DOCID", docId))
            lists.push_back(rows.Fields("LISID").toInt32().value_or(INT32_MIN));
        return lists;
    };
    EXPECT_EQ(docIdsOf(111111111), (std::vector<qint32>{1, 6}));
    EXPECT_EQ(docIdsOf(-1), (std::vector<qint32>{-7, 1}));
    EXPECT_EQ(lisIdsOf(1), (std::vector<qint32>{111111111, -1}));
    EXPECT_EQ(lisIdsOf(-7), (std::vector<qint32>{-1}));
    EXPECT_TRUE(lisIdsOf(7).empty());
}

// ---------------------------------------------------------------------------------------
// The peers reading tables.

// dbfread's view of each table, as JSON: header, fields, and the live and deleted rows
// (and the rows a plain walk yields, which should skip the deleted ones). An empty
// encoding lets dbfread pick it from the language driver.
const char* const kDbfreadDump = R"PY(
import json, sys
from dbfread import DBF

encoding = sys.argv[1] or None
out = {}
for path in sys.argv[2:]:
    t = DBF(path, encoding=encoding, load=True)
    h = t.header
    raw = DBF(path, raw=True, load=True)
    out[path] = {
        'encoding': t.encoding,
        'numrecords': h.numrecords,
        'date': [h.year, h.month, h.day],
        'fields': [[f.name, f.type, f.length, f.decimal_count] for f in t.fields],
        'live': [list(r.values()) for r in t.records],
        'deleted': [list(r.values()) for r in t.deleted],
        'walk': [list(r.values()) for r in DBF(path, encoding=encoding)],
        'raw': [[v.decode('latin-1') for v in r.values()] for r in raw.records],
    }
json.dump(out, sys.stdout)
)PY";

QJsonObject dbfread(const QString& encoding, const QStringList& paths) {
    const QByteArray json = test::runProgram(
        QStringLiteral("/usr/bin/python3"),
        QStringList{QStringLiteral("-c"), QString::fromUtf8(kDbfreadDump), encoding} + paths);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << json.left(300).toStdString();
    return doc.object();
}

// What `dbfdump -m` shows of each record: its fields' values as raw bytes, and whether
// it is marked deleted (dbfdump lists deleted records too, followed by "(DELETED)").
struct DumpedRecord {
    std::map<QByteArray, QByteArray> values;
    bool deleted = false;
};

std::vector<DumpedRecord> dbfdump(const QString& path) {
    const QByteArray out = test::runProgram(QStringLiteral("/usr/bin/dbfdump"), {QStringLiteral("-m"), path});
    std::vector<DumpedRecord> records;
    for (const QByteArray& line : out.split('\n')) {
        if (line.startsWith("Record: ")) {
            EXPECT_EQ(line.mid(8).toLongLong(), qint64(records.size()));
            records.emplace_back();
        } else if (line == "(DELETED)") {
            EXPECT_FALSE(records.empty());
            if (!records.empty())
                records.back().deleted = true;
        } else if (!line.trimmed().isEmpty()) {
            const qsizetype colon = line.indexOf(": ");
            EXPECT_FALSE(records.empty() || colon < 0) << line.toStdString();
            if (!records.empty() && colon >= 0)
                records.back().values[line.left(colon)] = line.mid(colon + 2).trimmed();
        }
    }
    return records;
}

// dbfdump trims blanks at both ends of a text and shows an empty value as "(NULL)".
QByteArray asDumped(const QByteArray& bytes) {
    const QByteArray shown = bytes.trimmed();
    return shown.isEmpty() ? QByteArrayLiteral("(NULL)") : shown;
}

QJsonValue toJson(const QVariant& v) {
    if (v.isNull())
        return QJsonValue(QJsonValue::Null);
    if (v.userType() == QMetaType::QString)
        return v.toString();
    return v.toLongLong();
}

// One table's rows as Melofon wrote them, in record order.
struct Written {
    std::vector<QByteArray> fields;
    std::vector<std::vector<QVariant>> rows;
    std::vector<bool> deleted;

    QJsonArray json(bool deletedRows) const {
        QJsonArray out;
        for (std::size_t r = 0; r < rows.size(); ++r) {
            if (deleted[r] != deletedRows)
                continue;
            QJsonArray row;
            for (const QVariant& v : rows[r])
                row.append(toJson(v));
            out.append(row);
        }
        return out;
    }
};

void append(DataSource& source, Written& model, std::vector<QVariant> values) {
    Recordset& rows = source.recordset();
    rows.AddNew();
    for (std::size_t f = 0; f < values.size(); ++f)
        if (!values[f].isNull()) // an empty field is one never set
            rows.Fields(model.fields[f]) = values[f];
    rows.Update();
    model.rows.push_back(std::move(values));
    model.deleted.push_back(false);
}

// Deletes through the row set the first live row whose first field is `id`.
void remove(DataSource& source, Written& model, qint32 id) {
    source.Refresh();
    Recordset& rows = source.recordset();
    ASSERT_TRUE(rows.FindFirst(model.fields[0], id));
    rows.Delete();
    for (std::size_t r = 0; r < model.rows.size(); ++r) {
        if (!model.deleted[r] && model.rows[r][0] == QVariant(qint64(id))) {
            model.deleted[r] = true;
            return;
        }
    }
    FAIL() << "no row with id " << id;
}

QString bytesOf(int count, const QString& start, QChar fill, const QString& end) {
    QString s = start;
    while (s.toUtf8().size() + end.toUtf8().size() < count)
        s += fill;
    return s + end;
}

class MelofonWrites : public ::testing::Test {
protected:
    void SetUp() override {
        listas.fields = {"LISID", "LISDESC"};
        document.fields = {"DOCID", "DOCPATH"};
        lisDoc.fields = {"LISID", "DOCID"};
        store = std::make_unique<PlaylistStore>(dir.path());
        auto& l = store->dtcListas();
        append(l, listas, {qint64(1), QStringLiteral("Mi música favorita")});
        append(l, listas, {qint64(2), QStringLiteral(" a")});
        append(l, listas, {qint64(3), QString()});
        append(l, listas, {qint64(4), QStringLiteral("Para borrar")});
        append(l, listas, {qint64(INT32_MAX), QStringLiteral("Máxima «€»")});
        append(l, listas, {qint64(INT32_MIN), QStringLiteral("Mínima")});
        append(l, listas, {QVariant(), QStringLiteral("Sin id")});
        append(l, listas, {qint64(0), QStringLiteral("日本の歌 🎵")});
        remove(l, listas, 4);

        auto& d = store->dtcDocumentos();
        append(d, document, {qint64(1), QStringLiteral("/música/Mi canción.mp3")});
        append(d, document, {qint64(2), longPath});
        append(d, document, {qint64(3), QStringLiteral("  /con blancos.ogg")});
        append(d, document, {qint64(4), QStringLiteral("/borrar.ogg")});
        append(d, document, {qint64(5), QStringLiteral("/otra.ogg")});
        remove(d, document, 4);
        remove(d, document, 1);

        auto& ld = store->dtcLisDoc();
        append(ld, lisDoc, {qint64(1), qint64(1)});
        append(ld, lisDoc, {qint64(1), qint64(2)});
        append(ld, lisDoc, {qint64(2), qint64(3)});
        append(ld, lisDoc, {qint64(INT32_MAX), qint64(5)});
        remove(ld, lisDoc, INT32_MAX); // the last record
    }

    QString path(const QString& table) const { return findTableFile(dir.path(), table); }

    // A path of exactly 254 bytes, the field's width, ending in a two-byte character.
    const QString longPath = bytesOf(254, QStringLiteral("/música/"), QLatin1Char('x'), QStringLiteral("ñ"));
    TempDir dir;
    std::unique_ptr<PlaylistStore> store;
    Written listas, document, lisDoc;
};

TEST_F(MelofonWrites, DbfreadSeesEveryRowAndEveryDeletion) {
    ASSERT_EQ(longPath.toUtf8().size(), 254);
    const QDate today = QDate::currentDate();
    const std::pair<QString, const Written*> tables[] = {{path(PlaylistStore::kListas), &listas},
                                                         {path(PlaylistStore::kDocument), &document},
                                                         {path(PlaylistStore::kLisDoc), &lisDoc}};
    // Read while the store is still open: every row is on disk as soon as it is written.
    const QJsonObject seen = dbfread(QStringLiteral("utf-8"), {tables[0].first, tables[1].first, tables[2].first});
    for (const auto& [file, model] : tables) {
        SCOPED_TRACE(file.toStdString());
        const QJsonObject t = seen.value(file).toObject();
        ASSERT_FALSE(t.isEmpty());
        EXPECT_EQ(t.value(QStringLiteral("numrecords")).toInteger(), qint64(model->rows.size()));
        const QJsonArray date = t.value(QStringLiteral("date")).toArray();
        EXPECT_EQ(QDate(1900 + date.at(0).toInt(), date.at(1).toInt(), date.at(2).toInt()), today);

        const QJsonArray fields = t.value(QStringLiteral("fields")).toArray();
        ASSERT_EQ(fields.size(), qsizetype(model->fields.size()));
        for (qsizetype f = 0; f < fields.size(); ++f) {
            const QJsonArray field = fields.at(f).toArray();
            EXPECT_EQ(field.at(0).toString(), QString::fromLatin1(model->fields[std::size_t(f)]));
            // Ours: ids N 11 0, texts C 254.
            const bool id = model->fields[std::size_t(f)].endsWith("ID");
            EXPECT_EQ(field.at(1).toString(), id ? QStringLiteral("N") : QStringLiteral("C"));
            EXPECT_EQ(field.at(2).toInt(), id ? 11 : 254);
            EXPECT_EQ(field.at(3).toInt(), 0);
        }

        EXPECT_EQ(t.value(QStringLiteral("live")).toArray(), model->json(false));
        EXPECT_EQ(t.value(QStringLiteral("deleted")).toArray(), model->json(true));
        EXPECT_EQ(t.value(QStringLiteral("walk")).toArray(), model->json(false));
    }
}

// A write the file system stops halfway (the file-size limit here, as a full disk would)
// puts the table back byte for byte, so that dbfread shows no phantom row, and the
// message names the table and why.
TEST_F(MelofonWrites, AWriteStoppedHalfwayLeavesTheTableAsItWas) {
    const QString file = path(PlaylistStore::kDocument);
    const QByteArray before = readFile(file);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit limit = old;
    limit.rlim_cur = rlim_t(before.size() + 100); // less than a record
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    try {
        append(store->dtcDocumentos(), document, {qint64(6), QStringLiteral("/no/cabe.ogg")});
        ADD_FAILURE() << "the append went through";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.kind(), StoreError::Kind::WriteFailed);
        EXPECT_TRUE(e.message().contains(QStringLiteral("DOCUMENT.dbf")) &&
                    e.message().contains(QStringLiteral("tamaño máximo")))
            << e.message().toStdString();
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previousHandler);
    EXPECT_EQ(readFile(file), before);
    const QJsonObject t = dbfread(QStringLiteral("utf-8"), {file}).value(file).toObject();
    EXPECT_EQ(t.value(QStringLiteral("walk")).toArray(), document.json(false));
}

TEST_F(MelofonWrites, DbfdumpShowsTheSameBytesAndMarksDeletedRecords) {
    const std::pair<QString, const Written*> tables[] = {{path(PlaylistStore::kListas), &listas},
                                                         {path(PlaylistStore::kDocument), &document},
                                                         {path(PlaylistStore::kLisDoc), &lisDoc}};
    for (const auto& [file, model] : tables) {
        SCOPED_TRACE(file.toStdString());
        const std::vector<DumpedRecord> dumped = dbfdump(file);
        ASSERT_EQ(dumped.size(), model->rows.size());
        for (std::size_t r = 0; r < dumped.size(); ++r) {
            SCOPED_TRACE(r);
            EXPECT_EQ(dumped[r].deleted, model->deleted[r]);
            // A deleted record keeps its values; only its mark changed.
            ASSERT_EQ(dumped[r].values.size(), model->fields.size());
            for (std::size_t f = 0; f < model->fields.size(); ++f) {
                const QVariant& v = model->rows[r][f];
                const QByteArray bytes = v.userType() == QMetaType::QString ? v.toString().toUtf8()
                                         : v.isNull()                        ? QByteArray()
                                                                             : QByteArray::number(v.toLongLong());
                EXPECT_EQ(dumped[r].values.at(model->fields[f]), asDumped(bytes)) << model->fields[f].constData();
            }
        }
    }
}

TEST_F(MelofonWrites, RowsDbfaddAppendsAreReadBack) {
    store.reset();
    const QString file = path(PlaylistStore::kDocument);
    // dbfadd writes the argument's bytes as they are: UTF-8, as the .cpg says.
    test::runProgram(QStringLiteral("/usr/bin/dbfadd"),
                     {file, QStringLiteral("7"), QStringLiteral("/añadida/por otro programa.mp3")});

    PlaylistStore reopened(dir.path());
    DataSource& d = reopened.dtcDocumentos();
    d.Refresh();
    EXPECT_EQ(d.recordset().RecordCount(), 4); // 2, 3, 5 and 7
    ASSERT_TRUE(d.recordset().FindFirst("DOCID", 7));
    EXPECT_EQ(d.recordset().Fields("DOCPATH").toText(), QStringLiteral("/añadida/por otro programa.mp3"));
    EXPECT_FALSE(d.recordset().FindFirst("DOCID", 4));
    ASSERT_TRUE(d.recordset().FindFirst("DOCID", 2));
    EXPECT_EQ(d.recordset().Fields("DOCPATH").toText(), longPath);

    // And we go on appending after dbfadd's row.
    append(d, document, {qint64(8), QStringLiteral("/después.mp3")});
    d.Refresh();
    ASSERT_TRUE(d.recordset().FindFirst("DOCID", 8));
    d.recordset().MoveLast();
    EXPECT_EQ(d.recordset().Fields("DOCID").toInt32(), 8);
    EXPECT_EQ(dbfdump(file).size(), 7u);
}

// ---------------------------------------------------------------------------------------
// Melofon opening and writing the foreign tables as its own.

TEST(ForeignStore, OpensForeignTablesAsTheyAreAndWritesInTheirFormat) {
    TempDir dir;
    // Any letter case finds the tables.
    const std::pair<const char*, QString> copies[] = {
        {"foreign_listas.dbf", QStringLiteral("listas.dbf")},
        {"foreign_document.dbf", QStringLiteral("Document.DBF")},
        {"foreign_lisdoc.dbf", QStringLiteral("LisDoc.dbf")}};
    for (const auto& [from, to] : copies)
        ASSERT_TRUE(QFile::copy(fixture(from), dir.file(to)));
    const QByteArray listasBefore = readFile(dir.file(QStringLiteral("listas.dbf")));

    {
        PlaylistStore store(dir.path());
        // Nothing created, nothing rewritten by opening them for writing.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name),
                  QStringList({QStringLiteral("Document.DBF"), QStringLiteral("LisDoc.dbf"),
                               QStringLiteral("listas.dbf")}));
        EXPECT_EQ(readFile(dir.file(QStringLiteral("listas.dbf"))), listasBefore);

        DataSource& listas = store.dtcListas();
        listas.Refresh();
        expectRows(listas.recordset(), "LISDESC", "LISID", kForeignListas);

        Recordset& l = listas.recordset();
        const auto refusal = [&](const QVariant& id, const QString& text) -> std::optional<StoreError::Kind> {
            l.AddNew();
            l.Fields("LISID") = id;
            l.Fields("LISDESC") = text;
            try {
                l.Update();
            } catch (const StoreError& e) {
                return e.kind();
            }
            return std::nullopt;
        };
        // INT32_MAX needs 16 bytes with the field's five decimals; the field has 15.
        // (dbfadd cuts decimals off instead; we refuse rather than write something else.)
        EXPECT_EQ(refusal(qint64(INT32_MAX), QStringLiteral("No cabe")), StoreError::Kind::BadValue);
        // CP1252 has no kana; the text must not go in as UTF-8 either.
        EXPECT_EQ(refusal(13, QStringLiteral("日本")), StoreError::Kind::NotRepresentable);
        EXPECT_EQ(readFile(dir.file(QStringLiteral("listas.dbf"))), listasBefore);

        l.AddNew();
        l.Fields("LISID") = 12;
        l.Fields("LISDESC") = QStringLiteral("Añadida € —");
        l.Update();
        listas.Refresh();
        ASSERT_TRUE(l.FindFirst("LISID", 4));
        l.Delete();

        DataSource& documents = store.dtcDocumentos();
        Recordset& d = documents.recordset();
        d.AddNew();
        d.Fields("DOCID") = -9;
        d.Fields("DOCPATH") = QStringLiteral("/nueva/canción.ogg");
        d.Update();

        Recordset& ld = store.dtcLisDoc().recordset();
        ld.AddNew();
        ld.Fields("DOCID") = -9;
        ld.Fields("LISID") = 12;
        ld.Update();
    }

    // dbfread picks CP1252 from the language driver, as we did.
    const QString listasFile = dir.file(QStringLiteral("listas.dbf"));
    const QString documentFile = dir.file(QStringLiteral("Document.DBF"));
    const QString lisDocFile = dir.file(QStringLiteral("LisDoc.dbf"));
    const QJsonObject seen = dbfread(QString(), {listasFile, documentFile, lisDocFile});

    const QJsonObject listas = seen.value(listasFile).toObject();
    EXPECT_EQ(listas.value(QStringLiteral("encoding")).toString(), QStringLiteral("cp1252"));
    const QJsonArray live = listas.value(QStringLiteral("live")).toArray();
    ASSERT_EQ(live.size(), 10);
    EXPECT_EQ(live.at(2).toArray(), (QJsonArray{QStringLiteral("Mañana € — «Ópera»"), 3.0}));
    EXPECT_EQ(live.at(9).toArray(), (QJsonArray{QStringLiteral("Añadida € —"), 12.0}));
    EXPECT_EQ(listas.value(QStringLiteral("deleted")).toArray(), (QJsonArray{QJsonValue(QJsonArray{QString(), 4.0})}));
    // Written the way the field is declared: five decimals, right-aligned, CP1252 bytes.
    const QJsonArray raw = listas.value(QStringLiteral("raw")).toArray();
    ASSERT_EQ(raw.size(), 10);
    EXPECT_EQ(raw.at(9).toArray().at(1).toString(), QStringLiteral("       12.00000"));
    EXPECT_EQ(raw.at(9).toArray().at(0).toString(),
              QString::fromLatin1("A\xf1" "adida \x80 \x97").leftJustified(40, QLatin1Char(' ')));

    const QJsonArray documents = seen.value(documentFile).toObject().value(QStringLiteral("raw")).toArray();
    ASSERT_EQ(documents.size(), 9);
    EXPECT_EQ(documents.at(8).toArray(),
              (QJsonArray{QString(8, QLatin1Char(' ')),
                          QString::fromLatin1("/nueva/canci\xf3n.ogg").leftJustified(254, QLatin1Char(' ')),
                          QStringLiteral("         -9.00000")}));
    const QJsonArray links = seen.value(lisDocFile).toObject().value(QStringLiteral("raw")).toArray();
    ASSERT_EQ(links.size(), 5);
    EXPECT_EQ(links.at(4).toArray(), (QJsonArray{QStringLiteral("    -9"), QStringLiteral("       12.00")}));

    // dbfdump agrees on which record is deleted and shows the CP1252 bytes.
    const std::vector<DumpedRecord> dumped = dbfdump(listasFile);
    ASSERT_EQ(dumped.size(), 11u);
    for (std::size_t r = 0; r < dumped.size(); ++r)
        EXPECT_EQ(dumped[r].deleted, r == 3) << r;
    EXPECT_EQ(dumped[10].values.at("lisDesc"), QByteArray("A\xf1" "adida \x80 \x97"));
    EXPECT_EQ(dumped[10].values.at("LisId"), "12.00000");
}

} // namespace
} // namespace melofon::store
