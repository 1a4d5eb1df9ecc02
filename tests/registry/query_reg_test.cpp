// The registry class, checked on whichever registry this is built for: a fresh emulation
// for each test here, the real one when cross-built for Windows. Tests work below keys of
// their own and remove them afterwards; the special-folder tests rewrite two system keys
// for their length, so on a real registry they run only in a throwaway one (the Wine
// cross-check says so with MELOFON_THROWAWAY_REGISTRY=1).
#include "registry/query_reg.h"
#include "remove_tree.h"

#ifndef _WIN32
#include "registry/emulated_registry.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

using namespace melofon::registry;

namespace {

using Strings = std::vector<std::string>;

// The bytes a hex string spells.
std::string hex(const char* digits) {
    std::string out;
    for (std::size_t i = 0; digits[i] && digits[i + 1]; i += 2)
        out += char(std::stoi(std::string(digits + i, 2), nullptr, 16));
    return out;
}

std::string toHex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// A result as the tests write it: empty, 5, 'text' or [hex bytes].
std::string show(const Value& v) {
    if (const auto* n = std::get_if<std::int32_t>(&v))
        return std::to_string(*n);
    if (const auto* t = std::get_if<std::string>(&v))
        return '\'' + *t + '\'';
    if (const auto* b = std::get_if<Bytes>(&v))
        return '[' + toHex(std::string(b->begin(), b->end())) + ']';
    return "empty";
}

Bytes bytes(const char* digits) {
    const std::string b = hex(digits);
    return Bytes(b.begin(), b.end());
}

// The tests' own keys. The first is made under every root, where HKEY_USERS allows it.
const std::string kEverywhere = ".Default\\Software\\MelofonQueryRegTest";
const std::string kScratch = "Software\\MelofonQueryRegTest";
std::string scratch(const std::string& path) {
    return kScratch + "\\" + path;
}
const char* kShellFolders =
    ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* kCurrentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                       HKEY_CURRENT_CONFIG};

// The registry under test, counting value reads; it can delete a source key in the middle
// of its enumeration.
class WatchedRegistry : public RegistryApi {
public:
    int valueReads = 0;
    int enumerations = 0;
    bool deleteWhileEnumerating = false;

    LONG RegQueryValueExA(HKEY k, LPCSTR n, DWORD* r, DWORD* t, BYTE* d, DWORD* s) override {
        ++valueReads;
        return api.RegQueryValueExA(k, n, r, t, d, s);
    }
    LONG RegEnumValueA(HKEY k, DWORD i, LPSTR n, DWORD* ns, DWORD* r, DWORD* t, BYTE* d,
                       DWORD* ds) override {
        if (deleteWhileEnumerating && i == 1)
            api.RegDeleteKeyA(HKEY_USERS, kShellFolders);
        if (++enumerations > 100) // a walk that does not end
            return ERROR_NO_MORE_ITEMS;
        return api.RegEnumValueA(k, i, n, ns, r, t, d, ds);
    }

    LONG RegOpenKeyExA(HKEY k, LPCSTR s, DWORD o, REGSAM a, HKEY* r) override {
        return api.RegOpenKeyExA(k, s, o, a, r);
    }
    LONG RegCreateKeyA(HKEY k, LPCSTR s, HKEY* r) override { return api.RegCreateKeyA(k, s, r); }
    LONG RegQueryValueA(HKEY k, LPCSTR s, LPSTR d, LONG* n) override {
        return api.RegQueryValueA(k, s, d, n);
    }
    LONG RegSetValueExA(HKEY k, LPCSTR n, DWORD r, DWORD t, const BYTE* d, DWORD s) override {
        return api.RegSetValueExA(k, n, r, t, d, s);
    }
    LONG RegSetValueA(HKEY k, LPCSTR s, DWORD t, LPCSTR d, DWORD n) override {
        return api.RegSetValueA(k, s, t, d, n);
    }
    LONG RegDeleteValueA(HKEY k, LPCSTR n) override { return api.RegDeleteValueA(k, n); }
    LONG RegDeleteKeyA(HKEY k, LPCSTR s) override { return api.RegDeleteKeyA(k, s); }
    LONG RegEnumKeyExA(HKEY k, DWORD i, LPSTR n, DWORD* ns, DWORD* r, LPSTR c, DWORD* cs,
                       FILETIME* t) override {
        return api.RegEnumKeyExA(k, i, n, ns, r, c, cs, t);
    }
    LONG RegQueryInfoKeyA(HKEY k, LPSTR c, DWORD* cs, DWORD* r, DWORD* sk, DWORD* msk, DWORD* mc,
                          DWORD* v, DWORD* mvn, DWORD* mv, DWORD* sd, FILETIME* t) override {
        return api.RegQueryInfoKeyA(k, c, cs, r, sk, msk, mc, v, mvn, mv, sd, t);
    }
    LONG RegCloseKey(HKEY k) override { return api.RegCloseKey(k); }
    UINT GetWindowsDirectoryA(LPSTR b, UINT s) override { return api.GetWindowsDirectoryA(b, s); }
    UINT GetSystemDirectoryA(LPSTR b, UINT s) override { return api.GetSystemDirectoryA(b, s); }

private:
#ifdef _WIN32
    RegistryApi& api = systemRegistry();
#else
    EmulatedRegistry emulation; // a fresh, empty one for each test
    RegistryApi& api = emulation;
#endif
};

class QueryRegTest : public ::testing::Test {
protected:
    void SetUp() override { removeOurKeys(); }
    void TearDown() override { removeOurKeys(); }

    WatchedRegistry reg;
    cQueryReg q{reg};

    void put(HKEY root, const std::string& path, const char* name, DWORD type,
             const std::string& data) {
        HKEY k = 0;
        ASSERT_EQ(reg.RegCreateKeyA(root, path.c_str(), &k), ERROR_SUCCESS) << path;
        ASSERT_EQ(reg.RegSetValueExA(k, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                                     DWORD(data.size())),
                  ERROR_SUCCESS);
        reg.RegCloseKey(k);
    }
    void putText(HKEY root, const std::string& path, const char* name, const std::string& text) {
        put(root, path, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
    }
    // The stored bytes and type, or type REG_NONE when there is no such value.
    std::pair<DWORD, std::string> raw(HKEY root, const std::string& path, const char* name) {
        HKEY k = 0;
        if (reg.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k))
            return {REG_NONE, {}};
        std::string data(1000, '\0');
        DWORD type = REG_NONE, size = 1000;
        const LONG rc = reg.RegQueryValueExA(k, name, nullptr, &type,
                                             reinterpret_cast<BYTE*>(data.data()), &size);
        reg.RegCloseKey(k);
        if (rc)
            return {REG_NONE, {}};
        return {type, data.substr(0, size)};
    }
    std::string text(HKEY root, const std::string& path, const char* name = "") {
        auto [type, data] = raw(root, path, name);
        return type == REG_SZ ? std::string(data.c_str()) : "<none>";
    }
    bool exists(HKEY root, const std::string& path) {
        HKEY k = 0;
        const bool found = reg.RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &k) == ERROR_SUCCESS;
        reg.RegCloseKey(k);
        return found;
    }
    std::string directory(UINT (RegistryApi::*get)(LPSTR, UINT)) {
        char buffer[300] = {};
        return std::string(buffer, (reg.*get)(buffer, sizeof buffer));
    }

private:
    void removeOurKeys() {
        for (HKEY root : kRoots) {
            removeTree(reg, root, kEverywhere);
            removeTree(reg, root, kScratch);
            // The parents the tests made; a key with other subkeys is not deleted.
            if (root != HKEY_USERS) {
                reg.RegDeleteKeyA(root, ".Default\\Software");
                reg.RegDeleteKeyA(root, ".Default");
            }
        }
        removeTree(reg, HKEY_CURRENT_USER, "hklm\\MelofonQueryRegTest");
        reg.RegDeleteKeyA(HKEY_CURRENT_USER, "hklm");
        reg.RegDeleteValueA(HKEY_CURRENT_USER, "MelofonQueryRegTest");
        for (const char* key :
             {"HKEY_MelofonQueryRegTest", ".mlf3", ".mlf2", ".mlfw", ".mlfm", "progID.mlf3",
              "progID.mlfw", "progID.mlfm", "MelofonOther", "MelofonSnd", "MelofonShared"})
            removeTree(reg, HKEY_CLASSES_ROOT, key);
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
        putText(root, kEverywhere, "where", name);
    HKEY user = HKEY_CURRENT_USER;
    reg.RegSetValueExA(user, "MelofonQueryRegTest", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>("HKCU itself"), 12);
    putText(HKEY_CURRENT_USER, "hklm\\MelofonQueryRegTest", "where", "HKCU\\hklm");
    putText(HKEY_CLASSES_ROOT, "HKEY_MelofonQueryRegTest", "where", "HKCR\\HKEY_");

    struct Case {
        std::string path;
        HKEY hKey;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"HKEY_LOCAL_MACHINE\\" + kEverywhere, 0, "where", "HKLM"},
        {"HKLM\\" + kEverywhere, HKEY_CURRENT_USER, "where", "HKLM"},
        {"HKEY_CURRENT_USER", 0, "MelofonQueryRegTest", "HKCU itself"},
        {"hklm\\MelofonQueryRegTest", HKEY_CURRENT_USER, "where", "HKCU\\hklm"},
        {"HKU\\" + kEverywhere, 0, "where", "HKU"},
        {"HKCC\\" + kEverywhere, 0, "where", "HKCC"},
        {"HKEY_CURRENT_CONFIG\\" + kEverywhere, HKEY_USERS, "where", "HKCC"},
        {"HKEY_PERFORMANCE_DATA\\" + kEverywhere, HKEY_USERS, "where", "HKCR"},
        {"Software\\HKEY_MelofonQueryRegTest", HKEY_USERS, "where", "HKCR\\HKEY_"},
        {kEverywhere, 0, "where", "HKCR"},
        {kEverywhere, HKEY_USERS, "where", "HKU"},
        {kEverywhere, HKEY_PERFORMANCE_DATA, "where", "HKCR"},
        {"HKDD\\" + kEverywhere, 0, "where", ""},
        {kEverywhere, HKEY_DYN_DATA, "where", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(q.GetRegString(c.path, c.value, c.hKey), c.expected)
            << c.path << " under " << std::hex << c.hKey;
    }
}

// --- Reading -------------------------------------------------------------------------------

TEST_F(QueryRegTest, ReadsEachTypeAsNumberTextOrBytes) {
    const std::string k = scratch("K");
    put(HKEY_CURRENT_USER, k, "d255", REG_DWORD, hex("ff000000"));
    put(HKEY_CURRENT_USER, k, "dAll", REG_DWORD, hex("ffffffff"));
    put(HKEY_CURRENT_USER, k, "dLong", REG_DWORD, hex("0700000009000000"));
    put(HKEY_CURRENT_USER, k, "dShort", REG_DWORD, hex("0201"));
    put(HKEY_CURRENT_USER, k, "bin", REG_BINARY, hex("010aff"));
    put(HKEY_CURRENT_USER, k, "binEmpty", REG_BINARY, {});
    put(HKEY_CURRENT_USER, k, "sEmpty", REG_SZ, std::string(1, '\0'));
    put(HKEY_CURRENT_USER, k, "sNone", REG_SZ, {});
    put(HKEY_CURRENT_USER, k, "sOpen", REG_SZ, "abc"); // no zero, and none after it
    put(HKEY_CURRENT_USER, k, "expand", REG_EXPAND_SZ, std::string("%PATH%", 7));
    putText(HKEY_CURRENT_USER, k, "s", "Descripci\xF3n \x80");

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
    const std::string key = "HKCU\\" + k;
    const auto both = [](const Value& plain, const Value& text) {
        return show(plain) + ' ' + show(text);
    };
    for (const Case& c : cases) {
        const std::string v = c.value;
        SCOPED_TRACE(c.value);
        EXPECT_EQ(both(q.GetRegDWord(key, v), q.GetRegDWord(key, v, 0, true)), c.dword);
        EXPECT_EQ(both(q.GetReg(key, v), q.GetReg(key, v, 0, true)), c.reg);
        EXPECT_EQ(both(q.GetRegBinary(key, v), q.GetRegBinary(key, v, 0, true)), c.binary);
        EXPECT_EQ(show(q.GetRegString(key, v)), c.string);
    }
    EXPECT_EQ(q.GetReg("HKCU\\" + scratch("Missing"), "s"), Value());
}

TEST_F(QueryRegTest, QueryRegBaseReadsASubkeysUnnamedValueThatFitsItsBuffer) {
    putText(HKEY_CLASSES_ROOT, scratch(".ext"), "", "progID.ext");
    putText(HKEY_CURRENT_USER, scratch(".ext"), "", "user's");
    putText(HKEY_CLASSES_ROOT, scratch("Empty"), "", "");
    putText(HKEY_CLASSES_ROOT, scratch("NoDefault"), "other", "x");
    putText(HKEY_CLASSES_ROOT, scratch("Fits"), "", std::string(299, 'f')); // 300 bytes
    putText(HKEY_CLASSES_ROOT, scratch("TooLong"), "", std::string(300, 't'));

    EXPECT_EQ(q.QueryRegBase(scratch(".ext")), "progID.ext");
    EXPECT_EQ(q.QueryRegBase(scratch(".ext"), HKEY_CURRENT_USER), "user's");
    EXPECT_EQ(q.QueryRegBase(scratch(".ext"), HKEY_CURRENT_CONFIG), "progID.ext");
    EXPECT_EQ(q.QueryRegBase(scratch("Fits")).size(), 299u);
    for (const char* subKey : {"Missing", "Empty", "NoDefault", "TooLong"})
        EXPECT_EQ(q.QueryRegBase(scratch(subKey)), "") << subKey;
}

// --- Thin wrappers -------------------------------------------------------------------------

TEST_F(QueryRegTest, WrappersPassTheirCallThroughAndCopyBuffersBack) {
    const std::string k = scratch("K");
    putText(HKEY_CURRENT_USER, k, "name", "data");
    putText(HKEY_CURRENT_USER, k + "\\Sub", "", "");

    HKEY key = 0;
    // The access asked for is ignored: query only.
    ASSERT_EQ(q.OpenKeyQuery(HKEY_CURRENT_USER, k, 5, KEY_ALL_ACCESS, key), 0);
    std::string value = "x";
    EXPECT_EQ(q.RegSetValue2(key, "v", REG_DWORD, value, 0), ERROR_ACCESS_DENIED);

    // Buffers keep their length in characters, whatever the code page makes of them.
    std::string name = "ñ" + std::string(7, '\0'), data(8, '\0');
    DWORD nameSize = 8, dataSize = 8, type = 0, reserved = 0;
    EXPECT_EQ(q.EnumValueString(key, 0, name, nameSize, reserved, type, data, dataSize), 0);
    EXPECT_EQ(name, "name" + std::string(4, '\0'));
    EXPECT_EQ(data, "data" + std::string(4, '\0'));
    EXPECT_EQ(std::vector<DWORD>({nameSize, dataSize, type}), std::vector<DWORD>({4, 5, REG_SZ}));

    // Sizes larger than their buffers stop at the buffer: too small, nothing written past it.
    std::string shortName(2, '\0');
    Bytes shortData(2, 0);
    nameSize = 50;
    dataSize = 50;
    EXPECT_EQ(q.EnumValue(key, 0, shortName, nameSize, reserved, type, shortData, dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(shortName.size(), 2u);
    EXPECT_EQ(shortData.size(), 2u);
    EXPECT_EQ(std::vector<DWORD>({nameSize, dataSize}), std::vector<DWORD>({50, 5}));
    EXPECT_EQ(q.CloseKey(key), ERROR_SUCCESS);

    // OpenKeyEx passes the access on, and 0 for the options.
    ASSERT_EQ(q.OpenKeyEx(HKEY_CURRENT_USER, k, 99, KEY_ALL_ACCESS, key), 0);
    // RegSetValue2 writes text whatever type and size it is told; the zero is stored.
    value = "abc";
    EXPECT_EQ(q.RegSetValue2(key, "v", REG_DWORD, value, 99), ERROR_SUCCESS);
    EXPECT_EQ(raw(HKEY_CURRENT_USER, k, "v"), std::make_pair(REG_SZ, std::string("abc", 4)));
    q.CloseKey(key);
    EXPECT_EQ(q.DeleteKeyWin95(HKEY_CURRENT_USER, k), ERROR_ACCESS_DENIED);
}

// --- Writing and deleting ------------------------------------------------------------------

TEST_F(QueryRegTest, SetRegWritesByTypeAndRefusesWhatDoesNotConvert) {
    put(HKEY_CURRENT_USER, scratch("K"), "keep", REG_SZ, std::string("old", 4));
    struct Case {
        const char* name;
        Value value;
        DWORD type;
        LONG rc;
        const char* stored; // type:bytes
    };
    const Case cases[] = {
        {"text", "abc", REG_SZ, 0, "1:61626300"},
        {"number as text", 42, REG_SZ, 0, "1:343200"},
        {"bytes", bytes("01020300"), REG_BINARY, 0, "3:010203"},
        {"number", -2, REG_DWORD, 0, "4:feffffff"},
        {"text as number", " 12 ", REG_DWORD, 0, "4:0c000000"},
        {"signed text", "+7", REG_DWORD, 0, "4:07000000"},
        {"no type", "abc", REG_NONE, 0, "0:"},
        {"keep", Value(), REG_SZ, 87, "1:6f6c6400"},
        {"keep", "x", REG_DWORD, 87, "1:6f6c6400"},
        {"keep", "2147483648", REG_DWORD, 87, "1:6f6c6400"},
        {"keep", "x", REG_BINARY, 87, "1:6f6c6400"},
        {"keep", "日本", REG_SZ, 87, "1:6f6c6400"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(q.SetReg("HKCU\\" + scratch("K"), c.name, c.value, 0, c.type), c.rc) << c.name;
        const auto [type, data] = raw(HKEY_CURRENT_USER, scratch("K"), c.name);
        EXPECT_EQ(std::to_string(type) + ':' + toHex(data), c.stored) << c.name;
    }
}

TEST_F(QueryRegTest, SetRegCreatesMissingKeysOnlyWhenAsked) {
    const std::string path = scratch("A\\B\\C");
    EXPECT_EQ(q.SetReg(path, "v", 1, HKEY_CURRENT_USER, REG_DWORD), 2);
    EXPECT_FALSE(exists(HKEY_CURRENT_USER, scratch("A")));
    EXPECT_EQ(q.SetReg(path, "v", 1, HKEY_CURRENT_USER, REG_DWORD, true), 0);
    EXPECT_EQ(q.GetRegDWord(path, "v", HKEY_CURRENT_USER), Value(1));
    // Without a type the key is still made, and nothing is written.
    EXPECT_EQ(q.SetReg("HKLM\\" + scratch("X\\Y"), "v", 1, 0, 0, true), 0);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, scratch("X\\Y")));
    EXPECT_EQ(raw(HKEY_LOCAL_MACHINE, scratch("X\\Y"), "v").first, REG_NONE);
}

TEST_F(QueryRegTest, DeleteKeyRemovesATreeOrOneValue) {
    for (const char* path : {"T\\A\\1\\x", "T\\A\\2", "T\\B", "T\\c"})
        putText(HKEY_CLASSES_ROOT, scratch(path), "v", "x");
    putText(HKEY_CLASSES_ROOT, scratch("Keep"), "a", "1");
    putText(HKEY_CLASSES_ROOT, scratch("Keep"), "b", "2");

    EXPECT_EQ(q.DeleteKey(scratch("Keep"), "A"), ERROR_SUCCESS);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, scratch("Keep"), "a"), "<none>");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, scratch("Keep"), "b"), "2");
    EXPECT_EQ(q.DeleteKey(scratch("Keep"), "a"), ERROR_FILE_NOT_FOUND);

    EXPECT_EQ(q.DeleteKey(scratch("T"), {}, HKEY_CURRENT_CONFIG), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, scratch("T")));
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, scratch("Keep")));
    EXPECT_EQ(q.DeleteKey(scratch("T")), ERROR_FILE_NOT_FOUND);
}

TEST_F(QueryRegTest, DeleteKeyRefusesPathsThatWouldReachOtherKeys) {
    putText(HKEY_CURRENT_USER, scratch("Foo"), "v", "x");
    putText(HKEY_CURRENT_USER, scratch("Foo\\Bar"), "v", "x");
    const std::string foo = "HKCU\\" + scratch("Foo");
    // A bare root, a zero inside the path, a character the code page lacks.
    EXPECT_EQ(q.DeleteKey("HKEY_CURRENT_USER"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(q.DeleteKey("HKCU\\"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(q.DeleteKey(foo + std::string(1, '\0') + "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(q.DeleteKey(foo + "\\Bär✓"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(q.DeleteKey(foo, std::string("v\0", 2)), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, scratch("Foo\\Bar")));
    EXPECT_EQ(text(HKEY_CURRENT_USER, scratch("Foo"), "v"), "x");
}

// --- Listing -------------------------------------------------------------------------------

TEST_F(QueryRegTest, EnumKeysListsSubkeysFromIndexOne) {
    for (const char* path : {"K\\beta", "K\\Alpha\\deep", "Empty\\"})
        putText(HKEY_CLASSES_ROOT, scratch(path), "", "");
    Strings list{"stale"};
    EXPECT_TRUE(q.EnumKeys(list, scratch("K")));
    EXPECT_EQ(list, Strings({"", "Alpha", "beta"}));
    EXPECT_TRUE(q.EnumKeys(list, "HKEY_CLASSES_ROOT\\" + scratch("Empty")));
    EXPECT_EQ(list, Strings{""});
    EXPECT_FALSE(q.EnumKeys(list, scratch("Missing")));
    EXPECT_EQ(list, Strings{""});
}

TEST_F(QueryRegTest, EnumValuesListsNamesAndDataAsText) {
    const std::string k = scratch("K");
    putText(HKEY_CURRENT_USER, k, "", "unnamed");
    putText(HKEY_CURRENT_USER, k, "A", "x");
    put(HKEY_CURRENT_USER, k, "B", REG_DWORD, hex("05000000"));
    put(HKEY_CURRENT_USER, k, "C", REG_BINARY, hex("00ff"));
    put(HKEY_CURRENT_USER, k, "D", REG_DWORD, hex("0100000002000000"));
    Strings list;
    EXPECT_TRUE(q.EnumValues(list, "HKCU\\" + k));
    EXPECT_EQ(list, Strings({"", "", "unnamed", "A", "x", "B", "5", "C", "00 FF ", "D", "1"}));

    // A byte value is left out when no value of the key holds any data.
    put(HKEY_CURRENT_USER, scratch("Bare"), "b", REG_BINARY, {});
    put(HKEY_CURRENT_USER, scratch("Bare"), "s", REG_SZ, {});
    EXPECT_TRUE(q.EnumValues(list, "HKCU\\" + scratch("Bare")));
    EXPECT_EQ(list, Strings({"", "s", ""}));
    EXPECT_FALSE(q.EnumValues(list, "HKCU\\" + scratch("Missing")));
    EXPECT_EQ(list, Strings{""});
}

// --- Special folders -----------------------------------------------------------------------

namespace {

// The two source keys hold only the values below for the length of a test; on a real
// registry what they held is put back afterwards.
class FoldersTest : public QueryRegTest {
protected:
    void SetUp() override {
#ifdef _WIN32
        const char* throwaway = std::getenv("MELOFON_THROWAWAY_REGISTRY");
        if (!throwaway || std::string(throwaway) != "1")
            GTEST_SKIP() << "rewrites system keys: runs only in a throwaway registry";
#endif
        QueryRegTest::SetUp();
        saved_ = {take(HKEY_USERS, kShellFolders), take(HKEY_LOCAL_MACHINE, kCurrentVersion)};
        putText(HKEY_USERS, kShellFolders, "Desktop", "C:\\Users\\Default\\Desktop");
        putText(HKEY_USERS, kShellFolders, "Personal", "C:\\Users\\Default\\Documents");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", "C:\\Program Files");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProductName", "Windows");
        putText(HKEY_LOCAL_MACHINE, kCurrentVersion, "DESKTOP", "D:\\Other");
        windowsDir = directory(&RegistryApi::GetWindowsDirectoryA);
        systemDir = directory(&RegistryApi::GetSystemDirectoryA);
    }
    void TearDown() override {
        if (saved_.empty())
            return;
        take(HKEY_USERS, kShellFolders);
        take(HKEY_LOCAL_MACHINE, kCurrentVersion);
        for (auto& [root, path, values] : saved_) {
            for (auto& [name, type, data] : values)
                put(root, path, name.c_str(), type, data);
        }
        QueryRegTest::TearDown();
    }

    std::string windowsDir, systemDir;

private:
    using Values = std::vector<std::tuple<std::string, DWORD, std::string>>;
    // Removes and returns every value of a key.
    std::tuple<HKEY, std::string, Values> take(HKEY root, const std::string& path) {
        Values values;
        HKEY key = 0;
        if (reg.RegCreateKeyA(root, path.c_str(), &key) != ERROR_SUCCESS)
            return {root, path, values};
        std::vector<char> name(16384);
        std::string data(1 << 16, '\0');
        for (;;) {
            DWORD nameSize = DWORD(name.size()), dataSize = DWORD(data.size()), type = 0;
            if (reg.RegEnumValueA(key, 0, name.data(), &nameSize, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &dataSize) != 0)
                break;
            values.emplace_back(std::string(name.data(), nameSize), type, data.substr(0, dataSize));
            if (reg.RegDeleteValueA(key, name.data()) != 0)
                break;
        }
        reg.RegCloseKey(key);
        return {root, path, values};
    }

    std::vector<std::tuple<HKEY, std::string, Values>> saved_;
};

Strings items(const Collection& c) {
    Strings out;
    for (int i = 1; i <= c.count(); ++i)
        out.push_back(*c.item(i));
    return out;
}

} // namespace

TEST_F(FoldersTest, ShellFoldersListsNamesAndWhereEachIsFound) {
    const std::string users = std::string("HKEY_USERS\\") + kShellFolders;
    const std::string machine = std::string("HKEY_LOCAL_MACHINE\\") + kCurrentVersion;
    // The second DESKTOP is a duplicate and keeps the first; ProductName holds no ":\".
    EXPECT_EQ(items(q.ShellFolders(true)),
              Strings({"Desktop", "Personal", "ProgramFilesDir", "WindowsDir", "SystemDir"}));
    EXPECT_EQ(items(q.ShellFolders()), Strings({users, users, machine, windowsDir, systemDir}));
    EXPECT_EQ(q.ShellFolders().item("programfilesdir"), machine);
}

TEST_F(FoldersTest, GetFolderByNameOrPosition) {
    EXPECT_EQ(q.GetFolder("Desktop"), "C:\\Users\\Default\\Desktop");
    EXPECT_EQ(q.GetFolder("dESKTOP"), "C:\\Users\\Default\\Desktop");
    EXPECT_EQ(q.GetFolder(1), "C:\\Users\\Default\\Desktop");
    EXPECT_EQ(q.GetFolder(3), "C:\\Program Files");
    EXPECT_EQ(q.GetFolder(5), systemDir);
    for (int position : {0, 6, -1})
        EXPECT_EQ(q.GetFolder(position), "") << position;
    EXPECT_EQ(q.GetFolder("ProductName"), "");
    const int reads = reg.valueReads;
    EXPECT_EQ(q.GetFolder("WindowsDir"), windowsDir);
    EXPECT_EQ(reg.valueReads, reads);
}

TEST_F(FoldersTest, AValueNamedLikeADirectoryStillReadsFromTheRegistry) {
    putText(HKEY_USERS, kShellFolders, "WindowsDir", "E:\\Mine");
    EXPECT_EQ(q.ShellFolders(true).count(), 5);
    EXPECT_EQ(q.GetFolder("WindowsDir"), "E:\\Mine");
    EXPECT_EQ(q.GetFolder("SystemDir"), systemDir);
}

TEST_F(FoldersTest, AKeyDeletedDuringTheWalkEndsIt) {
    reg.deleteWhileEnumerating = true;
    reg.enumerations = 0; // saving the keys' old values enumerated them too
    EXPECT_EQ(items(q.ShellFolders(true)),
              Strings({"Desktop", "ProgramFilesDir", "WindowsDir", "SystemDir"}));
    EXPECT_LT(reg.enumerations, 20);
}

TEST(CollectionTest, KeysMatchInAnyCaseOfTheCodePage) {
    Collection c;
    EXPECT_TRUE(c.add("first", "Ñandú Œuvre"));
    EXPECT_FALSE(c.add("second", "ñANDÚ œUVRE"));
    EXPECT_TRUE(c.add("third", "Nandu"));
    EXPECT_EQ(c.count(), 2);
    EXPECT_EQ(c.item("ñandú œuvre"), "first");
    EXPECT_EQ(c.position("NANDU"), 2);
    EXPECT_EQ(c.item(3), std::nullopt);
    EXPECT_EQ(c.item("missing"), std::nullopt);
}

// --- File associations ---------------------------------------------------------------------

TEST_F(QueryRegTest, AsociarExtWritesExtensionProgIdVerbAndCommand) {
    q.AsociarExt(" mlf3 ", "player", "&Reproducir", true);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, ".mlf3"), "progID.mlf3");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3"), "Descripci\xF3n de progID.mlf3");
    const char* shell = "Software\\Classes\\progID.mlf3\\shell";
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, shell), "Reproducir");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3\\shell\\Reproducir"), "&Reproducir");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3\\shell\\Reproducir\\command"),
              "player.exe \"%1\"");

    // An existing ProgID gets the verb; the ones given are ignored. "open" has no caption.
    q.AsociarExt(".mlf3", "C:\\Program Files\\Other\\other.exe", "open", false, "MelofonOther",
                 "Desc");
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "MelofonOther"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3"), "Descripci\xF3n de progID.mlf3");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3\\shell\\open"), "<none>");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlf3\\shell\\open\\command"),
              "\"C:\\Program Files\\Other\\other.exe\" \"%1\"");
    EXPECT_EQ(text(HKEY_LOCAL_MACHINE, shell), "Reproducir");

    // Without a program no command is written; without a verb the command is "open".
    q.AsociarExt("mlfw", {}, "&Oir", false, "MelofonSnd");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "MelofonSnd\\shell\\Oir"), "&Oir");
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "MelofonSnd\\shell\\Oir\\command"));
    q.AsociarExt("mlfm", "p.exe", {}, true);
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlfm\\shell\\open\\command"), "p.exe \"%1\"");
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "progID.mlfm\\shell"), "open");
}

TEST_F(QueryRegTest, DesasociarExtKeepsAProgIdOtherExtensionsStillName) {
    q.AsociarExt("mlf3", "p", "open", false, "MelofonShared");
    q.AsociarExt("mlf2", "p", "open", false, "MELOFONSHARED");
    q.AsociarExt("mlfw", "p", "open");

    Strings before, after;
    q.EnumKeys(before, "HKEY_CLASSES_ROOT");
    q.DesasociarExt("mlfo"); // no ProgID: nothing changes
    q.EnumKeys(after, "HKEY_CLASSES_ROOT");
    EXPECT_EQ(after, before);
    q.DesasociarExt("mlf3");
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, ".mlf3"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, "MelofonShared\\shell\\open\\command"), "p.exe \"%1\"");
    q.DesasociarExt(".mlf2");
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "MelofonShared"));
    EXPECT_EQ(text(HKEY_CLASSES_ROOT, ".mlfw"), "progID.mlfw");
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\progID.mlfw\\shell\\open\\command"));
}
