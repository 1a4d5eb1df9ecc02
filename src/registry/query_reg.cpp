#include "registry/query_reg.h"

#include "registry/ansi_code_page.h"
#include "registry/query_reg_values.h"

#include <algorithm>
#include <array>

namespace melofon::registry {

using namespace detail;

namespace {

struct Root {
    std::string_view longName;
    std::string_view shortPrefix;
    HKEY handle;
};

constexpr std::array<Root, 6> kRoots = {{
    {"HKEY_CLASSES_ROOT", "HKCR\\", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU\\", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM\\", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU\\", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", "HKCC\\", HKEY_CURRENT_CONFIG},
    {"HKEY_DYN_DATA", "HKDD\\", HKEY_DYN_DATA},
}};

} // namespace

// --- Collection --------------------------------------------------------------------------

bool Collection::add(const std::string& item, const std::string& key) {
    if (!positions_.try_emplace(upperUtf8(key), int(items_.size()) + 1).second)
        return false;
    items_.push_back(item);
    return true;
}

std::optional<std::string> Collection::item(int position) const {
    if (position < 1 || position > count())
        return std::nullopt;
    return items_[std::size_t(position) - 1];
}

std::optional<std::string> Collection::item(const std::string& key) const {
    const std::optional<int> p = position(key);
    return p ? item(*p) : std::nullopt;
}

std::optional<int> Collection::position(const std::string& key) const {
    const auto it = positions_.find(upperUtf8(key));
    return it == positions_.end() ? std::nullopt : std::optional<int>(it->second);
}

// --- cQueryReg: paths and reading -----------------------------------------------------------

cQueryReg::cQueryReg() : api_(systemRegistry()) {}
cQueryReg::cQueryReg(RegistryApi& api) : api_(api) {}

HKEY cQueryReg::SplitRootKey(std::string& sKey, HKEY hKey) {
    std::optional<std::string> rootName;
    if (contains(sKey, "HKEY_")) {
        const std::size_t slash = sKey.find('\\');
        rootName = sKey.substr(0, slash);
        sKey = slash == std::string::npos ? std::string() : sKey.substr(slash + 1);
    } else {
        for (const Root& r : kRoots) {
            if (sKey.starts_with(r.shortPrefix)) {
                rootName = r.longName;
                sKey.erase(0, r.shortPrefix.size());
                break;
            }
        }
    }
    for (const Root& r : kRoots) {
        if (rootName ? *rootName == r.longName : hKey == r.handle)
            return r.handle;
    }
    return HKEY_CLASSES_ROOT;
}

cQueryReg::RawValue cQueryReg::readValue(const std::string& sKey, const std::string& sValue,
                                         HKEY hKey) {
    std::string path = sKey;
    const HKEY root = SplitRootKey(path, hKey);
    const auto p = ansiName(path);
    const auto name = ansiName(sValue);
    HKEY key = 0;
    if (!p || !name || api_.RegOpenKeyExA(root, p->c_str(), 0, KEY_QUERY_VALUE, &key))
        return {};
    RawValue v;
    DWORD size = 0;
    api_.RegQueryValueExA(key, name->c_str(), nullptr, &v.type, nullptr, &size);
    if ((v.type == REG_SZ || v.type == REG_BINARY || v.type == REG_DWORD) && size > 0) {
        v.data.assign(size, '\0');
        DWORD type = 0;
        if (api_.RegQueryValueExA(key, name->c_str(), nullptr, &type, asBytes(v.data), &size))
            v.data.clear();
        else
            v.data.resize(std::min<std::size_t>(size, v.data.size()));
    }
    api_.RegCloseKey(key);
    return v;
}

Value cQueryReg::GetRegDWord(const std::string& sKey, const std::string& sValue, HKEY hKey,
                             bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    const std::int32_t n = v.type == REG_DWORD ? numberOf(v.data) : 0;
    return bAsString ? Value(dwordText(n)) : Value(n);
}

Value cQueryReg::GetReg(const std::string& sKey, const std::string& sValue, HKEY hKey,
                        bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    switch (v.type) {
    case REG_SZ:
        return textOf(v.data);
    case REG_DWORD:
        return bAsString ? Value(dwordText(numberOf(v.data))) : Value(numberOf(v.data));
    case REG_BINARY:
        return bAsString ? Value(hexText(v.data, true)) : Value(withTrailingZero(v.data));
    default:
        return {};
    }
}

Value cQueryReg::GetRegBinary(const std::string& sKey, const std::string& sValue, HKEY hKey,
                              bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    const std::string_view data = v.type == REG_BINARY ? std::string_view(v.data) : "";
    return bAsString ? Value(hexText(data, false)) : Value(withTrailingZero(data));
}

std::string cQueryReg::GetRegString(const std::string& sKey, const std::string& sValue, HKEY hKey) {
    const RawValue v = readValue(sKey, sValue, hKey);
    return v.type == REG_SZ ? textOf(v.data) : std::string();
}

std::string cQueryReg::QueryRegBase(const std::string& sValue, HKEY hKey) {
    const HKEY root = hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_USERS ? hKey : HKEY_CLASSES_ROOT;
    const auto subKey = ansiName(sValue);
    if (!subKey)
        return {};
    std::string buffer(300, '\0');
    LONG size = LONG(buffer.size());
    if (api_.RegQueryValueA(root, subKey->c_str(), buffer.data(), &size) != ERROR_SUCCESS ||
        size <= 0)
        return {};
    return textOf(std::string_view(buffer).substr(0, std::size_t(size)));
}

std::string cQueryReg::TrimAtNull(const std::string& s) {
    return s.substr(0, s.find('\0'));
}

// --- Thin wrappers --------------------------------------------------------------------------

LONG cQueryReg::OpenKeyEx(HKEY hKey, const std::string& lpSubKey, DWORD, REGSAM samDesired,
                          HKEY& phkResult) {
    const auto subKey = ansiName(lpSubKey);
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    return api_.RegOpenKeyExA(hKey, subKey->c_str(), 0, samDesired, &phkResult);
}

LONG cQueryReg::OpenKeyQuery(HKEY hKey, const std::string& lpSubKey, DWORD ulOptions, REGSAM,
                             HKEY& phkResult) {
    return OpenKeyEx(hKey, lpSubKey, ulOptions, KEY_QUERY_VALUE, phkResult);
}

LONG cQueryReg::EnumValueString(HKEY hKey, DWORD dwIndex, std::string& lpValueName,
                                DWORD& lpcbValueName, DWORD& lpReserved, DWORD& lpType,
                                std::string& lpData, DWORD& lpcbData) {
    const std::string in = toAnsiLossy(lpData);
    Bytes data(in.begin(), in.end());
    const LONG rc =
        EnumValue(hKey, dwIndex, lpValueName, lpcbValueName, lpReserved, lpType, data, lpcbData);
    lpData = fromAnsi(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    return rc;
}

LONG cQueryReg::EnumValue(HKEY hKey, DWORD dwIndex, std::string& lpValueName, DWORD& lpcbValueName,
                          DWORD&, DWORD& lpType, Bytes& lpData, DWORD& lpcbData) {
    std::string name = toAnsiLossy(lpValueName);
    DWORD nameSize = std::min(lpcbValueName, DWORD(name.size()));
    DWORD dataSize = std::min(lpcbData, DWORD(lpData.size()));
    const DWORD nameIn = nameSize, dataIn = dataSize;
    // The reserved argument must be null; the caller's variable is left alone.
    const LONG rc = api_.RegEnumValueA(hKey, dwIndex, name.data(), &nameSize, nullptr, &lpType,
                                       lpData.data(), &dataSize);
    lpValueName = fromAnsi(name);
    if (nameSize != nameIn)
        lpcbValueName = nameSize;
    if (dataSize != dataIn)
        lpcbData = dataSize;
    return rc;
}

LONG cQueryReg::CloseKey(HKEY hKey) {
    return api_.RegCloseKey(hKey);
}

LONG cQueryReg::QueryInfoKey(HKEY hKey, DWORD& lpcbMaxValueNameLen) {
    DWORD subKeys = 0, maxSubKey = 0, maxClass = 0, values = 0, maxValue = 0, security = 0;
    FILETIME written;
    return api_.RegQueryInfoKeyA(hKey, nullptr, nullptr, nullptr, &subKeys, &maxSubKey, &maxClass,
                                 &values, &lpcbMaxValueNameLen, &maxValue, &security, &written);
}

LONG cQueryReg::EnumKeyEx(HKEY hKey, DWORD dwIndex, std::string& lpName, DWORD& lpcbName) {
    std::string name = toAnsiLossy(lpName);
    DWORD size = std::min(lpcbName, DWORD(name.size()));
    const DWORD sizeIn = size;
    FILETIME written;
    const LONG rc =
        api_.RegEnumKeyExA(hKey, dwIndex, name.data(), &size, nullptr, nullptr, nullptr, &written);
    lpName = fromAnsi(name);
    if (size != sizeIn)
        lpcbName = size;
    return rc;
}

LONG cQueryReg::RegSetValue2(HKEY hKey, const std::string& lpSubKey, DWORD, std::string& lpData,
                             DWORD) {
    const auto name = ansiName(lpSubKey);
    const auto data = toAnsi(lpData);
    if (!name || !data)
        return ERROR_INVALID_PARAMETER;
    // The size leaves the zero out; the platform stores it because it follows the text.
    return api_.RegSetValueExA(hKey, name->c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(data->c_str()), DWORD(data->size()));
}

} // namespace melofon::registry
