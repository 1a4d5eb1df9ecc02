#include "registry/emulated_registry.h"
#include "registry/query_reg.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace melofon::registry;

namespace {

QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A result as the tests write it: empty, 5, 'text' or [hex bytes].
QString show(const Value& v) {
    if (const auto* n = std::get_if<std::int32_t>(&v))
        return QString::number(*n);
    if (const auto* t = std::get_if<QString>(&v))
        return QLatin1Char('\'') + *t + QLatin1Char('\'');
    if (const auto* b = std::get_if<QByteArray>(&v))
        return QLatin1Char('[') + QString::fromLatin1(b->toHex()) + QLatin1Char(']');
    return QStringLiteral("empty");
}

QStringList strs(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out << qs(t);
    return out;
}

const char* kShellFolders =
    ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";

// Counts value reads, and can delete a source key in the middle of its enumeration.
class WatchedRegistry : public EmulatedRegistry {
public:
    int valueReads = 0;
    int enumerations = 0;
    bool deleteWhileEnumerating = false;

    LONG RegQueryValueExA(HKEY k, LPCSTR n, DWORD* r, DWORD* t, BYTE* d, DWORD* s) override {
        ++valueReads;
        return EmulatedRegistry::RegQueryValueExA(k, n, r, t, d, s);
    }
    LONG RegEnumValueA(HKEY k, DWORD i, LPSTR n, DWORD* ns, DWORD* r, DWORD* t, BYTE* d,
                       DWORD* ds) override {
        if (deleteWhileEnumerating && i == 1)
            EmulatedRegistry::RegDeleteKeyA(HKEY_USERS, kShellFolders);
        if (++enumerations > 100) // a walk that does not end
            return ERROR_NO_MORE_ITEMS;
        return EmulatedRegistry::RegEnumValueA(k, i, n, ns, r, t, d, ds);
    }
};

class QueryRegTest : public ::testing::Test {
protected:
    WatchedRegistry reg;
    cQueryReg q{reg};

    void put(HKEY root, const char* path, const char* name, DWORD type, const QByteArray& data) {
        HKEY k = 0;
        ASSERT_EQ(reg.RegCreateKeyA(root, path, &k), ERROR_SUCCESS);
        ASSERT_EQ(reg.RegSetValueExA(k, name, 0, type,
                                     reinterpret_cast<const BYTE*>(data.constData()),
                                     DWORD(data.size())),
                  ERROR_SUCCESS);
        reg.RegCloseKey(k);
    }
    void putText(HKEY root, const char* path, const char* name, const char* text) {
        put(root, path, name, REG_SZ, QByteArray(text, qsizetype(std::strlen(text)) + 1));
    }
    // The stored bytes and type, or type REG_NONE when there is no such value.
    std::pair<DWORD, QByteArray> raw(HKEY root, const char* path, const char* name) {
        HKEY k = 0;
        if (reg.RegOpenKeyExA(root, path, 0, KEY_READ, &k))
            return {REG_NONE, {}};
        QByteArray data(1000, '\0');
        DWORD type = REG_NONE, size = 1000;
        const LONG rc = reg.RegQueryValueExA(k, name, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        reg.RegCloseKey(k);
        if (rc)
            return {REG_NONE, {}};
        return {type, data.left(size)};
    }
    QByteArray text(HKEY root, const char* path, const char* name = "") {
        auto [type, data] = raw(root, path, name);
        return type == REG_SZ ? QByteArray(data.constData()) : QByteArray("<none>");
    }
    bool exists(HKEY root, const char* path) {
        HKEY k = 0;
        const bool found = reg.RegOpenKeyExA(root, path, 0, KEY_READ, &k) == ERROR_SUCCESS;
        reg.RegCloseKey(k);
        return found;
    }
};

} // namespace

// --- Paths ---------------------------------------------------------------------------------

TEST_F(QueryRegTest, PathsNameTheirRootLongShortOrNotAtAll) {
    const std::pair<HKEY, const char*> roots[] = {{HKEY_CLASSES_ROOT, "HKCR"},
                                                  {HKEY_CURRENT_USER, "HKCU"},
                                                  {HKEY_LOCAL_MACHINE, "HKLM"},
                                                  {HKEY_USERS, "HKU"},
                                                  {HKEY_CURRENT_CONFIG, "HKCC"}};
    for (auto [root, name] : roots)
        putText(root, "Software", "where", name);
    putText(HKEY_LOCAL_MACHINE, "", "where", "HKLM itself");
    putText(HKEY_CURRENT_USER, "hklm\\Software", "where", "HKCU\\hklm");
    putText(HKEY_CLASSES_ROOT, "HKEY_X", "where", "HKCR\\HKEY_X");

    struct Case {
        const char* path;
        HKEY hKey;
        const char* expected;
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE\\Software", 0, "HKLM"},
        {"HKLM\\Software", HKEY_CURRENT_USER, "HKLM"},
        {"HKEY_LOCAL_MACHINE", 0, "HKLM itself"},
        {"hklm\\Software", HKEY_CURRENT_USER, "HKCU\\hklm"},
        {"HKU\\Software", 0, "HKU"},
        {"HKCC\\Software", 0, "HKCC"},
        {"HKEY_CURRENT_CONFIG\\Software", HKEY_USERS, "HKCC"},
        {"HKEY_PERFORMANCE_DATA\\Software", HKEY_USERS, "HKCR"},
        {"Software\\HKEY_X", HKEY_USERS, "HKCR\\HKEY_X"},
        {"Software", 0, "HKCR"},
        {"Software", HKEY_USERS, "HKU"},
        {"Software", HKEY_PERFORMANCE_DATA, "HKCR"},
        {"HKDD\\Software", 0, ""},
        {"Software", HKEY_DYN_DATA, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(q.GetRegString(qs(c.path), QStringLiteral("where"), c.hKey), qs(c.expected))
            << c.path << " under " << std::hex << c.hKey;
    }
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(QueryRegTest, ReadsEachTypeAsNumberTextOrBytes) {
    put(HKEY_CURRENT_USER, "K", "d255", REG_DWORD, QByteArray::fromHex("ff000000"));
    put(HKEY_CURRENT_USER, "K", "dAll", REG_DWORD, QByteArray::fromHex("ffffffff"));
    put(HKEY_CURRENT_USER, "K", "dLong", REG_DWORD, QByteArray::fromHex("0700000009000000"));
    put(HKEY_CURRENT_USER, "K", "dShort", REG_DWORD, QByteArray::fromHex("0201"));
    put(HKEY_CURRENT_USER, "K", "bin", REG_BINARY, QByteArray::fromHex("010aff"));
    put(HKEY_CURRENT_USER, "K", "binEmpty", REG_BINARY, {});
    put(HKEY_CURRENT_USER, "K", "sEmpty", REG_SZ, QByteArray(1, '\0'));
    put(HKEY_CURRENT_USER, "K", "sNone", REG_SZ, {});
    put(HKEY_CURRENT_USER, "K", "sOpen", REG_SZ, QByteArray::fromRawData("abcX", 3)); // no zero
    put(HKEY_CURRENT_USER, "K", "expand", REG_EXPAND_SZ, QByteArray("%PATH%", 7));
    putText(HKEY_CURRENT_USER, "K", "s", "Descripci\xF3n \x80");

    // Each cell: the plain result, then the text form.
    struct Case {
        const char* value;
        const char* dword;
        const char* reg;
        const char* binary;
        const char* string;
    };
    const Case cases[] = {
        {"d255", "255 '0x000000FF (255)'", "255 '0x000000FF (255)'", "[00] ''", "''"},
        {"dAll", "-1 '0xFFFFFFFF (-1)'", "-1 '0xFFFFFFFF (-1)'", "[00] ''", "''"},
        {"dLong", "7 '0x00000007 (7)'", "7 '0x00000007 (7)'", "[00] ''", "''"},
        {"dShort", "258 '0x00000102 (258)'", "258 '0x00000102 (258)'", "[00] ''", "''"},
        {"bin", "0 '0x00000000 (0)'", "[010aff00] '01 0A FF '", "[010aff00] '1 A FF '", "''"},
        {"binEmpty", "0 '0x00000000 (0)'", "[00] ''", "[00] ''", "''"},
        {"sEmpty", "0 '0x00000000 (0)'", "'' ''", "[00] ''", "''"},
        {"sNone", "0 '0x00000000 (0)'", "'' ''", "[00] ''", "''"},
        {"sOpen", "0 '0x00000000 (0)'", "'abc' 'abc'", "[00] ''", "'abc'"},
        {"s", "0 '0x00000000 (0)'", "'Descripción €' 'Descripción €'", "[00] ''",
         "'Descripción €'"},
        {"expand", "0 '0x00000000 (0)'", "empty empty", "[00] ''", "''"},
        {"missing", "0 '0x00000000 (0)'", "empty empty", "[00] ''", "''"},
    };
    const QString key = QStringLiteral("HKCU\\K");
    const auto both = [](const Value& plain, const Value& text) {
        return show(plain) + QLatin1Char(' ') + show(text);
    };
    for (const Case& c : cases) {
        const QString v = qs(c.value);
        SCOPED_TRACE(c.value);
        EXPECT_EQ(both(q.GetRegDWord(key, v), q.GetRegDWord(key, v, 0, true)), qs(c.dword));
        EXPECT_EQ(both(q.GetReg(key, v), q.GetReg(key, v, 0, true)), qs(c.reg));
        EXPECT_EQ(both(q.GetRegBinary(key, v), q.GetRegBinary(key, v, 0, true)), qs(c.binary));
        EXPECT_EQ(show(q.GetRegString(key, v)), qs(c.string));
    }
    EXPECT_EQ(q.GetReg(QStringLiteral("HKCU\\Missing"), QStringLiteral("s")), Value());
}

TEST_F(QueryRegTest, QueryRegBaseReadsASubkeysUnnamedValueThatFitsItsBuffer) {
    putText(HKEY_CLASSES_ROOT, ".mp3", "", "progID.mp3");
    putText(HKEY_CURRENT_USER, ".mp3", "", "user's");
    putText(HKEY_CLASSES_ROOT, "Empty", "", "");
    putText(HKEY_CLASSES_ROOT, "NoDefault", "other", "x");
    putText(HKEY_CLASSES_ROOT, "Fits", "", QByteArray(299, 'f').constData()); // 300 bytes
    putText(HKEY_CLASSES_ROOT, "TooLong", "", QByteArray(300, 't').constData());

    EXPECT_EQ(q.QueryRegBase(QStringLiteral(".mp3")), QStringLiteral("progID.mp3"));
    EXPECT_EQ(q.QueryRegBase(QStringLiteral(".mp3"), HKEY_CURRENT_USER), QStringLiteral("user's"));
    EXPECT_EQ(q.QueryRegBase(QStringLiteral(".mp3"), HKEY_CURRENT_CONFIG),
              QStringLiteral("progID.mp3"));
    EXPECT_EQ(q.QueryRegBase(QStringLiteral("Fits")).size(), 299);
    for (const char* subKey : {"Missing", "Empty", "NoDefault", "TooLong"})
        EXPECT_EQ(q.QueryRegBase(qs(subKey)), QString()) << subKey;
}

// --- Thin wrappers -------------------------------------------------------------------------

TEST_F(QueryRegTest, WrappersPassTheirCallThroughAndCopyBuffersBack) {
    putText(HKEY_CURRENT_USER, "K", "name", "data");
    putText(HKEY_CURRENT_USER, "K\\Sub", "", "");

    HKEY key = 0;
    // The access asked for is ignored: query only.
    ASSERT_EQ(q.OpenKeyQuery(HKEY_CURRENT_USER, QStringLiteral("K"), 5, KEY_ALL_ACCESS, key), 0);
    QString value = QStringLiteral("x");
    EXPECT_EQ(q.RegSetValue2(key, QStringLiteral("v"), REG_DWORD, value, 0), ERROR_ACCESS_DENIED);

    QString name(8, QChar(0)), data(8, QChar(0));
    DWORD nameSize = 8, dataSize = 8, type = 0, reserved = 0;
    EXPECT_EQ(q.EnumValueString(key, 0, name, nameSize, reserved, type, data, dataSize), 0);
    EXPECT_EQ(name, QStringLiteral("name") + QString(4, QChar(0)));
    EXPECT_EQ(data, QStringLiteral("data") + QString(4, QChar(0)));
    EXPECT_EQ(std::vector<DWORD>({nameSize, dataSize, type}), std::vector<DWORD>({4, 5, REG_SZ}));

    // Sizes larger than their buffers stop at the buffer: too small, nothing written past it.
    QString shortName(2, QChar(0));
    QByteArray shortData(2, '\0');
    nameSize = 50;
    dataSize = 50;
    EXPECT_EQ(q.EnumValue(key, 0, shortName, nameSize, reserved, type, shortData, dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(shortName.size(), 2);
    EXPECT_EQ(shortData.size(), 2);
    EXPECT_EQ(std::vector<DWORD>({nameSize, dataSize}), std::vector<DWORD>({50, 5}));
    EXPECT_EQ(q.CloseKey(key), ERROR_SUCCESS);

    // OpenKeyEx passes the access on, and 0 for the options.
    ASSERT_EQ(q.OpenKeyEx(HKEY_CURRENT_USER, QStringLiteral("K"), 99, KEY_ALL_ACCESS, key), 0);
    // RegSetValue2 writes text whatever type and size it is told; the zero is stored.
    value = QStringLiteral("abc");
    EXPECT_EQ(q.RegSetValue2(key, QStringLiteral("v"), REG_DWORD, value, 99), ERROR_SUCCESS);
    EXPECT_EQ(raw(HKEY_CURRENT_USER, "K", "v"), std::make_pair(REG_SZ, QByteArray("abc", 4)));
    q.CloseKey(key);
    EXPECT_EQ(q.DeleteKeyWin95(HKEY_CURRENT_USER, QStringLiteral("K")), ERROR_ACCESS_DENIED);
}

// --- Writing and deleting ------------------------------------------------------------------

TEST_F(QueryRegTest, SetRegWritesByTypeAndRefusesWhatDoesNotConvert) {
    put(HKEY_CURRENT_USER, "K", "keep", REG_SZ, QByteArray("old", 4));
    struct Case {
        const char* name;
        Value value;
        DWORD type;
        LONG rc;
        const char* stored; // type:bytes
    };
    const Case cases[] = {
        {"text", QStringLiteral("abc"), REG_SZ, 0, "1:61626300"},
        {"number as text", 42, REG_SZ, 0, "1:343200"},
        {"bytes", QByteArray::fromHex("01020300"), REG_BINARY, 0, "3:010203"},
        {"number", -2, REG_DWORD, 0, "4:feffffff"},
        {"text as number", QStringLiteral(" 12 "), REG_DWORD, 0, "4:0c000000"},
        {"no type", QStringLiteral("abc"), REG_NONE, 0, "0:"},
        {"keep", Value(), REG_SZ, 87, "1:6f6c6400"},
        {"keep", QStringLiteral("x"), REG_DWORD, 87, "1:6f6c6400"},
        {"keep", QStringLiteral("x"), REG_BINARY, 87, "1:6f6c6400"},
        {"keep", qs("日本"), REG_SZ, 87, "1:6f6c6400"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(q.SetReg(QStringLiteral("HKCU\\K"), qs(c.name), c.value, 0, c.type), c.rc)
            << c.name;
        const auto [type, data] = raw(HKEY_CURRENT_USER, "K", c.name);
        EXPECT_EQ(QByteArray::number(type) + ':' + data.toHex(), c.stored) << c.name;
    }
}

TEST_F(QueryRegTest, SetRegCreatesMissingKeysOnlyWhenAsked) {
    const QString path = QStringLiteral("A\\B\\C");
    EXPECT_EQ(q.SetReg(path, QStringLiteral("v"), 1, HKEY_CURRENT_USER, REG_DWORD), 2);
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, "A"));
    EXPECT_EQ(q.SetReg(path, QStringLiteral("v"), 1, HKEY_CURRENT_USER, REG_DWORD, true), 0);
    EXPECT_EQ(q.GetRegDWord(path, QStringLiteral("v"), HKEY_CURRENT_USER), Value(1));
    // Without a type the key is still made, and nothing is written.
    EXPECT_EQ(q.SetReg(QStringLiteral("HKLM\\X\\Y"), QStringLiteral("v"), 1, 0, 0, true), 0);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "X\\Y"));
    EXPECT_EQ(raw(HKEY_LOCAL_MACHINE, "X\\Y", "v").first, REG_NONE);
}

TEST_F(QueryRegTest, DeleteKeyRemovesATreeOrOneValue) {
    for (const char* path : {"T\\A\\1\\x", "T\\A\\2", "T\\B", "T\\c"})
        putText(HKEY_CLASSES_ROOT, path, "v", "x");
    putText(HKEY_CLASSES_ROOT, "Keep", "a", "1");
    putText(HKEY_CLASSES_ROOT, "Keep", "b", "2");

    EXPECT_EQ(q.DeleteKey(QStringLiteral("Keep"), QStringLiteral("A")), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "Keep", "a"), "<none>");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "Keep", "b"), "2");
    EXPECT_EQ(q.DeleteKey(QStringLiteral("Keep"), QStringLiteral("a")), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(q.DeleteKey(QStringLiteral("T"), {}, HKEY_CURRENT_CONFIG), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "T"));
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, "Keep"));
    EXPECT_EQ(q.DeleteKey(QStringLiteral("T")), ERROR_FILE_NOT_FOUND);
}

TEST_F(QueryRegTest, DeleteKeyRefusesPathsThatWouldReachOtherKeys) {
    putText(HKEY_CURRENT_USER, "Software\\Foo", "v", "x");
    putText(HKEY_CURRENT_USER, "Software\\Foo\\Bar", "v", "x");
    // A bare root, a zero inside the path, a character the code page lacks.
    EXPECT_EQ(q.DeleteKey(QStringLiteral("HKEY_CURRENT_USER")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(q.DeleteKey(QStringLiteral("HKCU\\")), ERROR_ACCESS_DENIED);
    EXPECT_EQ(q.DeleteKey(QStringLiteral("HKCU\\Software\\Foo") + QChar(0) + QStringLiteral("x")),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(q.DeleteKey(qs("HKCU\\Software\\Foo\\Bär✓")), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(q.DeleteKey(QStringLiteral("HKCU\\Software"), QStringLiteral("v") + QChar(0)),
              ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Foo\\Bar"));
}

// --- Listing -------------------------------------------------------------------------------

TEST_F(QueryRegTest, EnumKeysListsSubkeysFromIndexOne) {
    for (const char* path : {"K\\beta", "K\\Alpha\\deep", "Empty\\"})
        putText(HKEY_CLASSES_ROOT, path, "", "");
    QStringList list{QStringLiteral("stale")};
    EXPECT_TRUE(q.EnumKeys(list, QStringLiteral("K")));
    EXPECT_EQ(list, QStringList({QString(), QStringLiteral("Alpha"), QStringLiteral("beta")}));
    EXPECT_TRUE(q.EnumKeys(list, QStringLiteral("HKEY_CLASSES_ROOT\\Empty")));
    EXPECT_EQ(list, QStringList{QString()});
    EXPECT_FALSE(q.EnumKeys(list, QStringLiteral("Missing")));
    EXPECT_EQ(list, QStringList{QString()});
}

TEST_F(QueryRegTest, EnumValuesListsNamesAndDataAsText) {
    putText(HKEY_CURRENT_USER, "K", "A", "x");
    put(HKEY_CURRENT_USER, "K", "B", REG_DWORD, QByteArray::fromHex("05000000"));
    put(HKEY_CURRENT_USER, "K", "C", REG_BINARY, QByteArray::fromHex("00ff"));
    putText(HKEY_CURRENT_USER, "K", "", "unnamed");
    put(HKEY_CURRENT_USER, "K", "D", REG_DWORD, QByteArray::fromHex("0100000002000000"));
    QStringList list;
    EXPECT_TRUE(q.EnumValues(list, QStringLiteral("HKCU\\K")));
    EXPECT_EQ(list, strs({"", "A", "x", "B", "5", "C", "00 FF ", "", "unnamed", "D", "1"}));

    // A byte value is left out when no value of the key holds any data.
    put(HKEY_CURRENT_USER, "Bare", "b", REG_BINARY, {});
    put(HKEY_CURRENT_USER, "Bare", "s", REG_SZ, {});
    EXPECT_TRUE(q.EnumValues(list, QStringLiteral("HKCU\\Bare")));
    EXPECT_EQ(list, strs({"", "s", ""}));
    EXPECT_FALSE(q.EnumValues(list, QStringLiteral("HKCU\\Missing")));
    EXPECT_EQ(list, QStringList{QString()});
}

// --- Special folders -----------------------------------------------------------------------

namespace {

class FoldersTest : public QueryRegTest {
protected:
    void SetUp() override {
        putText(HKEY_USERS, kShellFolders, "Desktop", "C:\\Users\\Default\\Desktop");
        putText(HKEY_USERS, kShellFolders, "Personal", "C:\\Users\\Default\\Documents");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", "C:\\Program Files");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", "Windows");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "DESKTOP", "D:\\Other");
    }
};

QStringList items(const Collection& c) {
    QStringList out;
    for (int i = 1; i <= c.count(); ++i)
        out << *c.item(i);
    return out;
}

} // namespace

TEST_F(FoldersTest, ShellFoldersListsNamesAndWhereEachIsFound) {
    const QString users = QStringLiteral("HKEY_USERS\\") + qs(kShellFolders);
    const QString machine = QStringLiteral("HKEY_LOCAL_MACHINE\\") + qs(kCurrentVersion);
    // The second DESKTOP is a duplicate and keeps the first; ProductName holds no ":\".
    EXPECT_EQ(items(q.ShellFolders(true)),
              strs({"Desktop", "Personal", "ProgramFilesDir", "WindowsDir", "SystemDir"}));
    EXPECT_EQ(items(q.ShellFolders()),
              QStringList({users, users, machine, qs("C:\\WINDOWS"), qs("C:\\WINDOWS\\system32")}));
    EXPECT_EQ(q.ShellFolders().item(QStringLiteral("programfilesdir")), machine);
}

TEST_F(FoldersTest, GetFolderByNameOrPosition) {
    EXPECT_EQ(q.GetFolder(QStringLiteral("Desktop")), qs("C:\\Users\\Default\\Desktop"));
    EXPECT_EQ(q.GetFolder(QStringLiteral("desktop")), qs("C:\\Users\\Default\\Desktop"));
    EXPECT_EQ(q.GetFolder(1), qs("C:\\Users\\Default\\Desktop"));
    EXPECT_EQ(q.GetFolder(3), qs("C:\\Program Files"));
    EXPECT_EQ(q.GetFolder(5), qs("C:\\WINDOWS\\system32"));
    for (int position : {0, 6, -1})
        EXPECT_EQ(q.GetFolder(position), QString()) << position;
    EXPECT_EQ(q.GetFolder(QStringLiteral("ProductName")), QString());
    const int reads = reg.valueReads;
    EXPECT_EQ(q.GetFolder(QStringLiteral("WindowsDir")), QStringLiteral("C:\\WINDOWS"));
    EXPECT_EQ(reg.valueReads, reads);
}

TEST_F(FoldersTest, AValueNamedLikeADirectoryStillReadsFromTheRegistry) {
    putText(HKEY_USERS, kShellFolders, "WindowsDir", "E:\\Mine");
    EXPECT_EQ(q.ShellFolders(true).count(), 5);
    EXPECT_EQ(q.GetFolder(QStringLiteral("WindowsDir")), QStringLiteral("E:\\Mine"));
    EXPECT_EQ(q.GetFolder(QStringLiteral("SystemDir")), QStringLiteral("C:\\WINDOWS\\system32"));
}

TEST_F(FoldersTest, AKeyDeletedDuringTheWalkEndsIt) {
    reg.deleteWhileEnumerating = true;
    EXPECT_EQ(items(q.ShellFolders(true)),
              strs({"Desktop", "ProgramFilesDir", "WindowsDir", "SystemDir"}));
    EXPECT_LT(reg.enumerations, 20);
}

// --- File associations ---------------------------------------------------------------------

TEST_F(QueryRegTest, AsociarExtWritesExtensionProgIdVerbAndCommand) {
    q.AsociarExt(QStringLiteral(" mp3 "), QStringLiteral("player"), QStringLiteral("&Reproducir"),
                 true);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, ".mp3"), "progID.mp3");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3"), "Descripci\xF3n de progID.mp3");
    const char* shell = "Software\\Classes\\progID.mp3\\shell";
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, shell), "Reproducir");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3\\shell\\Reproducir"), "&Reproducir");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3\\shell\\Reproducir\\command"),
              "player.exe \"%1\"");

    // An existing ProgID gets the verb; the ones given are ignored. "open" has no caption.
    q.AsociarExt(QStringLiteral(".mp3"), QStringLiteral("C:\\Program Files\\Other\\other.exe"),
                 QStringLiteral("open"), false, QStringLiteral("Other"), QStringLiteral("Desc"));
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "Other"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3"), "Descripci\xF3n de progID.mp3");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3\\shell\\open"), "<none>");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mp3\\shell\\open\\command"),
              "\"C:\\Program Files\\Other\\other.exe\" \"%1\"");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, shell), "Reproducir");

    // Without a program no command is written; without a verb the command is "open".
    q.AsociarExt(QStringLiteral("wav"), {}, QStringLiteral("&Oir"), false, QStringLiteral("Snd"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "Snd\\shell\\Oir"), "&Oir");
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "Snd\\shell\\Oir\\command"));
    q.AsociarExt(QStringLiteral("mid"), QStringLiteral("p.exe"), {}, true);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mid\\shell\\open\\command"), "p.exe \"%1\"");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mid\\shell"), "open");
}

TEST_F(QueryRegTest, DesasociarExtKeepsAProgIdOtherExtensionsStillName) {
    q.AsociarExt(QStringLiteral("mp3"), QStringLiteral("p"), QStringLiteral("open"), false,
                 QStringLiteral("Shared"));
    q.AsociarExt(QStringLiteral("mp2"), QStringLiteral("p"), QStringLiteral("open"), false,
                 QStringLiteral("SHARED"));
    q.AsociarExt(QStringLiteral("wav"), QStringLiteral("p"), QStringLiteral("open"));

    QStringList before, after;
    q.EnumKeys(before, QStringLiteral("HKEY_CLASSES_ROOT"));
    q.DesasociarExt(QStringLiteral("ogg")); // no ProgID: nothing changes
    q.EnumKeys(after, QStringLiteral("HKEY_CLASSES_ROOT"));
    EXPECT_EQ(after, before);
    q.DesasociarExt(QStringLiteral("mp3"));
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, ".mp3"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "Shared\\shell\\open\\command"), "p.exe \"%1\"");
    q.DesasociarExt(QStringLiteral(".mp2"));
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "Shared"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, ".wav"), "progID.wav");
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\progID.wav\\shell\\open\\command"));
}
