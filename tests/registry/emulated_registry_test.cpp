#include "registry/emulated_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace melofon::registry;

namespace {

HKEY create(EmulatedRegistry& reg, HKEY root, const char* path) {
    HKEY k = 0;
    EXPECT_EQ(reg.RegCreateKeyA(root, path, &k), ERROR_SUCCESS) << path;
    return k;
}

LONG setText(EmulatedRegistry& reg, HKEY key, const char* name, const char* text) {
    return reg.RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              DWORD(std::strlen(text) + 1));
}

std::vector<std::string> subkeyNames(EmulatedRegistry& reg, HKEY key) {
    std::vector<std::string> names;
    char buffer[300];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof buffer;
        if (reg.RegEnumKeyExA(key, i, buffer, &size, nullptr, nullptr, nullptr, nullptr))
            return names;
        names.emplace_back(buffer, size);
    }
}

} // namespace

TEST(EmulatedRegistry, ResultCodes) {
    EmulatedRegistry r;
    r.RegCloseKey(create(r, HKEY_CURRENT_USER, "A\\B"));
    setText(r, HKEY_CURRENT_USER, "v", "abc");
    const HKEY closed = create(r, HKEY_CURRENT_USER, "A");
    r.RegCloseKey(closed);
    HKEY enumOnly = 0, missing = 77, h = 0;
    r.RegOpenKeyExA(HKEY_CURRENT_USER, "A", 0, KEY_ENUMERATE_SUB_KEYS, &enumOnly);
    const HKEY gone = create(r, HKEY_CURRENT_USER, "Gone");
    const HKEY goneToo = create(r, HKEY_CURRENT_USER, "Gone");
    r.RegDeleteKeyA(HKEY_CURRENT_USER, "gone");
    BYTE data[3];
    DWORD size = 3, count = 0;
    char name[8];
    const std::string longKey(256, 'k'), longValue(16384, 'v');

    struct Case {
        const char* what;
        LONG expected;
        LONG actual;
    };
    // Evaluated in this order.
    const Case cases[] = {
        {"open a missing key", 2,
         r.RegOpenKeyExA(HKEY_CURRENT_USER, "Nope", 0, KEY_READ, &missing)},
        {"delete a key with subkeys", 5, r.RegDeleteKeyA(HKEY_CURRENT_USER, "A")},
        {"delete the classes root's key", 5,
         r.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes")},
        {"close a closed handle", 6, r.RegCloseKey(closed)},
        {"HKEY_DYN_DATA", 6, r.RegOpenKeyExA(HKEY_DYN_DATA, "", 0, KEY_READ, &h)},
        {"HKEY_PERFORMANCE_DATA", 6, r.RegCreateKeyA(HKEY_PERFORMANCE_DATA, "A", &h)},
        {"RegSetValueA with bytes", 87, r.RegSetValueA(HKEY_CURRENT_USER, "A", REG_BINARY, "x", 1)},
        {"data without a size", 87,
         r.RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, data, nullptr)},
        {"a key name of 256", 87, r.RegCreateKeyA(HKEY_CURRENT_USER, longKey.c_str(), &h)},
        {"a value name of 16,384", 87, setText(r, HKEY_CURRENT_USER, longValue.c_str(), "")},
        {"a value name of 16,383", 0, setText(r, HKEY_CURRENT_USER, longValue.c_str() + 1, "")},
        {"a buffer too small", 234,
         r.RegQueryValueExA(HKEY_CURRENT_USER, "v", nullptr, nullptr, data, &size)},
        {"past the end", 259,
         r.RegEnumValueA(HKEY_USERS, 0, name, &size, nullptr, nullptr, nullptr, nullptr)},
        {"counting without the query right", 5,
         r.RegQueryInfoKeyA(enumOnly, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr)},
        {"a deleted key: write", 1018, setText(r, gone, "v", "x")},
        {"a deleted key: subkey", 1018, r.RegCreateKeyA(gone, "Sub", &h)},
        {"a deleted key: other handle", 1018, r.RegOpenKeyExA(goneToo, "", 0, KEY_READ, &h)},
        {"a deleted key: close", 0, r.RegCloseKey(gone)},
        {"made again, a new key", 0, setText(r, create(r, HKEY_CURRENT_USER, "Gone"), "v", "x")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.what;
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(size, 4u); // what the too-small buffer needed
}

TEST(EmulatedRegistry, NamesMatchInAnyCaseAndKeepTheirOwn) {
    EmulatedRegistry reg;
    const HKEY key = create(reg, HKEY_CURRENT_USER, "Caf\xE9\\Sub");
    for (const char* name : {"a_", "AB", "b"})
        reg.RegCloseKey(create(reg, key, name));
    // Sorted by the upper-cased name: '_' comes after 'B'.
    EXPECT_EQ(subkeyNames(reg, key), (std::vector<std::string>{"AB", "a_", "b"}));

    HKEY same = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(HKEY_CURRENT_USER, "CAF\xC9\\sub", 0, KEY_READ, &same),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeyNames(reg, HKEY_CURRENT_USER), std::vector<std::string>{"Caf\xE9"});

    setText(reg, key, "Zeta", "1");
    setText(reg, key, "alpha", "2");
    setText(reg, key, "ZETA", "3"); // overwrites in place, keeps "Zeta"
    char name[16];
    BYTE data[16];
    std::vector<std::string> listed;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, dataSize = sizeof data;
        if (reg.RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize))
            break;
        listed.push_back(std::string(name, nameSize) + "=" + reinterpret_cast<char*>(data));
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"Zeta=3", "alpha=2"}));
}

TEST(EmulatedRegistry, NameSizesCountCharactersAndTheZeroOnInputOnly) {
    EmulatedRegistry reg;
    const HKEY key = create(reg, HKEY_CURRENT_USER, "K");
    reg.RegCloseKey(create(reg, key, "abcd"));
    setText(reg, key, "name", "data");

    for (auto enumerate : {0, 1}) {
        char buffer[8] = "#######";
        DWORD size = 4; // holds the name but not its zero
        const auto call = [&] {
            return enumerate == 0 ? reg.RegEnumKeyExA(key, 0, buffer, &size, nullptr, nullptr,
                                                      nullptr, nullptr)
                                  : reg.RegEnumValueA(key, 0, buffer, &size, nullptr, nullptr,
                                                      nullptr, nullptr);
        };
        EXPECT_EQ(call(), ERROR_MORE_DATA);
        EXPECT_STREQ(buffer, "#######");
        size = 5;
        EXPECT_EQ(call(), ERROR_SUCCESS);
        EXPECT_EQ(size, 4u);
        EXPECT_STREQ(buffer, enumerate == 0 ? "abcd" : "name");
    }

    setText(reg, key, "", "much longer data");
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(reg.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                   &values, &maxName, &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::vector<DWORD>({subKeys, maxSubKey, values, maxName, maxData}),
              std::vector<DWORD>({1, 4, 2, 4, 17}));
}

TEST(EmulatedRegistry, UnnamedValuesOfSubkeys) {
    EmulatedRegistry reg;
    const HKEY key = create(reg, HKEY_CURRENT_USER, "K");
    // RegSetValueA makes the subkey, ignores the size it is given and stores the zero.
    ASSERT_EQ(reg.RegSetValueA(key, "New\\Deeper", REG_SZ, "hello", 1), ERROR_SUCCESS);
    char buffer[16] = "junk";
    LONG size = sizeof buffer;
    EXPECT_EQ(reg.RegQueryValueA(key, "new\\deeper", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6);
    EXPECT_STREQ(buffer, "hello");
    // A subkey without an unnamed value reads as "".
    size = sizeof buffer;
    EXPECT_EQ(reg.RegQueryValueA(key, "New", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(reg.RegQueryValueA(key, "Missing", buffer, &size), ERROR_FILE_NOT_FOUND);
}

TEST(EmulatedRegistry, DirectoriesAnswerWithLengthOrNeededSize) {
    EmulatedRegistry reg;
    char buffer[32] = "untouched";
    EXPECT_EQ(reg.GetWindowsDirectoryA(buffer, 10), 11u);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(reg.GetWindowsDirectoryA(buffer, 11), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_EQ(reg.GetSystemDirectoryA(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
}
