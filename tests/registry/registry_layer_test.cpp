// The registry functions' documented behaviour, checked on whichever registry this is built
// for: the emulation here, the real one when cross-built for Windows. Cases where Wine
// departs from Windows are checked on the emulation alone, in emulated_registry_test.cpp.
#include "registry/registry_api.h"
#include "remove_tree.h"

#ifndef _WIN32
#include "registry/emulated_registry.h"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace melofon::registry;

namespace {

// Every test works below this key of the current user, emptied before and after.
constexpr const char* kScratch = "Software\\MelofonRegistryTest";

class RegistryLayer : public ::testing::Test {
protected:
    void SetUp() override {
        removeTree(reg, HKEY_CURRENT_USER, kScratch);
        ASSERT_EQ(reg.RegCreateKeyA(HKEY_CURRENT_USER, kScratch, &base), ERROR_SUCCESS);
    }
    void TearDown() override {
        reg.RegCloseKey(base);
        removeTree(reg, HKEY_CURRENT_USER, kScratch);
    }

    HKEY create(HKEY root, const char* path) {
        HKEY k = 0;
        EXPECT_EQ(reg.RegCreateKeyA(root, path, &k), ERROR_SUCCESS) << path;
        return k;
    }

    LONG setText(HKEY key, const char* name, const char* text) {
        return reg.RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                  DWORD(std::strlen(text) + 1));
    }

    std::vector<std::string> subkeyNames(HKEY key) {
        std::vector<std::string> names;
        char buffer[300];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof buffer;
            if (reg.RegEnumKeyExA(key, i, buffer, &size, nullptr, nullptr, nullptr, nullptr))
                return names;
            names.emplace_back(buffer, size);
        }
    }

#ifdef _WIN32
    RegistryApi& reg = systemRegistry();
#else
    EmulatedRegistry emulation; // a fresh, empty one for each test
    RegistryApi& reg = emulation;
#endif
    HKEY base = 0;
};

} // namespace

TEST_F(RegistryLayer, ResultCodes) {
    reg.RegCloseKey(create(base, "A\\B"));
    setText(base, "v", "abc");
    const HKEY empty = create(base, "Empty");
    HKEY missing = 77, h = 0;
    const HKEY gone = create(base, "Gone");
    const HKEY goneToo = create(base, "Gone");
    reg.RegDeleteKeyA(base, "gone");
    BYTE data[3];
    DWORD size = 3;
    char name[8];
    const std::string longValue(16384, 'v');
    // Last, and closed before any other call can open a key: handle values are reused.
    const HKEY closed = create(base, "A");
    reg.RegCloseKey(closed);

    struct Case {
        const char* what;
        LONG expected;
        LONG actual;
    };
    // Evaluated in this order.
    const Case cases[] = {
        {"open a missing key", 2, reg.RegOpenKeyExA(base, "Nope", 0, KEY_READ, &missing)},
        {"delete a key with subkeys", 5, reg.RegDeleteKeyA(base, "A")},
        {"close a closed handle", 6, reg.RegCloseKey(closed)},
        {"HKEY_PERFORMANCE_DATA", 6, reg.RegCreateKeyA(HKEY_PERFORMANCE_DATA, "A", &h)},
        {"RegSetValueA with bytes", 87, reg.RegSetValueA(base, "A", REG_BINARY, "x", 1)},
        {"data without a size", 87,
         reg.RegQueryValueExA(base, "v", nullptr, nullptr, data, nullptr)},
        {"a value name of 16,384", 87, setText(base, longValue.c_str(), "")},
        {"a value name of 16,383", 0, setText(base, longValue.c_str() + 1, "")},
        {"a buffer too small", 234, reg.RegQueryValueExA(base, "v", nullptr, nullptr, data, &size)},
        {"past the end", 259,
         reg.RegEnumValueA(empty, 0, name, &size, nullptr, nullptr, nullptr, nullptr)},
        {"a deleted key: write", 1018, setText(gone, "v", "x")},
        {"a deleted key: subkey", 1018, reg.RegCreateKeyA(gone, "Sub", &h)},
        {"a deleted key: other handle", 1018, reg.RegOpenKeyExA(goneToo, "", 0, KEY_READ, &h)},
        {"a deleted key: close", 0, reg.RegCloseKey(gone)},
        {"made again, a new key", 0, setText(create(base, "Gone"), "v", "x")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.actual, c.expected) << c.what;
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(size, 4u); // what the too-small buffer needed
    for (const HKEY k : {empty, goneToo})
        reg.RegCloseKey(k);
}

TEST_F(RegistryLayer, NamesMatchInAnyCaseAndKeepTheirOwn) {
    const HKEY key = create(base, "Caf\xE9\\Sub");
    for (const char* name : {"Ca", "b", "AB"})
        reg.RegCloseKey(create(key, name));
    EXPECT_EQ(subkeyNames(key), (std::vector<std::string>{"AB", "b", "Ca"}));

    HKEY same = 0;
    ASSERT_EQ(reg.RegOpenKeyExA(base, "CAF\xC9\\sub", 0, KEY_READ, &same), ERROR_SUCCESS);
    reg.RegCloseKey(same);
    EXPECT_EQ(subkeyNames(base), std::vector<std::string>{"Caf\xE9"});

    setText(key, "Zeta", "1");
    setText(key, "alpha", "2");
    setText(key, "ZETA", "3"); // overwrites, keeps "Zeta"
    char name[16];
    BYTE data[16];
    std::vector<std::string> listed;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name, dataSize = sizeof data;
        if (reg.RegEnumValueA(key, i, name, &nameSize, nullptr, nullptr, data, &dataSize))
            break;
        listed.push_back(std::string(name, nameSize) + "=" + reinterpret_cast<char*>(data));
    }
    std::sort(listed.begin(), listed.end()); // the order is not what is checked here
    EXPECT_EQ(listed, (std::vector<std::string>{"Zeta=3", "alpha=2"}));
    reg.RegCloseKey(key);
}

TEST_F(RegistryLayer, NameSizesCountCharactersAndTheZeroOnInputOnly) {
    const HKEY key = create(base, "K");
    reg.RegCloseKey(create(key, "abcd"));
    setText(key, "name", "data");

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
        size = 5;
        EXPECT_EQ(call(), ERROR_SUCCESS);
        EXPECT_EQ(size, 4u);
        EXPECT_STREQ(buffer, enumerate == 0 ? "abcd" : "name");
    }

    setText(key, "", "much longer data");
    DWORD subKeys = 0, maxSubKey = 0, values = 0, maxName = 0;
    ASSERT_EQ(reg.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, nullptr,
                                   &values, &maxName, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::vector<DWORD>({subKeys, maxSubKey, values, maxName}),
              std::vector<DWORD>({1, 4, 2, 4}));
    reg.RegCloseKey(key);
}

TEST_F(RegistryLayer, TextSizes) {
    // Without a data buffer: the size, the stored zero included.
    setText(base, "v", "abc");
    DWORD type = 0, size = 0;
    EXPECT_EQ(reg.RegQueryValueExA(base, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 4u);
    // A size that leaves the zero out still stores it when the next byte is zero.
    const char text[] = "xyz";
    ASSERT_EQ(reg.RegSetValueExA(base, "w", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), 3),
              ERROR_SUCCESS);
    char out[8] = "#######";
    size = sizeof out;
    EXPECT_EQ(reg.RegQueryValueExA(base, "w", nullptr, &type, reinterpret_cast<BYTE*>(out), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    EXPECT_STREQ(out, "xyz");
}

TEST_F(RegistryLayer, UnnamedValuesOfSubkeys) {
    // RegSetValueA makes the subkey, ignores the size it is given and stores the zero.
    ASSERT_EQ(reg.RegSetValueA(base, "New\\Deeper", REG_SZ, "hello", 1), ERROR_SUCCESS);
    char buffer[16] = "junk";
    LONG size = sizeof buffer;
    EXPECT_EQ(reg.RegQueryValueA(base, "new\\deeper", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 6);
    EXPECT_STREQ(buffer, "hello");
    // A subkey without an unnamed value reads as "".
    size = sizeof buffer;
    EXPECT_EQ(reg.RegQueryValueA(base, "New", buffer, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(reg.RegQueryValueA(base, "Missing", buffer, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryLayer, DirectoriesAnswerWithLengthOrNeededSize) {
    char full[300] = {};
    const UINT length = reg.GetWindowsDirectoryA(full, sizeof full);
    ASSERT_GT(length, 3u);
    EXPECT_EQ(std::strlen(full), length);
    char buffer[300] = "untouched";
    EXPECT_EQ(reg.GetWindowsDirectoryA(buffer, length), length + 1);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(reg.GetWindowsDirectoryA(buffer, length + 1), length);
    EXPECT_STREQ(buffer, full);
    const UINT systemLength = reg.GetSystemDirectoryA(buffer, sizeof buffer);
    EXPECT_EQ(std::strlen(buffer), systemLength);
    EXPECT_EQ(reg.GetSystemDirectoryA(buffer, systemLength), systemLength + 1);
}
