#include "registry/query_reg.h"

#include "registry/ansi_code_page.h"
#include "registry/query_reg_values.h"

#include <algorithm>

namespace melofon::registry {

using namespace detail;

// --- Writing and deleting -------------------------------------------------------------------

LONG cQueryReg::SetReg(const std::string& sKey, const std::string& sName, const Value& vValue,
                       HKEY hKey, DWORD RegDataType, bool bCreateKey) {
    std::string path = sKey;
    const HKEY root = SplitRootKey(path, hKey);
    const auto p = ansiName(path);
    const auto name = ansiName(sName);
    if (!p || !name)
        return ERROR_INVALID_PARAMETER;

    // The data is made first, so that a value that does not convert changes nothing.
    std::optional<std::string> data;
    switch (RegDataType) {
    case REG_SZ:
        if (!std::holds_alternative<std::string>(vValue) &&
            !std::holds_alternative<std::int32_t>(vValue))
            return ERROR_INVALID_PARAMETER;
        data = toAnsi(valueText(vValue));
        if (!data)
            return ERROR_INVALID_PARAMETER;
        *data += '\0';
        break;
    case REG_BINARY:
        if (const auto* array = std::get_if<Bytes>(&vValue))
            data = std::string(array->begin(), array->empty() ? array->end() : array->end() - 1);
        else
            return ERROR_INVALID_PARAMETER;
        break;
    case REG_DWORD: {
        std::optional<std::int32_t> n;
        if (const auto* i = std::get_if<std::int32_t>(&vValue))
            n = *i;
        else if (const auto* s = std::get_if<std::string>(&vValue))
            n = parseNumber(*s);
        if (!n)
            return ERROR_INVALID_PARAMETER;
        const auto u = std::uint32_t(*n);
        data = std::string{char(u & 0xFF), char((u >> 8) & 0xFF), char((u >> 16) & 0xFF),
                           char(u >> 24)};
        break;
    }
    default:
        break;
    }

    HKEY key = 0;
    LONG rc = api_.RegOpenKeyExA(root, p->c_str(), 0, KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS && bCreateKey)
        rc = api_.RegCreateKeyA(root, p->c_str(), &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (!data)
        return api_.RegCloseKey(key);
    rc = api_.RegSetValueExA(key, name->c_str(), 0, RegDataType, asBytes(*data),
                             DWORD(data->size()));
    api_.RegCloseKey(key);
    return rc;
}

LONG cQueryReg::DeleteKey(const std::string& sKey, const std::string& sValue, HKEY hKey) {
    std::string path = sKey;
    HKEY root = SplitRootKey(
        path, hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_USERS ? hKey : HKEY_CLASSES_ROOT);
    if (sValue.empty())
        return DeleteKeyTree(root, path);
    const auto p = ansiName(path);
    const auto name = ansiName(sValue);
    if (!p || !name)
        return ERROR_INVALID_PARAMETER;
    HKEY key = 0;
    if (LONG rc = api_.RegOpenKeyExA(root, p->c_str(), 0, KEY_WRITE, &key))
        return rc;
    const LONG rc = api_.RegDeleteValueA(key, name->c_str());
    api_.RegCloseKey(key);
    return rc;
}

LONG cQueryReg::DeleteKeyWin95(HKEY hKey, const std::string& szKey) {
    const auto name = ansiName(szKey);
    return name ? api_.RegDeleteKeyA(hKey, name->c_str()) : ERROR_INVALID_PARAMETER;
}

LONG cQueryReg::DeleteKeyTree(HKEY& hKey, std::string& sKey) {
    // An empty path is the root or parent itself: emptying it and then failing to delete
    // it would destroy everything below and report an error.
    if (sKey.empty())
        return ERROR_ACCESS_DENIED;
    const auto p = ansiName(sKey);
    if (!p)
        return ERROR_INVALID_PARAMETER;
    HKEY key = 0;
    if (LONG rc = api_.RegOpenKeyExA(hKey, p->c_str(), 0, KEY_ALL_ACCESS, &key))
        return rc;
    DWORD subKeys = 0, maxLength = 0;
    if (LONG rc = api_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxLength,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        api_.RegCloseKey(key);
        return rc;
    }
    // From the last index down, so that the lower ones stay valid as subkeys disappear.
    for (DWORD index = subKeys; index-- > 0;) {
        std::string name(std::size_t(maxLength) + 1, '*');
        DWORD size = DWORD(name.size());
        FILETIME written;
        if (api_.RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr,
                               &written) == ERROR_SUCCESS) {
            std::string child = fromAnsi(std::string_view(name).substr(0, size));
            DeleteKeyTree(key, child);
        }
    }
    api_.RegCloseKey(key);
    return api_.RegDeleteKeyA(hKey, p->c_str());
}

// --- Listing --------------------------------------------------------------------------------

bool cQueryReg::EnumKeys(std::vector<std::string>& sKeys, const std::string& sKey) {
    sKeys.assign(1, std::string());
    std::string path = sKey;
    const HKEY root = SplitRootKey(path, 0);
    const auto p = ansiName(path);
    HKEY key = 0;
    // Counting the subkeys needs the query right besides the enumeration right.
    if (!p ||
        api_.RegOpenKeyExA(root, p->c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key))
        return false;
    DWORD count = 0, maxLength = 0;
    api_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &maxLength, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr);
    for (DWORD index = 0; index < count; ++index) {
        std::string name(std::size_t(maxLength) + 1, '\0');
        DWORD size = DWORD(name.size());
        FILETIME written;
        const LONG rc =
            api_.RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, &written);
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)
            sKeys.push_back(fromAnsi(std::string_view(name).substr(0, size)));
    }
    CloseKey(key);
    return true;
}

bool cQueryReg::EnumValues(std::vector<std::string>& sValues, const std::string& sKey) {
    sValues.assign(1, std::string());
    std::string path = sKey;
    const HKEY root = SplitRootKey(path, 0);
    const auto p = ansiName(path);
    HKEY key = 0;
    if (!p || api_.RegOpenKeyExA(root, p->c_str(), 0, KEY_QUERY_VALUE, &key))
        return false;
    DWORD count = 0, maxName = 0, maxData = 0;
    api_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                          &maxName, &maxData, nullptr, nullptr);
    for (DWORD index = 0; index < count; ++index) {
        // A probe for the type alone.
        char oneChar[1] = {};
        BYTE four[4] = {};
        DWORD probeName = 0, probeData = 0, type = REG_NONE;
        const LONG rc =
            api_.RegEnumValueA(key, index, oneChar, &probeName, nullptr, &type, four, &probeData);
        if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
            continue;
        if (type != REG_SZ && type != REG_DWORD && maxData == 0)
            continue;

        std::string name(std::size_t(maxName) + 1, '\0');
        DWORD nameSize = DWORD(name.size());
        // Never smaller than a number, whatever the longest value says.
        std::string data(std::max<std::size_t>(maxData, 4), '\0');
        DWORD dataSize = maxData;
        api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, asBytes(data),
                           &dataSize);
        const std::string_view got = std::string_view(data).substr(0, std::min(dataSize, maxData));
        std::string text;
        if (type == REG_SZ)
            text = TrimAtNull(fromAnsi(std::string_view(data).substr(0, maxData)));
        else if (type == REG_DWORD)
            text =
                std::to_string(numberOf(std::string_view(data).substr(0, std::min(dataSize, 4u))));
        else
            text = hexText(got, true);
        sValues.push_back(TrimAtNull(fromAnsi(name)));
        sValues.push_back(std::move(text));
    }
    CloseKey(key);
    return true;
}

} // namespace melofon::registry
