#pragma once

// The registry utility and what it stands on.
//
//   cQueryReg         key paths with their root inside ("HKLM\Software", "HKEY_USERS\..."),
//                     typed reads, writes, tree deletion, listings, the special folders and
//                     file associations. Texts are UTF-8. Failures come back as results (a
//                     Win32 error code, an empty value, False), never as exceptions.
//       | the Win32 ANSI registry calls; text in code page 1252 (ansi_code_page.h)
//   RegistryApi       registry_api.h: fourteen platform functions with their Win32
//       |             signatures, 32-bit handles and the platform's error codes
//       |-- the real registry (windows_registry.cpp), built on Windows only
//       `-- EmulatedRegistry, an in-process registry that follows the functions'
//           documented behaviour; systemRegistry() everywhere else
//
// cQueryReg takes any RegistryApi, so tests can put a fresh or a scripted one under it.

#include "registry/registry_api.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace melofon::registry {

using Bytes = std::vector<BYTE>;
// A read's result: nothing, a 32-bit number, a text, or bytes. Bytes carry one element
// more than the data, always 0: an array with indices 0 to n holds n data bytes. SetReg
// takes byte arrays in the same form.
using Value = std::variant<std::monostate, std::int32_t, std::string, Bytes>;

// Texts in the order they were added, each under a key compared without regard to case.
class Collection {
public:
    // False, and nothing added, when the key is already there.
    bool add(const std::string& item, const std::string& key);
    int count() const { return int(items_.size()); }
    // Positions count from 1.
    std::optional<std::string> item(int position) const;
    std::optional<std::string> item(const std::string& key) const;
    std::optional<int> position(const std::string& key) const;

private:
    std::vector<std::string> items_;
    std::unordered_map<std::u16string, int> positions_; // upper-cased key -> position
};

class cQueryReg {
public:
    // On the registry of this process (systemRegistry()).
    cQueryReg();
    explicit cQueryReg(RegistryApi& api);

    // Reading. `sKey` may name its root; `hKey` is the root when it does not. An empty
    // `sValue` is the key's unnamed value.
    Value GetRegDWord(const std::string& sKey, const std::string& sValue = {}, HKEY hKey = 0,
                      bool bAsString = false);
    Value GetReg(const std::string& sKey, const std::string& sValue = {}, HKEY hKey = 0,
                 bool bAsString = false);
    Value GetRegBinary(const std::string& sKey, const std::string& sValue = {}, HKEY hKey = 0,
                       bool bAsString = false);
    std::string GetRegString(const std::string& sKey, const std::string& sValue = {},
                             HKEY hKey = 0);
    // The unnamed value of the subkey `sValue` of a root; "" when missing, empty or too long.
    std::string QueryRegBase(const std::string& sValue, HKEY hKey = 0);

    // Thin wrappers: one registry call each, its result code passed through. Text buffers
    // go in and come back with their length in characters unchanged; a size larger than
    // its buffer is taken as the buffer's size.
    LONG OpenKeyEx(HKEY hKey, const std::string& lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY& phkResult);
    LONG OpenKeyQuery(HKEY hKey, const std::string& lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      HKEY& phkResult);
    LONG EnumValueString(HKEY hKey, DWORD dwIndex, std::string& lpValueName, DWORD& lpcbValueName,
                         DWORD& lpReserved, DWORD& lpType, std::string& lpData, DWORD& lpcbData);
    LONG EnumValue(HKEY hKey, DWORD dwIndex, std::string& lpValueName, DWORD& lpcbValueName,
                   DWORD& lpReserved, DWORD& lpType, Bytes& lpData, DWORD& lpcbData);
    LONG CloseKey(HKEY hKey);
    LONG QueryInfoKey(HKEY hKey, DWORD& lpcbMaxValueNameLen);
    LONG EnumKeyEx(HKEY hKey, DWORD dwIndex, std::string& lpName, DWORD& lpcbName);
    // Always writes `lpData` as text without its zero; `dwType` and `cbData` are ignored.
    LONG RegSetValue2(HKEY hKey, const std::string& lpSubKey, DWORD dwType, std::string& lpData,
                      DWORD cbData);

    // Special folders: the names (bSoloClaves) or where each is found, rebuilt on each call.
    Collection ShellFolders(bool bSoloClaves = false);
    // A folder's path by name (any case) or by position from 1; "" when there is none.
    std::string GetFolder(const std::string& name);
    std::string GetFolder(int position);

    // File associations.
    void AsociarExt(const std::string& sExt, const std::string& sExe = {},
                    const std::string& sCommand = {}, bool bDefault = false,
                    const std::string& sProgId = {}, const std::string& sDescription = {});
    void DesasociarExt(const std::string& sExt);

    // Writing and deleting.
    LONG DeleteKeyWin95(HKEY hKey, const std::string& szKey);
    LONG SetReg(const std::string& sKey, const std::string& sName, const Value& vValue = {},
                HKEY hKey = 0, DWORD RegDataType = 0, bool bCreateKey = false);
    // Without `sValue`, deletes the key and everything below it.
    LONG DeleteKey(const std::string& sKey, const std::string& sValue = {}, HKEY hKey = 0);

    // Listings from index 1; index 0 is always "". Values come as name, data-as-text pairs.
    bool EnumKeys(std::vector<std::string>& sKeys, const std::string& sKey);
    bool EnumValues(std::vector<std::string>& sValues, const std::string& sKey);

private:
    struct RawValue {
        DWORD type = REG_NONE;
        std::string data;
    };

    HKEY SplitRootKey(std::string& sKey, HKEY hKey);
    LONG DeleteKeyTree(HKEY& hKey, std::string& sKey);
    static std::string TrimAtNull(const std::string& s);

    RawValue readValue(const std::string& sKey, const std::string& sValue, HKEY hKey);
    bool progIdStillNamed(const std::string& progId);
    std::string directory(UINT (RegistryApi::*get)(LPSTR, UINT));
    void addFolder(const std::string& name, const std::string& location);

    RegistryApi& api_;
    Collection colClaves;
    Collection colUbicaciones;
    int registryFolders_ = 0; // the first entries come from the registry, the rest are directories
};

} // namespace melofon::registry
