#pragma once

#include "registry/registry_api.h"

#include <string>

namespace melofon::registry {

// Deletes a key and everything below it, quietly: the tests' way to start and end clean.
inline void removeTree(RegistryApi& reg, HKEY parent, const std::string& path) {
    HKEY key = 0;
    if (reg.RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    char name[300];
    DWORD size = sizeof name;
    while (reg.RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS) {
        removeTree(reg, key, std::string(name, size));
        size = sizeof name;
    }
    reg.RegCloseKey(key);
    reg.RegDeleteKeyA(parent, path.c_str());
}

} // namespace melofon::registry
