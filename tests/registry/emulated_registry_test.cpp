// What the emulation does as Windows does, where Wine (the cross-check's registry) does
// not; everything else is in registry_layer_test.cpp, checked on both.
#include "registry/emulated_registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace melofon::registry;

TEST(EmulatedRegistry, RefusalsWineDoesNotMake) {
    EmulatedRegistry r;
    HKEY h = 77, enumOnly = 0;
    EXPECT_EQ(r.RegOpenKeyExA(HKEY_DYN_DATA, "", 0, KEY_READ, &h), ERROR_INVALID_HANDLE);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(r.RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(r.RegCreateKeyA(HKEY_CURRENT_USER, std::string(256, 'k').c_str(), &h),
              ERROR_INVALID_PARAMETER);
    // Counting subkeys needs the query right too.
    r.RegCreateKeyA(HKEY_CURRENT_USER, "K", &h);
    r.RegCloseKey(h);
    ASSERT_EQ(r.RegOpenKeyExA(HKEY_CURRENT_USER, "K", 0, KEY_ENUMERATE_SUB_KEYS, &enumOnly),
              ERROR_SUCCESS);
    DWORD count = 0;
    EXPECT_EQ(r.RegQueryInfoKeyA(enumOnly, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
}

// Subkeys sort by their upper-cased names, where '_' comes after 'B'; a name buffer one
// short gets nothing; the longest data counts the code page's bytes.
TEST(EmulatedRegistry, SortingAndSizesAsWindows) {
    EmulatedRegistry r;
    HKEY key = 0;
    ASSERT_EQ(r.RegCreateKeyA(HKEY_CURRENT_USER, "K", &key), ERROR_SUCCESS);
    for (const char* name : {"a_", "AB"}) {
        HKEY k = 0;
        r.RegCreateKeyA(key, name, &k);
        r.RegCloseKey(k);
    }
    char buffer[8] = "#######";
    DWORD size = 2;
    EXPECT_EQ(r.RegEnumKeyExA(key, 0, buffer, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_STREQ(buffer, "#######");
    size = 3;
    r.RegEnumKeyExA(key, 0, buffer, &size, nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(buffer, "AB");

    r.RegSetValueExA(key, "", 0, REG_SZ, reinterpret_cast<const BYTE*>("\xE9t\xE9"), 4);
    DWORD maxData = 0;
    r.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, &maxData, nullptr, nullptr);
    EXPECT_EQ(maxData, 4u);
}

TEST(EmulatedRegistry, ValuesEnumerateInCreationOrder) {
    EmulatedRegistry reg;
    HKEY key = 0;
    ASSERT_EQ(reg.RegCreateKeyA(HKEY_CURRENT_USER, "K", &key), ERROR_SUCCESS);
    for (const char* name : {"Zeta", "alpha", "ZETA"}) // the third overwrites in place
        reg.RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(name),
                           DWORD(std::strlen(name) + 1));
    std::vector<std::string> listed;
    char name[16];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (reg.RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr))
            break;
        listed.emplace_back(name, size);
    }
    EXPECT_EQ(listed, (std::vector<std::string>{"Zeta", "alpha"}));
}

TEST(EmulatedRegistry, Directories) {
    EmulatedRegistry reg;
    char buffer[32];
    reg.GetWindowsDirectoryA(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    reg.GetSystemDirectoryA(buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "C:\\WINDOWS\\system32");
}
