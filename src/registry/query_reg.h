#pragma once

// The registry utility and what it stands on.
//
//   cQueryReg         key paths with their root inside ("HKLM\Software", "HKEY_USERS\..."),
//                     typed reads, writes, tree deletion, listings, the special folders and
//                     file associations. Failures come back as results (a Win32 error code,
//                     an empty value, False), never as exceptions.
//       | the Win32 ANSI registry calls; text in code page 1252 (ansi_code_page.h)
//   RegistryApi       registry_api.h: fourteen platform functions with their Win32
//       |             signatures, 32-bit handles and the platform's error codes
//       |-- the real registry (windows_registry.cpp), built on Windows only
//       `-- EmulatedRegistry, an in-process registry that follows the functions'
//           documented behaviour; systemRegistry() everywhere else
//
// cQueryReg takes any RegistryApi, so tests can put a fresh or a scripted one under it.

#include "registry/registry_api.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <variant>

namespace melofon::registry {

// A read's result: nothing, a 32-bit number, a text, or bytes. Bytes carry one element
// more than the data, always 0: an array with indices 0 to n holds n data bytes. SetReg
// takes byte arrays in the same form.
using Value = std::variant<std::monostate, std::int32_t, QString, QByteArray>;

// Texts in the order they were added, each under a key compared without regard to case.
class Collection {
public:
    // False, and nothing added, when the key is already there.
    bool add(const QString& item, const QString& key);
    int count() const { return int(items_.size()); }
    // Positions count from 1.
    std::optional<QString> item(int position) const;
    std::optional<QString> item(const QString& key) const;
    std::optional<int> position(const QString& key) const;

private:
    QStringList items_;
    QHash<QString, int> positions_; // case-folded key -> position
};

class cQueryReg {
public:
    // On the registry of this process (systemRegistry()).
    cQueryReg();
    explicit cQueryReg(RegistryApi& api);

    // Reading. `sKey` may name its root; `hKey` is the root when it does not. An empty
    // `sValue` is the key's unnamed value.
    Value GetRegDWord(const QString& sKey, const QString& sValue = {}, HKEY hKey = 0,
                      bool bAsString = false);
    Value GetReg(const QString& sKey, const QString& sValue = {}, HKEY hKey = 0,
                 bool bAsString = false);
    Value GetRegBinary(const QString& sKey, const QString& sValue = {}, HKEY hKey = 0,
                       bool bAsString = false);
    QString GetRegString(const QString& sKey, const QString& sValue = {}, HKEY hKey = 0);
    // The unnamed value of the subkey `sValue` of a root; "" when missing, empty or too long.
    QString QueryRegBase(const QString& sValue, HKEY hKey = 0);

    // Thin wrappers: one registry call each, its result code passed through. Text buffers
    // go in and come back with their length unchanged; a size larger than its buffer is
    // taken as the buffer's size.
    LONG OpenKeyEx(HKEY hKey, const QString& lpSubKey, DWORD ulOptions, REGSAM samDesired,
                   HKEY& phkResult);
    LONG OpenKeyQuery(HKEY hKey, const QString& lpSubKey, DWORD ulOptions, REGSAM samDesired,
                      HKEY& phkResult);
    LONG EnumValueString(HKEY hKey, DWORD dwIndex, QString& lpValueName, DWORD& lpcbValueName,
                         DWORD& lpReserved, DWORD& lpType, QString& lpData, DWORD& lpcbData);
    LONG EnumValue(HKEY hKey, DWORD dwIndex, QString& lpValueName, DWORD& lpcbValueName,
                   DWORD& lpReserved, DWORD& lpType, QByteArray& lpData, DWORD& lpcbData);
    LONG CloseKey(HKEY hKey);
    LONG QueryInfoKey(HKEY hKey, DWORD& lpcbMaxValueNameLen);
    LONG EnumKeyEx(HKEY hKey, DWORD dwIndex, QString& lpName, DWORD& lpcbName);
    // Always writes `lpData` as text without its zero; `dwType` and `cbData` are ignored.
    LONG RegSetValue2(HKEY hKey, const QString& lpSubKey, DWORD dwType, QString& lpData,
                      DWORD cbData);

    // Special folders: the names (bSoloClaves) or where each is found, rebuilt on each call.
    Collection ShellFolders(bool bSoloClaves = false);
    // A folder's path by name (any case) or by position from 1; "" when there is none.
    QString GetFolder(const QString& name);
    QString GetFolder(int position);

    // File associations.
    void AsociarExt(const QString& sExt, const QString& sExe = {}, const QString& sCommand = {},
                    bool bDefault = false, const QString& sProgId = {},
                    const QString& sDescription = {});
    void DesasociarExt(const QString& sExt);

    // Writing and deleting.
    LONG DeleteKeyWin95(HKEY hKey, const QString& szKey);
    LONG SetReg(const QString& sKey, const QString& sName, const Value& vValue = {}, HKEY hKey = 0,
                DWORD RegDataType = 0, bool bCreateKey = false);
    // Without `sValue`, deletes the key and everything below it.
    LONG DeleteKey(const QString& sKey, const QString& sValue = {}, HKEY hKey = 0);

    // Listings from index 1; index 0 is always "". Values come as name, data-as-text pairs.
    bool EnumKeys(QStringList& sKeys, const QString& sKey);
    bool EnumValues(QStringList& sValues, const QString& sKey);

private:
    struct RawValue {
        DWORD type = REG_NONE;
        QByteArray data;
    };

    HKEY SplitRootKey(QString& sKey, HKEY hKey);
    LONG DeleteKeyTree(HKEY& hKey, QString& sKey);
    static QString TrimAtNull(const QString& s);

    RawValue readValue(const QString& sKey, const QString& sValue, HKEY hKey);
    bool progIdStillNamed(const QString& progId);
    QString directory(UINT (RegistryApi::*get)(LPSTR, UINT));
    void addFolder(const QString& name, const QString& location);

    RegistryApi& api_;
    Collection colClaves;
    Collection colUbicaciones;
    int registryFolders_ = 0; // the first entries come from the registry, the rest are directories
};

} // namespace melofon::registry
