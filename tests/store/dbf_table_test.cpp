#include "dbf_bytes.h"
#include "store/dbf_table.h"
#include "support/temp_dir.h"

#include <QDate>
#include <QFile>

#include <gtest/gtest.h>

using melofon::store::CodePage;
using melofon::store::DbfTable;
using melofon::store::FieldDef;
using melofon::store::StoreError;
using melofon::test::DbfBytes;
using melofon::test::leftAligned;
using melofon::test::rightAligned;
using melofon::test::TempDir;

namespace {

const std::vector<FieldDef> kPlaylistFields = {{"LISID", 'N', 11, 0}, {"LISDESC", 'C', 254, 0}};

std::unique_ptr<DbfTable> openRw(const TempDir& dir, const QString& name) {
    return DbfTable::open(dir.file(name), DbfTable::Mode::ReadWrite);
}

StoreError::Kind openFailure(const QString& path, DbfTable::Mode mode = DbfTable::Mode::ReadOnly) {
    try {
        DbfTable::open(path, mode);
    } catch (const StoreError& e) {
        EXPECT_TRUE(e.message().contains(path)) << e.message().toStdString();
        return e.kind();
    }
    ADD_FAILURE() << "opened " << path.toStdString();
    return StoreError::Kind::BadValue;
}

unsigned char byteAt(const QByteArray& bytes, qsizetype i) { return static_cast<unsigned char>(bytes.at(i)); }

void expectTodayInHeader(const QByteArray& file) {
    const QDate today = QDate::currentDate();
    EXPECT_EQ(byteAt(file, 1), today.year() - 1900);
    EXPECT_EQ(byteAt(file, 2), today.month());
    EXPECT_EQ(byteAt(file, 3), today.day());
}

} // namespace

// --- The files we write -----------------------------------------------------------------

TEST(DbfWriting, FreshTableHasTheExactDbaseThreeLayout) {
    TempDir dir;
    DbfTable::create(dir.file(QStringLiteral("Listas.dbf")), kPlaylistFields);
    const QByteArray file = dir.read(QStringLiteral("Listas.dbf"));

    ASSERT_EQ(file.size(), 32 + 2 * 32 + 1 + 1);
    EXPECT_EQ(byteAt(file, 0), 0x03);
    expectTodayInHeader(file);
    EXPECT_EQ(file.mid(4, 4), QByteArray(4, '\0'));                  // no records
    EXPECT_EQ(file.mid(8, 2), QByteArray::fromHex("6100"));          // header 97 bytes
    EXPECT_EQ(file.mid(10, 2), QByteArray::fromHex("0a01"));         // record 1+11+254
    EXPECT_EQ(file.mid(32, 11), QByteArray("LISID\0\0\0\0\0\0", 11));
    EXPECT_EQ(file.at(43), 'N');
    EXPECT_EQ(byteAt(file, 48), 11);
    EXPECT_EQ(byteAt(file, 49), 0);
    EXPECT_EQ(file.mid(64, 11), QByteArray("LISDESC\0\0\0\0", 11));
    EXPECT_EQ(file.at(75), 'C');
    EXPECT_EQ(byteAt(file, 80), 254);
    EXPECT_EQ(byteAt(file, 96), 0x0D);
    EXPECT_EQ(byteAt(file, 97), 0x1A);
    EXPECT_EQ(dir.read(QStringLiteral("Listas.cpg")), "UTF-8");
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("Listas.dbf.tmp"))));
}

TEST(DbfWriting, AppendWritesThePaddedRecordTheEndMarkAndTheCount) {
    TempDir dir;
    DbfTable::create(dir.file(QStringLiteral("t.dbf")), kPlaylistFields);
    auto t = openRw(dir, QStringLiteral("t.dbf"));
    t->append({7, QStringLiteral(" Mi música")});
    t->append({-2147483647 - 1, QString()});
    const QByteArray file = dir.read(QStringLiteral("t.dbf"));

    ASSERT_EQ(file.size(), 97 + 2 * 266 + 1);
    EXPECT_EQ(file.mid(4, 4), QByteArray::fromHex("02000000"));
    const QByteArray first = file.mid(97, 266);
    EXPECT_EQ(first, " " + rightAligned("7", 11) + leftAligned(" Mi m\xc3\xbasica", 254));
    const QByteArray second = file.mid(97 + 266, 266);
    EXPECT_EQ(second, " -2147483648" + QByteArray(254, ' '));
    EXPECT_EQ(byteAt(file, file.size() - 1), 0x1A);
}

TEST(DbfWriting, DeleteChangesOnlyTheDeletionFlag) {
    TempDir dir;
    DbfTable::create(dir.file(QStringLiteral("t.dbf")), kPlaylistFields);
    auto t = openRw(dir, QStringLiteral("t.dbf"));
    t->append({1, QStringLiteral("a")});
    t->append({2, QStringLiteral("b")});
    const QByteArray before = dir.read(QStringLiteral("t.dbf"));
    t->markDeleted(0);
    t->markDeleted(0); // a second time changes nothing
    const QByteArray after = dir.read(QStringLiteral("t.dbf"));

    ASSERT_EQ(before.size(), after.size());
    for (qsizetype i = 0; i < before.size(); ++i) {
        if (i != 97) {
            EXPECT_EQ(before.at(i), after.at(i)) << "byte " << i;
        }
    }
    EXPECT_EQ(after.at(97), '*');
    EXPECT_EQ(t->liveRowCount(), 1u);
}

TEST(DbfWriting, RowsReadBackExactlyAfterReopening) {
    TempDir dir;
    DbfTable::create(dir.file(QStringLiteral("t.dbf")), kPlaylistFields);
    const std::vector<std::pair<qint64, QString>> rows = {
        {1, QStringLiteral("Mi música favorita")},
        {2147483647, QStringLiteral("  dos blancos delante")},
        {-2147483647 - 1, QStringLiteral("C:\\Música\\Tema - 1.MP3")},
        {3, QString(254, QLatin1Char('x'))},
        {4, QString(127, QChar(0xFA))}, // 254 bytes of UTF-8
    };
    {
        auto t = openRw(dir, QStringLiteral("t.dbf"));
        for (const auto& [id, text] : rows)
            t->append({id, text});
        t->markDeleted(1);
    }
    auto t = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    ASSERT_EQ(t->rowCount(), rows.size());
    EXPECT_EQ(t->liveRowCount(), rows.size() - 1);
    EXPECT_TRUE(t->isDeleted(1));
    for (std::uint32_t r = 0; r < rows.size(); ++r) {
        EXPECT_EQ(t->value(r, 0).toLongLong(), rows[r].first) << r;
        EXPECT_EQ(t->text(r, 1), rows[r].second) << r;
    }
}

TEST(DbfWriting, TableOnDiskKeepsItsOwnWidthsAndCodePage) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"DOCPATH", 'C', 20}, {"DOCID", 'N', 6}};
    b.languageDriver = 0x02; // CP850
    b.add(leftAligned("a", 20) + rightAligned("1", 6));
    dir.write(QStringLiteral("DOCUMENT.DBF"), b.build());

    auto t = openRw(dir, QStringLiteral("DOCUMENT.DBF"));
    t->append({QStringLiteral("canción"), 2});
    const QByteArray file = dir.read(QStringLiteral("DOCUMENT.DBF"));
    EXPECT_EQ(file.mid(32 + 64 + 1 + 27, 27), " " + leftAligned("canci\xa2n", 20) + rightAligned("2", 6));
    EXPECT_FALSE(QFile::exists(dir.file(QStringLiteral("DOCUMENT.cpg"))));
}

// --- Refusals: nothing is written, nothing is truncated or replaced -------------------

class DbfRefusal : public ::testing::Test {
protected:
    void SetUp() override {
        DbfBytes b;
        b.fields = {{"ID", 'N', 3}, {"NAME", 'C', 8}};
        b.languageDriver = 0x02; // CP850, which has no euro sign
        b.add(rightAligned("1", 3) + leftAligned("uno", 8));
        dir.write(QStringLiteral("t.dbf"), b.build());
        table = openRw(dir, QStringLiteral("t.dbf"));
        original = dir.read(QStringLiteral("t.dbf"));
    }

    StoreError::Kind refusal(const std::vector<QVariant>& values) {
        try {
            table->append(values);
        } catch (const StoreError& e) {
            EXPECT_EQ(dir.read(QStringLiteral("t.dbf")), original);
            EXPECT_EQ(table->rowCount(), 1u);
            return e.kind();
        }
        ADD_FAILURE() << "accepted";
        return StoreError::Kind::CannotOpen;
    }

    TempDir dir;
    std::unique_ptr<DbfTable> table;
    QByteArray original;
};

TEST_F(DbfRefusal, TextLongerThanItsFieldOnceEncoded) {
    EXPECT_EQ(refusal({2, QStringLiteral("nueve car")}), StoreError::Kind::TooLong);
    // Eight characters fit; each is one byte in CP850.
    EXPECT_NO_THROW(table->append({2, QStringLiteral("canción!")}));
}

TEST_F(DbfRefusal, TextTheCodePageCannotHold) {
    EXPECT_EQ(refusal({2, QStringLiteral("5 €")}), StoreError::Kind::NotRepresentable);
    EXPECT_EQ(refusal({2, QStringLiteral("歌")}), StoreError::Kind::NotRepresentable);
}

TEST_F(DbfRefusal, NumbersThatDoNotFitOrAreNotWhole) {
    EXPECT_EQ(refusal({1000, QStringLiteral("x")}), StoreError::Kind::BadValue);
    EXPECT_EQ(refusal({-100, QStringLiteral("x")}), StoreError::Kind::BadValue);
    EXPECT_EQ(refusal({2.5, QStringLiteral("x")}), StoreError::Kind::BadValue);
    EXPECT_EQ(refusal({QStringLiteral("doce"), QStringLiteral("x")}), StoreError::Kind::BadValue);
    EXPECT_NO_THROW(table->append({-99, QStringLiteral("x")}));
}

TEST(DbfRefusalUtf8, MultiByteCharactersCountAsTheirBytes) {
    TempDir dir;
    DbfTable::create(dir.file(QStringLiteral("t.dbf")), kPlaylistFields);
    auto t = openRw(dir, QStringLiteral("t.dbf"));
    EXPECT_NO_THROW(t->append({1, QString(127, QChar(0xFA))}));
    EXPECT_THROW(t->append({2, QString(128, QChar(0xFA))}), StoreError);
    EXPECT_THROW(t->append({2, QString(255, QLatin1Char('a'))}), StoreError);
    // A lone surrogate has no UTF-8 form.
    EXPECT_THROW(t->append({2, QString(QChar(0xD800))}), StoreError);
    EXPECT_EQ(t->rowCount(), 1u);
}

// --- Reading what other programs wrote --------------------------------------------------

TEST(DbfReading, FieldsInAnyOrderFoundByNameWithoutRegardToCase) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"LisDesc", 'C', 10}, {"lisid", 'N', 5}};
    b.add(leftAligned("Rock", 10) + rightAligned("42", 5));
    dir.write(QStringLiteral("listas.DBF"), b.build());

    auto t = DbfTable::open(dir.file(QStringLiteral("listas.DBF")), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(t->fieldIndex("LISID"), 1);
    EXPECT_EQ(t->fieldIndex("LisDesc"), 0);
    EXPECT_EQ(t->fieldIndex("nada"), -1);
    EXPECT_EQ(t->value(0, 1).toLongLong(), 42);
    EXPECT_EQ(t->text(0, 0), QStringLiteral("Rock"));
}

TEST(DbfReading, IdsInAnyNumericFieldWidthOrDecimals) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"A", 'N', 15, 5}, {"B", 'F', 20, 2}, {"C", 'N', 11}};
    b.add(rightAligned("111111111.00000", 15) + rightAligned("-2147483648.00", 20) +
          rightAligned("2147483647", 11));
    b.add(QByteArray(15, ' ') + rightAligned("**********", 20) + rightAligned("+7", 11));
    b.add(rightAligned("1.50000", 15) + rightAligned("12abc", 20) + QByteArray(11, '\0'));
    dir.write(QStringLiteral("t.dbf"), b.build());

    auto t = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(t->value(0, 0), QVariant(qint64(111111111)));
    EXPECT_EQ(t->value(0, 1), QVariant(qint64(-2147483648LL)));
    EXPECT_EQ(t->value(0, 2), QVariant(qint64(2147483647)));
    EXPECT_TRUE(t->value(1, 0).isNull()) << "empty numeric";
    EXPECT_TRUE(t->value(1, 1).isNull()) << "star-filled numeric";
    EXPECT_EQ(t->value(1, 2), QVariant(qint64(7)));
    EXPECT_EQ(t->value(2, 0), QVariant(1.5));
    EXPECT_TRUE(t->value(2, 1).isNull()) << "not a number";
    EXPECT_TRUE(t->value(2, 2).isNull()) << "NUL-filled numeric";

    EXPECT_EQ(t->findId(0, 111111111, 0, t->rowCount()), 0u);
    EXPECT_EQ(t->findId(1, INT32_MIN, 0, t->rowCount()), 0u);
    EXPECT_EQ(t->findId(2, INT32_MAX, 0, t->rowCount()), 0u);
    EXPECT_EQ(t->findId(0, 1, 0, t->rowCount()), DbfTable::npos) << "1.5 is not the id 1";
}

TEST(DbfReading, TextLosesItsPadBlanksButKeepsLeadingOnes) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"T", 'C', 6}};
    b.add(" a    ");
    b.add("      ");
    b.add(QByteArray("ab\0\0\0\0", 6));
    dir.write(QStringLiteral("t.dbf"), b.build());

    auto t = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(t->text(0, 0), QStringLiteral(" a"));
    EXPECT_EQ(t->text(1, 0), QString());
    EXPECT_EQ(t->text(2, 0), QStringLiteral("ab"));
}

TEST(DbfReading, VersionWithMemoFlagIsReadAndDeletedRowsAreMarked) {
    TempDir dir;
    DbfBytes b;
    b.version = 0x83;
    b.fields = {{"ID", 'N', 4}};
    b.add(rightAligned("1", 4));
    b.add(rightAligned("2", 4), true);
    dir.write(QStringLiteral("t.dbf"), b.build());

    auto t = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(t->rowCount(), 2u);
    EXPECT_EQ(t->liveRowCount(), 1u);
    EXPECT_TRUE(t->isDeleted(1));
    EXPECT_EQ(t->findId(0, 2, 0, 2), DbfTable::npos);
}

TEST(DbfReading, CountBeyondTheRecordsOnDiskIsCappedAndPartialRecordIgnored) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"ID", 'N', 4}};
    b.add(rightAligned("1", 4));
    b.add(rightAligned("2", 4));
    b.declaredCount = 1000;
    b.endMark = false;
    QByteArray bytes = b.build() + " 3"; // half a record
    dir.write(QStringLiteral("t.dbf"), bytes);

    auto ro = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    EXPECT_EQ(ro->rowCount(), 2u);
    // Opening for writing repairs nothing here; the next append overwrites the partial record.
    auto rw = openRw(dir, QStringLiteral("t.dbf"));
    EXPECT_EQ(dir.read(QStringLiteral("t.dbf")), bytes);
    rw->append({3});
    auto again = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
    ASSERT_EQ(again->rowCount(), 3u);
    EXPECT_EQ(again->value(2, 0).toInt(), 3);
}

TEST(DbfReading, MissingEndMarkIsAcceptedAndNotRepaired) {
    TempDir dir;
    DbfBytes b;
    b.fields = {{"ID", 'N', 4}};
    b.add(rightAligned("1", 4));
    b.endMark = false;
    dir.write(QStringLiteral("t.dbf"), b.build());

    auto t = openRw(dir, QStringLiteral("t.dbf"));
    EXPECT_EQ(t->rowCount(), 1u);
    EXPECT_EQ(dir.read(QStringLiteral("t.dbf")), b.build());
}

// Opening never writes; repair() cuts only what an interrupted command of ours leaves
// (its records, the last perhaps partial, zeros where a power cut came first) and turns
// torn records into deleted ones. Anything else past the count is left alone.
TEST(DbfReading, RepairMendsOnlyWhatAnInterruptedAppendLeaves) {
    const QByteArray record = " " + rightAligned("2", 4);
    const struct {
        const char* name;
        QByteArray tail;
        char firstFlag; // of the counted record
        bool cut;
    } cases[] = {
        {"whole record", record + char(0x1A), ' ', true},
        {"the records of one interrupted command", record + record + record.left(2), ' ', true},
        {"partial record", record.left(3), ' ', true},
        {"zeros of a record not yet on disk", QByteArray(6, '\0'), ' ', true},
        {"torn counted record", QByteArray(1, char(0x1A)), '\0', false},
        {"unknown data", QByteArray(300, 'x'), ' ', false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        DbfBytes b;
        b.fields = {{"ID", 'N', 4}};
        b.add(rightAligned("1", 4));
        b.endMark = false;
        QByteArray file = b.build();
        file[32 + 32 + 1] = c.firstFlag;
        file += c.tail;
        dir.write(QStringLiteral("t.dbf"), file);

        auto t = openRw(dir, QStringLiteral("t.dbf"));
        EXPECT_EQ(t->rowCount(), 1u);
        EXPECT_EQ(t->liveRowCount(), c.firstFlag == ' ' ? 1u : 0u);
        EXPECT_EQ(dir.read(QStringLiteral("t.dbf")), file);
        t->repair();
        QByteArray expected = file;
        if (c.firstFlag != ' ')
            expected[32 + 32 + 1] = '*';
        if (c.cut)
            expected = expected.left(32 + 32 + 1 + 5) + char(0x1A);
        EXPECT_EQ(dir.read(QStringLiteral("t.dbf")), expected);
    }
}

TEST(DbfReading, FilesThatAreNotDbaseTablesAreRefusedUntouched) {
    TempDir dir;
    DbfBytes good;
    good.fields = {{"ID", 'N', 4}};
    const QByteArray valid = good.build();

    QByteArray fieldsTooLong = valid;
    fieldsTooLong[10] = 3; // record length smaller than the field
    QByteArray noFields = valid.left(32) + char(0x0D) + char(0x1A);
    noFields[8] = 33;
    QByteArray headerPastEnd = valid;
    headerPastEnd[9] = 0x10;

    const struct {
        const char* name;
        QByteArray bytes;
        StoreError::Kind kind;
    } cases[] = {
        {"empty.dbf", QByteArray(), StoreError::Kind::NotDbase},
        {"text.dbf", "Esto no es una tabla\n", StoreError::Kind::NotDbase},
        {"foxpro.dbf", QByteArray(1, char(0x30)) + valid.mid(1), StoreError::Kind::NotDbase},
        {"short.dbf", valid.left(20), StoreError::Kind::Damaged},
        {"header.dbf", valid.left(50), StoreError::Kind::Damaged},
        {"nofields.dbf", noFields, StoreError::Kind::Damaged},
        {"pastend.dbf", headerPastEnd, StoreError::Kind::Damaged},
        {"record.dbf", fieldsTooLong, StoreError::Kind::Damaged},
    };
    for (const auto& c : cases) {
        const QString name = QString::fromLatin1(c.name);
        dir.write(name, c.bytes);
        EXPECT_EQ(openFailure(dir.file(name), DbfTable::Mode::ReadWrite), c.kind) << c.name;
        EXPECT_EQ(dir.read(name), c.bytes) << c.name;
    }
    EXPECT_EQ(openFailure(dir.file(QStringLiteral("missing.dbf"))), StoreError::Kind::CannotOpen);
}

TEST(DbfReading, TableFilesAreFoundWhateverTheirLetterCase) {
    TempDir dir;
    dir.write(QStringLiteral("LISTAS.DBF"), "x");
    dir.write(QStringLiteral("document.Dbf"), "x");
    EXPECT_EQ(melofon::store::findTableFile(dir.path(), QStringLiteral("Listas")),
              dir.file(QStringLiteral("LISTAS.DBF")));
    EXPECT_EQ(melofon::store::findTableFile(dir.path(), QStringLiteral("DOCUMENT")),
              dir.file(QStringLiteral("document.Dbf")));
    EXPECT_EQ(melofon::store::findTableFile(dir.path(), QStringLiteral("LISDOC")), QString());
    dir.write(QStringLiteral("Listas.dbf"), "x");
    EXPECT_EQ(melofon::store::findTableFile(dir.path(), QStringLiteral("Listas")),
              dir.file(QStringLiteral("Listas.dbf")));
}

// --- Code pages ------------------------------------------------------------------------

TEST(DbfCodePage, LanguageDriverByteChoosesTheCodePage) {
    const struct {
        unsigned char ldid;
        char byte;
    } cases[] = {{0x00, char(0xA3)}, {0x01, char(0xA3)}, {0x02, char(0xA3)},
                 {0x03, char(0xFA)}, {0x57, char(0xFA)}};
    for (const auto& c : cases) {
        TempDir dir;
        DbfBytes b;
        b.languageDriver = c.ldid;
        b.fields = {{"T", 'C', 4}};
        b.add(QByteArray("m") + c.byte + "s");
        dir.write(QStringLiteral("t.dbf"), b.build());
        auto t = DbfTable::open(dir.file(QStringLiteral("t.dbf")), DbfTable::Mode::ReadOnly);
        EXPECT_EQ(t->text(0, 0), QStringLiteral("mús")) << int(c.ldid);
    }
}

TEST(DbfCodePage, SidecarFileWinsOverTheLanguageDriver) {
    const struct {
        const char* cpg;
        QByteArray bytes;
    } cases[] = {{"UTF-8", "\xc3\xba"}, {"utf8\r\n", "\xc3\xba"}, {"1252", "\xfa"},
                 {"ANSI 1252", "\xfa"}, {"850", "\xa3"},      {"437", "\xa3"}};
    for (const auto& c : cases) {
        TempDir dir;
        DbfBytes b;
        b.languageDriver = 0x57;
        b.fields = {{"T", 'C', 4}};
        b.add(c.bytes);
        dir.write(QStringLiteral("T.DBF"), b.build());
        dir.write(QStringLiteral("t.cpg"), c.cpg);
        auto t = DbfTable::open(dir.file(QStringLiteral("T.DBF")), DbfTable::Mode::ReadOnly);
        EXPECT_EQ(t->text(0, 0), QStringLiteral("ú")) << c.cpg;
    }
}

// Unknown, not keeping ASCII as single bytes (blanks pad the fields), or a known name
// among bytes iconv would ignore or act on.
TEST(DbfCodePage, UnknownOrUnfitSidecarCodePageIsReported) {
    const QByteArray cases[] = {"NO-SUCH-PAGE", "UTF-16", "UTF-32LE", "UTF-7", QByteArray("UTF-8\0junk", 10),
                                "CP1252//TRANSLIT", "1252 850"};
    for (const QByteArray& cpg : cases) {
        TempDir dir;
        DbfBytes b;
        b.fields = {{"T", 'C', 4}};
        dir.write(QStringLiteral("t.dbf"), b.build());
        dir.write(QStringLiteral("t.cpg"), cpg);
        EXPECT_EQ(openFailure(dir.file(QStringLiteral("t.dbf"))), StoreError::Kind::UnknownCodePage) << cpg.data();
    }
}

TEST(DbfCodePage, UndefinedBytesReadAsReplacementCharacters) {
    const CodePage cp1252("CP1252");
    EXPECT_EQ(cp1252.decode("a\x81" "b", 3), QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(CodePage("UTF-8").decode("a\xff", 2), QStringLiteral("a\uFFFD"));
}

TEST(DbfCodePage, EncodingIsStrict) {
    EXPECT_EQ(CodePage("CP850").encode(QStringLiteral("ú")), QByteArray("\xa3"));
    EXPECT_EQ(CodePage("CP1252").encode(QStringLiteral("€")), QByteArray("\x80"));
    EXPECT_FALSE(CodePage("CP850").encode(QStringLiteral("€")));
    EXPECT_FALSE(CodePage("CP437").encode(QStringLiteral("ã")));
    // A stateful code page ends with its shift back, and reads back whole.
    const CodePage jis("ISO-2022-JP");
    const QByteArray shifted = "\x1b$BF|K\\\x1b(B";
    EXPECT_EQ(jis.encode(QStringLiteral("日本")), shifted);
    EXPECT_EQ(jis.decode(shifted.constData(), shifted.size()), QStringLiteral("日本"));
}
