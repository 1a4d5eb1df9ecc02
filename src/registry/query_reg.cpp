#include "registry/query_reg.h"

#include "registry/ansi_code_page.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>

namespace melofon::registry {

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

bool contains(std::string_view s, std::string_view part) {
    return s.find(part) != std::string_view::npos;
}

// A key path or a name in the code page, or nothing when it cannot be: a character the
// code page lacks would reach the registry as '?', and a zero would cut the name short,
// so either could address another key than the one meant.
std::optional<std::string> ansiName(std::string_view name) {
    if (contains(name, std::string_view("\0", 1)))
        return std::nullopt;
    return toAnsi(name);
}

// A text value's characters. The stored zero is dropped; a value written without one
// keeps its last character.
std::string textOf(std::string_view data) {
    if (!data.empty() && data.back() == '\0')
        data.remove_suffix(1);
    return fromAnsi(data);
}

// The first four bytes, little-endian; a shorter value is padded with zeros.
std::int32_t numberOf(std::string_view data) {
    std::uint32_t n = 0;
    for (std::size_t i = std::min<std::size_t>(data.size(), 4); i-- > 0;)
        n = (n << 8) | static_cast<unsigned char>(data[i]);
    return std::int32_t(n);
}

std::string dwordText(std::int32_t n) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%08X (%d)", unsigned(std::uint32_t(n)), int(n));
    return text;
}

std::string hexText(std::string_view bytes, bool twoDigits) {
    std::string out;
    for (char b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, twoDigits ? "%02X" : "%X",
                      unsigned(static_cast<unsigned char>(b)));
        out += digits;
        out += ' ';
    }
    return out;
}

std::string trimSpaces(std::string_view s) {
    const std::size_t begin = s.find_first_not_of(' ');
    if (begin == std::string_view::npos)
        return {};
    return std::string(s.substr(begin, s.find_last_not_of(' ') + 1 - begin));
}

// A whole decimal number with an optional sign and blanks around it, as a 32-bit integer.
std::optional<std::int32_t> parseNumber(std::string_view s) {
    constexpr std::string_view blanks = " \t\n\v\f\r";
    const std::size_t begin = s.find_first_not_of(blanks);
    if (begin == std::string_view::npos)
        return std::nullopt;
    s = s.substr(begin, s.find_last_not_of(blanks) + 1 - begin);
    if (s.size() > 1 && s.front() == '+' && s[1] != '-')
        s.remove_prefix(1);
    std::int32_t n = 0;
    const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (error != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return n;
}

// Registry names match as the registry compares them: character by character, upper-cased.
bool sameName(std::string_view a, std::string_view b) {
    return upperUtf8(a) == upperUtf8(b);
}

BYTE* asBytes(std::string& buffer) {
    return reinterpret_cast<BYTE*>(buffer.data());
}

std::string valueText(const Value& v) {
    if (const auto* s = std::get_if<std::string>(&v))
        return *s;
    if (const auto* n = std::get_if<std::int32_t>(&v))
        return std::to_string(*n);
    return {};
}

// The data with the extra zero element byte arrays carry.
Bytes withTrailingZero(std::string_view data) {
    Bytes out(data.begin(), data.end());
    out.push_back(0);
    return out;
}

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

// --- Special folders ------------------------------------------------------------------------

void cQueryReg::addFolder(const std::string& name, const std::string& location) {
    // A name seen before keeps its first folder: the two lists share their keys.
    if (colClaves.add(name, name))
        colUbicaciones.add(location, name);
}

std::string cQueryReg::directory(UINT (RegistryApi::*get)(LPSTR, UINT)) {
    std::string buffer(300, '\0');
    UINT length = (api_.*get)(buffer.data(), UINT(buffer.size()));
    if (length >= UINT(buffer.size())) {
        buffer.assign(length, '\0');
        length = (api_.*get)(buffer.data(), UINT(buffer.size()));
        if (length >= UINT(buffer.size()))
            length = 0;
    }
    return fromAnsi(std::string_view(buffer).substr(0, length));
}

Collection cQueryReg::ShellFolders(bool bSoloClaves) {
    colClaves = Collection();
    colUbicaciones = Collection();
    struct Source {
        HKEY root;
        std::string location; // root name included
        std::string key;
        bool needsDrive;
    };
    const std::string explorer =
        ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::string currentVersion = "Software\\Microsoft\\Windows\\CurrentVersion";
    const Source sources[] = {
        {HKEY_USERS, "HKEY_USERS\\" + explorer, explorer, false},
        {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE\\" + currentVersion, currentVersion, true},
    };
    for (const Source& source : sources) {
        HKEY key = 0;
        if (OpenKeyEx(source.root, source.key, 0, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            continue;
        DWORD maxName = 0;
        QueryInfoKey(key, maxName);
        for (DWORD index = 0;; ++index) {
            std::string name(std::size_t(maxName) + 1, '\0');
            DWORD nameSize = DWORD(name.size());
            BYTE four[4] = {};
            DWORD dataSize = 0, type = REG_NONE;
            const LONG rc = api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type,
                                               four, &dataSize);
            // Any answer but "this one" or "this one, bigger" ends the walk: a key deleted
            // meanwhile would otherwise fail at every index for ever.
            if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA)
                break;
            if (type != REG_SZ)
                continue;
            std::fill(name.begin(), name.end(), '\0');
            nameSize = DWORD(name.size());
            std::string data(dataSize, '\0');
            api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, asBytes(data),
                               &dataSize);
            const std::string folder =
                TrimAtNull(fromAnsi(std::string_view(name).substr(0, nameSize)));
            const std::string text = textOf(std::string_view(data).substr(0, dataSize));
            if (!folder.empty() && (!source.needsDrive || contains(text, ":\\")))
                addFolder(folder, source.location);
        }
        CloseKey(key);
    }
    registryFolders_ = colClaves.count();
    addFolder("WindowsDir", directory(&RegistryApi::GetWindowsDirectoryA));
    addFolder("SystemDir", directory(&RegistryApi::GetSystemDirectoryA));
    return bSoloClaves ? colClaves : colUbicaciones;
}

std::string cQueryReg::GetFolder(const std::string& name) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<int> position = colClaves.position(name);
    return position ? GetFolder(*position) : std::string();
}

std::string cQueryReg::GetFolder(int position) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<std::string> name = colClaves.item(position);
    const std::optional<std::string> location = colUbicaciones.item(position);
    if (!name || !location)
        return {};
    // The directories are their own location; told apart by where they came from, so a
    // registry value named like them still reads from the registry.
    if (position > registryFolders_)
        return *location;
    return valueText(GetReg(*location, *name, HKEY_CURRENT_USER, false));
}

// --- File associations ----------------------------------------------------------------------

void cQueryReg::AsociarExt(const std::string& sExt_, const std::string& sExe_,
                           const std::string& sCommand_, bool bDefault, const std::string& sProgId_,
                           const std::string& sDescription_) {
    std::string sExt = trimSpaces(sExt_);
    std::string sExe = trimSpaces(sExe_);
    const std::string sCommand = trimSpaces(sCommand_);
    std::string sProgId = trimSpaces(sProgId_);
    std::string sDescription = trimSpaces(sDescription_);

    if (!contains(sExt, "."))
        sExt.insert(0, 1, '.');
    if (!sExe.empty()) {
        if (!contains(sExe, "."))
            sExe += ".exe";
        // Unquoted, a path with a blank would start the program named by its first word.
        if (contains(sExe, " ") && !sExe.starts_with('"'))
            sExe = '"' + sExe + '"';
        sExe += ' ';
    }
    if (sProgId.empty())
        sProgId = "progID" + sExt;
    if (sDescription.empty())
        sDescription = "Descripción de " + sProgId;
    const std::string& caption = sCommand;
    std::string verb = sCommand;
    if (const std::size_t amp = verb.find('&'); amp != std::string::npos)
        verb.erase(amp, 1);
    // Without a verb the command is the shell's usual one.
    if (verb.empty())
        verb = "open";

    const auto ext = ansiName(sExt);
    const auto progIdNew = ansiName(sProgId);
    const auto description = toAnsi(sDescription);
    const auto captionText = toAnsi(caption);
    const auto verbName = ansiName(verb);
    const auto commandLine = toAnsi(sExe + "\"%1\"");
    if (!ext || !progIdNew || !description || !captionText || !verbName || !commandLine)
        return;

    const auto setText = [this](HKEY key, const std::string& subKey, const std::string& text) {
        api_.RegSetValueA(key, subKey.c_str(), REG_SZ, text.c_str(), DWORD(text.size()));
    };
    // An extension that already has a ProgID keeps it, and its description.
    if (QueryRegBase(sExt, HKEY_CLASSES_ROOT).empty()) {
        setText(HKEY_CLASSES_ROOT, *ext, *progIdNew);
        setText(HKEY_CLASSES_ROOT, *progIdNew, *description);
    }
    const std::string progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.empty())
        return;

    HKEY shell = 0;
    const std::string shellPath = "Software\\Classes\\" + toAnsiLossy(progId) + "\\shell";
    if (api_.RegCreateKeyA(HKEY_LOCAL_MACHINE, shellPath.c_str(), &shell) != ERROR_SUCCESS)
        return;
    if (verb != "open")
        setText(shell, *verbName, *captionText);
    if (!sExe.empty())
        setText(shell, *verbName + "\\command", *commandLine);
    if (bDefault)
        setText(shell, std::string(), *verbName);
    api_.RegCloseKey(shell);
}

bool cQueryReg::progIdStillNamed(const std::string& progId) {
    DWORD count = 0, maxLength = 0;
    // When the extensions cannot be read, the ProgID counts as used and is kept.
    if (api_.RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &count, &maxLength,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return true;
    for (DWORD index = 0; index < count; ++index) {
        std::string name(std::size_t(maxLength) + 1, '\0');
        DWORD size = DWORD(name.size());
        FILETIME written;
        if (api_.RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name.data(), &size, nullptr, nullptr,
                               nullptr, &written) != ERROR_SUCCESS)
            return true;
        const std::string ext = fromAnsi(std::string_view(name).substr(0, size));
        if (ext.starts_with('.') && sameName(QueryRegBase(ext, HKEY_CLASSES_ROOT), progId))
            return true;
    }
    return false;
}

void cQueryReg::DesasociarExt(const std::string& sExt_) {
    std::string sExt = sExt_;
    if (!contains(sExt, "."))
        sExt.insert(0, 1, '.');
    std::string progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.empty())
        return;
    HKEY root = HKEY_CLASSES_ROOT;
    DeleteKeyTree(root, sExt);
    // Other extensions may share the ProgID; their associations go with it.
    if (!progIdStillNamed(progId))
        DeleteKeyTree(root, progId);
}

} // namespace melofon::registry
