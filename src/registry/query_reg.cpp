#include "registry/query_reg.h"

#include "registry/ansi_code_page.h"

#include <QtEndian>

#include <algorithm>
#include <array>

namespace melofon::registry {

namespace {

struct Root {
    QString longName;
    QString shortPrefix;
    HKEY handle;
};

const std::array<Root, 6>& roots() {
    static const std::array<Root, 6> table = {{
        {QStringLiteral("HKEY_CLASSES_ROOT"), QStringLiteral("HKCR\\"), HKEY_CLASSES_ROOT},
        {QStringLiteral("HKEY_CURRENT_USER"), QStringLiteral("HKCU\\"), HKEY_CURRENT_USER},
        {QStringLiteral("HKEY_LOCAL_MACHINE"), QStringLiteral("HKLM\\"), HKEY_LOCAL_MACHINE},
        {QStringLiteral("HKEY_USERS"), QStringLiteral("HKU\\"), HKEY_USERS},
        {QStringLiteral("HKEY_CURRENT_CONFIG"), QStringLiteral("HKCC\\"), HKEY_CURRENT_CONFIG},
        {QStringLiteral("HKEY_DYN_DATA"), QStringLiteral("HKDD\\"), HKEY_DYN_DATA},
    }};
    return table;
}

// A key path or a name in the code page, or nothing when it cannot be: a character the
// code page lacks would reach the registry as '?', and a zero would cut the name short,
// so either could address another key than the one meant.
std::optional<QByteArray> ansiName(const QString& name) {
    if (name.contains(QChar(0)))
        return std::nullopt;
    return toAnsi(name);
}

// A text value's characters. The stored zero is dropped; a value written without one
// keeps its last character.
QString textOf(const QByteArray& data) {
    return fromAnsi(data.constData(), data.endsWith('\0') ? data.size() - 1 : data.size());
}

// The first four bytes, little-endian; a shorter value is padded with zeros.
std::int32_t numberOf(const QByteArray& data) {
    unsigned char bytes[4] = {};
    std::copy_n(data.constData(), std::min<qsizetype>(data.size(), 4), bytes);
    return qFromLittleEndian<std::int32_t>(bytes);
}

QString dwordText(std::int32_t n) {
    return QStringLiteral("0x") +
           QString::number(std::uint32_t(n), 16).toUpper().rightJustified(8, QLatin1Char('0')) +
           QStringLiteral(" (") + QString::number(n) + QStringLiteral(")");
}

QString hexText(const QByteArray& bytes, bool twoDigits) {
    QString out;
    for (char b : bytes) {
        QString digits = QString::number(static_cast<unsigned char>(b), 16).toUpper();
        out += (twoDigits ? digits.rightJustified(2, QLatin1Char('0')) : digits) + QLatin1Char(' ');
    }
    return out;
}

QString trimSpaces(const QString& s) {
    qsizetype begin = 0, end = s.size();
    while (begin < end && s.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && s.at(end - 1) == QLatin1Char(' '))
        --end;
    return s.mid(begin, end - begin);
}

// Registry names match as the registry compares them: character by character, upper-cased.
bool sameName(const QString& a, const QString& b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a.at(i).toUpper() != b.at(i).toUpper())
            return false;
    }
    return true;
}

BYTE* asBytes(QByteArray& buffer) {
    return reinterpret_cast<BYTE*>(buffer.data());
}

QString valueText(const Value& v) {
    if (const auto* s = std::get_if<QString>(&v))
        return *s;
    if (const auto* n = std::get_if<std::int32_t>(&v))
        return QString::number(*n);
    return {};
}

} // namespace

// --- Collection --------------------------------------------------------------------------

bool Collection::add(const QString& item, const QString& key) {
    const QString folded = key.toCaseFolded();
    if (positions_.contains(folded))
        return false;
    items_.append(item);
    positions_.insert(folded, int(items_.size()));
    return true;
}

std::optional<QString> Collection::item(int position) const {
    if (position < 1 || position > count())
        return std::nullopt;
    return items_.at(position - 1);
}

std::optional<QString> Collection::item(const QString& key) const {
    const std::optional<int> p = position(key);
    return p ? item(*p) : std::nullopt;
}

std::optional<int> Collection::position(const QString& key) const {
    const auto it = positions_.constFind(key.toCaseFolded());
    return it == positions_.constEnd() ? std::nullopt : std::optional<int>(*it);
}

// --- cQueryReg: paths and reading -----------------------------------------------------------

cQueryReg::cQueryReg() : api_(systemRegistry()) {}
cQueryReg::cQueryReg(RegistryApi& api) : api_(api) {}

HKEY cQueryReg::SplitRootKey(QString& sKey, HKEY hKey) {
    std::optional<QString> rootName;
    if (sKey.contains(QStringLiteral("HKEY_"))) {
        const qsizetype slash = sKey.indexOf(QLatin1Char('\\'));
        rootName = slash < 0 ? sKey : sKey.left(slash);
        sKey = slash < 0 ? QString() : sKey.mid(slash + 1);
    } else {
        for (const Root& r : roots()) {
            if (sKey.startsWith(r.shortPrefix)) {
                rootName = r.longName;
                sKey = sKey.mid(r.shortPrefix.size());
                break;
            }
        }
    }
    for (const Root& r : roots()) {
        if (rootName ? *rootName == r.longName : hKey == r.handle)
            return r.handle;
    }
    return HKEY_CLASSES_ROOT;
}

cQueryReg::RawValue cQueryReg::readValue(const QString& sKey, const QString& sValue, HKEY hKey) {
    QString path = sKey;
    const HKEY root = SplitRootKey(path, hKey);
    const auto p = ansiName(path);
    const auto name = ansiName(sValue);
    HKEY key = 0;
    if (!p || !name || api_.RegOpenKeyExA(root, p->constData(), 0, KEY_QUERY_VALUE, &key))
        return {};
    RawValue v;
    DWORD size = 0;
    api_.RegQueryValueExA(key, name->constData(), nullptr, &v.type, nullptr, &size);
    if ((v.type == REG_SZ || v.type == REG_BINARY || v.type == REG_DWORD) && size > 0) {
        v.data = QByteArray(qsizetype(size), '\0');
        DWORD type = 0;
        if (api_.RegQueryValueExA(key, name->constData(), nullptr, &type, asBytes(v.data), &size))
            v.data.clear();
        else
            v.data.truncate(qsizetype(size));
    }
    api_.RegCloseKey(key);
    return v;
}

Value cQueryReg::GetRegDWord(const QString& sKey, const QString& sValue, HKEY hKey,
                             bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    const std::int32_t n = v.type == REG_DWORD ? numberOf(v.data) : 0;
    return bAsString ? Value(dwordText(n)) : Value(n);
}

Value cQueryReg::GetReg(const QString& sKey, const QString& sValue, HKEY hKey, bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    switch (v.type) {
    case REG_SZ:
        return textOf(v.data);
    case REG_DWORD:
        return bAsString ? Value(dwordText(numberOf(v.data))) : Value(numberOf(v.data));
    case REG_BINARY:
        return bAsString ? Value(hexText(v.data, true)) : Value(v.data + '\0');
    default:
        return {};
    }
}

Value cQueryReg::GetRegBinary(const QString& sKey, const QString& sValue, HKEY hKey,
                              bool bAsString) {
    const RawValue v = readValue(sKey, sValue, hKey);
    const QByteArray data = v.type == REG_BINARY ? v.data : QByteArray();
    return bAsString ? Value(hexText(data, false)) : Value(data + '\0');
}

QString cQueryReg::GetRegString(const QString& sKey, const QString& sValue, HKEY hKey) {
    const RawValue v = readValue(sKey, sValue, hKey);
    return v.type == REG_SZ ? textOf(v.data) : QString();
}

QString cQueryReg::QueryRegBase(const QString& sValue, HKEY hKey) {
    const HKEY root = hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_USERS ? hKey : HKEY_CLASSES_ROOT;
    const auto subKey = ansiName(sValue);
    if (!subKey)
        return {};
    QByteArray buffer(300, '\0');
    LONG size = LONG(buffer.size());
    if (api_.RegQueryValueA(root, subKey->constData(), buffer.data(), &size) != ERROR_SUCCESS ||
        size <= 0)
        return {};
    return textOf(buffer.left(size));
}

QString cQueryReg::TrimAtNull(const QString& s) {
    const qsizetype zero = s.indexOf(QChar(0));
    return zero < 0 ? s : s.left(zero);
}

// --- Thin wrappers --------------------------------------------------------------------------

LONG cQueryReg::OpenKeyEx(HKEY hKey, const QString& lpSubKey, DWORD, REGSAM samDesired,
                          HKEY& phkResult) {
    const auto subKey = ansiName(lpSubKey);
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    return api_.RegOpenKeyExA(hKey, subKey->constData(), 0, samDesired, &phkResult);
}

LONG cQueryReg::OpenKeyQuery(HKEY hKey, const QString& lpSubKey, DWORD ulOptions, REGSAM,
                             HKEY& phkResult) {
    return OpenKeyEx(hKey, lpSubKey, ulOptions, KEY_QUERY_VALUE, phkResult);
}

LONG cQueryReg::EnumValueString(HKEY hKey, DWORD dwIndex, QString& lpValueName,
                                DWORD& lpcbValueName, DWORD& lpReserved, DWORD& lpType,
                                QString& lpData, DWORD& lpcbData) {
    QByteArray data = toAnsiLossy(lpData);
    const LONG rc =
        EnumValue(hKey, dwIndex, lpValueName, lpcbValueName, lpReserved, lpType, data, lpcbData);
    lpData = fromAnsi(data);
    return rc;
}

LONG cQueryReg::EnumValue(HKEY hKey, DWORD dwIndex, QString& lpValueName, DWORD& lpcbValueName,
                          DWORD&, DWORD& lpType, QByteArray& lpData, DWORD& lpcbData) {
    QByteArray name = toAnsiLossy(lpValueName);
    DWORD nameSize = std::min(lpcbValueName, DWORD(name.size()));
    DWORD dataSize = std::min(lpcbData, DWORD(lpData.size()));
    const DWORD nameIn = nameSize, dataIn = dataSize;
    // The reserved argument must be null; the caller's variable is left alone.
    const LONG rc = api_.RegEnumValueA(hKey, dwIndex, name.data(), &nameSize, nullptr, &lpType,
                                       asBytes(lpData), &dataSize);
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

LONG cQueryReg::EnumKeyEx(HKEY hKey, DWORD dwIndex, QString& lpName, DWORD& lpcbName) {
    QByteArray name = toAnsiLossy(lpName);
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

LONG cQueryReg::RegSetValue2(HKEY hKey, const QString& lpSubKey, DWORD, QString& lpData, DWORD) {
    const auto name = ansiName(lpSubKey);
    const auto data = toAnsi(lpData);
    if (!name || !data)
        return ERROR_INVALID_PARAMETER;
    // The size leaves the zero out; the platform stores it because it follows the text.
    return api_.RegSetValueExA(hKey, name->constData(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(data->constData()),
                               DWORD(data->size()));
}

// --- Writing and deleting -------------------------------------------------------------------

LONG cQueryReg::SetReg(const QString& sKey, const QString& sName, const Value& vValue, HKEY hKey,
                       DWORD RegDataType, bool bCreateKey) {
    QString path = sKey;
    const HKEY root = SplitRootKey(path, hKey);
    const auto p = ansiName(path);
    const auto name = ansiName(sName);
    if (!p || !name)
        return ERROR_INVALID_PARAMETER;

    // The data is made first, so that a value that does not convert changes nothing.
    std::optional<QByteArray> data;
    switch (RegDataType) {
    case REG_SZ:
        if (std::holds_alternative<QString>(vValue) ||
            std::holds_alternative<std::int32_t>(vValue)) {
            data = toAnsi(valueText(vValue));
            if (!data)
                return ERROR_INVALID_PARAMETER;
            data->append('\0');
        } else {
            return ERROR_INVALID_PARAMETER;
        }
        break;
    case REG_BINARY:
        if (const auto* array = std::get_if<QByteArray>(&vValue))
            data = array->left(std::max<qsizetype>(array->size() - 1, 0));
        else
            return ERROR_INVALID_PARAMETER;
        break;
    case REG_DWORD: {
        std::optional<std::int32_t> n;
        if (const auto* i = std::get_if<std::int32_t>(&vValue)) {
            n = *i;
        } else if (const auto* s = std::get_if<QString>(&vValue)) {
            bool ok = false;
            const int parsed = s->trimmed().toInt(&ok);
            if (ok)
                n = parsed;
        }
        if (!n)
            return ERROR_INVALID_PARAMETER;
        data = QByteArray(4, '\0');
        qToLittleEndian(*n, data->data());
        break;
    }
    default:
        break;
    }

    HKEY key = 0;
    LONG rc = api_.RegOpenKeyExA(root, p->constData(), 0, KEY_WRITE, &key);
    if (rc != ERROR_SUCCESS && bCreateKey)
        rc = api_.RegCreateKeyA(root, p->constData(), &key);
    if (rc != ERROR_SUCCESS)
        return rc;
    if (!data)
        return api_.RegCloseKey(key);
    rc = api_.RegSetValueExA(key, name->constData(), 0, RegDataType,
                             reinterpret_cast<const BYTE*>(data->constData()), DWORD(data->size()));
    api_.RegCloseKey(key);
    return rc;
}

LONG cQueryReg::DeleteKey(const QString& sKey, const QString& sValue, HKEY hKey) {
    QString path = sKey;
    HKEY root = SplitRootKey(
        path, hKey >= HKEY_CLASSES_ROOT && hKey <= HKEY_USERS ? hKey : HKEY_CLASSES_ROOT);
    if (sValue.isEmpty())
        return DeleteKeyTree(root, path);
    const auto p = ansiName(path);
    const auto name = ansiName(sValue);
    if (!p || !name)
        return ERROR_INVALID_PARAMETER;
    HKEY key = 0;
    if (LONG rc = api_.RegOpenKeyExA(root, p->constData(), 0, KEY_WRITE, &key))
        return rc;
    const LONG rc = api_.RegDeleteValueA(key, name->constData());
    api_.RegCloseKey(key);
    return rc;
}

LONG cQueryReg::DeleteKeyWin95(HKEY hKey, const QString& szKey) {
    const auto name = ansiName(szKey);
    return name ? api_.RegDeleteKeyA(hKey, name->constData()) : ERROR_INVALID_PARAMETER;
}

LONG cQueryReg::DeleteKeyTree(HKEY& hKey, QString& sKey) {
    // An empty path is the root or parent itself: emptying it and then failing to delete
    // it would destroy everything below and report an error.
    if (sKey.isEmpty())
        return ERROR_ACCESS_DENIED;
    const auto p = ansiName(sKey);
    if (!p)
        return ERROR_INVALID_PARAMETER;
    HKEY key = 0;
    if (LONG rc = api_.RegOpenKeyExA(hKey, p->constData(), 0, KEY_ALL_ACCESS, &key))
        return rc;
    DWORD subKeys = 0, maxLength = 0;
    if (LONG rc = api_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, &maxLength,
                                        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) {
        api_.RegCloseKey(key);
        return rc;
    }
    // From the last index down, so that the lower ones stay valid as subkeys disappear.
    for (DWORD index = subKeys; index-- > 0;) {
        QByteArray name(qsizetype(maxLength) + 1, '*');
        DWORD size = DWORD(name.size());
        FILETIME written;
        if (api_.RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr,
                               &written) == ERROR_SUCCESS) {
            QString child = fromAnsi(name.constData(), std::min(qsizetype(size), name.size()));
            DeleteKeyTree(key, child);
        }
    }
    api_.RegCloseKey(key);
    return api_.RegDeleteKeyA(hKey, p->constData());
}

// --- Listing --------------------------------------------------------------------------------

bool cQueryReg::EnumKeys(QStringList& sKeys, const QString& sKey) {
    sKeys = QStringList{QString()};
    QString path = sKey;
    const HKEY root = SplitRootKey(path, 0);
    const auto p = ansiName(path);
    HKEY key = 0;
    // Counting the subkeys needs the query right besides the enumeration right.
    if (!p ||
        api_.RegOpenKeyExA(root, p->constData(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key))
        return false;
    DWORD count = 0, maxLength = 0;
    api_.RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &maxLength, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr);
    for (DWORD index = 0; index < count; ++index) {
        QByteArray name(qsizetype(maxLength) + 1, '\0');
        DWORD size = DWORD(name.size());
        FILETIME written;
        const LONG rc =
            api_.RegEnumKeyExA(key, index, name.data(), &size, nullptr, nullptr, nullptr, &written);
        if (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA)
            sKeys.append(fromAnsi(name.constData(), std::min(qsizetype(size), name.size())));
    }
    CloseKey(key);
    return true;
}

bool cQueryReg::EnumValues(QStringList& sValues, const QString& sKey) {
    sValues = QStringList{QString()};
    QString path = sKey;
    const HKEY root = SplitRootKey(path, 0);
    const auto p = ansiName(path);
    HKEY key = 0;
    if (!p || api_.RegOpenKeyExA(root, p->constData(), 0, KEY_QUERY_VALUE, &key))
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

        QByteArray name(qsizetype(maxName) + 1, '\0');
        DWORD nameSize = DWORD(name.size());
        // Never smaller than a number, whatever the longest value says.
        QByteArray data(std::max<qsizetype>(maxData, 4), '\0');
        DWORD dataSize = maxData;
        api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, asBytes(data),
                           &dataSize);
        const QByteArray got = data.left(std::min(qsizetype(dataSize), qsizetype(maxData)));
        QString text;
        if (type == REG_SZ)
            text = TrimAtNull(fromAnsi(data.constData(), qsizetype(maxData)));
        else if (type == REG_DWORD)
            text =
                QString::number(numberOf(data.left(std::min(qsizetype(dataSize), qsizetype(4)))));
        else
            text = hexText(got, true);
        sValues << TrimAtNull(fromAnsi(name)) << text;
    }
    CloseKey(key);
    return true;
}

// --- Special folders ------------------------------------------------------------------------

void cQueryReg::addFolder(const QString& name, const QString& location) {
    // A name seen before keeps its first folder: the two lists share their keys.
    if (colClaves.add(name, name))
        colUbicaciones.add(location, name);
}

QString cQueryReg::directory(UINT (RegistryApi::*get)(LPSTR, UINT)) {
    QByteArray buffer(300, '\0');
    UINT length = (api_.*get)(buffer.data(), UINT(buffer.size()));
    if (length >= UINT(buffer.size())) {
        buffer = QByteArray(qsizetype(length), '\0');
        length = (api_.*get)(buffer.data(), UINT(buffer.size()));
        if (length >= UINT(buffer.size()))
            length = 0;
    }
    return fromAnsi(buffer.constData(), qsizetype(length));
}

Collection cQueryReg::ShellFolders(bool bSoloClaves) {
    colClaves = Collection();
    colUbicaciones = Collection();
    struct Source {
        HKEY root;
        QString location; // root name included
        QString key;
        bool needsDrive;
    };
    const QString explorer = QStringLiteral(
        ".Default\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders");
    const QString currentVersion = QStringLiteral("Software\\Microsoft\\Windows\\CurrentVersion");
    const Source sources[] = {
        {HKEY_USERS, QStringLiteral("HKEY_USERS\\") + explorer, explorer, false},
        {HKEY_LOCAL_MACHINE, QStringLiteral("HKEY_LOCAL_MACHINE\\") + currentVersion,
         currentVersion, true},
    };
    for (const Source& source : sources) {
        HKEY key = 0;
        if (OpenKeyEx(source.root, source.key, 0, KEY_QUERY_VALUE, key) != ERROR_SUCCESS)
            continue;
        DWORD maxName = 0;
        QueryInfoKey(key, maxName);
        for (DWORD index = 0;; ++index) {
            QByteArray name(qsizetype(maxName) + 1, '\0');
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
            name.fill('\0');
            nameSize = DWORD(name.size());
            QByteArray data(qsizetype(dataSize), '\0');
            api_.RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, asBytes(data),
                               &dataSize);
            const QString folder =
                TrimAtNull(fromAnsi(name.constData(), std::min(qsizetype(nameSize), name.size())));
            const QString text = textOf(data.left(qsizetype(dataSize)));
            if (!folder.isEmpty() && (!source.needsDrive || text.contains(QStringLiteral(":\\"))))
                addFolder(folder, source.location);
        }
        CloseKey(key);
    }
    registryFolders_ = colClaves.count();
    addFolder(QStringLiteral("WindowsDir"), directory(&RegistryApi::GetWindowsDirectoryA));
    addFolder(QStringLiteral("SystemDir"), directory(&RegistryApi::GetSystemDirectoryA));
    return bSoloClaves ? colClaves : colUbicaciones;
}

QString cQueryReg::GetFolder(const QString& name) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<int> position = colClaves.position(name);
    return position ? GetFolder(*position) : QString();
}

QString cQueryReg::GetFolder(int position) {
    if (colUbicaciones.count() == 0)
        ShellFolders();
    const std::optional<QString> name = colClaves.item(position);
    const std::optional<QString> location = colUbicaciones.item(position);
    if (!name || !location)
        return {};
    // The directories are their own location; told apart by where they came from, so a
    // registry value named like them still reads from the registry.
    if (position > registryFolders_)
        return *location;
    return valueText(GetReg(*location, *name, HKEY_CURRENT_USER, false));
}

// --- File associations ----------------------------------------------------------------------

void cQueryReg::AsociarExt(const QString& sExt_, const QString& sExe_, const QString& sCommand_,
                           bool bDefault, const QString& sProgId_, const QString& sDescription_) {
    QString sExt = trimSpaces(sExt_);
    QString sExe = trimSpaces(sExe_);
    const QString sCommand = trimSpaces(sCommand_);
    QString sProgId = trimSpaces(sProgId_);
    QString sDescription = trimSpaces(sDescription_);

    if (!sExt.contains(QLatin1Char('.')))
        sExt.prepend(QLatin1Char('.'));
    if (!sExe.isEmpty()) {
        if (!sExe.contains(QLatin1Char('.')))
            sExe += QStringLiteral(".exe");
        // Unquoted, a path with a blank would start the program named by its first word.
        if (sExe.contains(QLatin1Char(' ')) && !sExe.startsWith(QLatin1Char('"')))
            sExe = QLatin1Char('"') + sExe + QLatin1Char('"');
        sExe += QLatin1Char(' ');
    }
    if (sProgId.isEmpty())
        sProgId = QStringLiteral("progID") + sExt;
    if (sDescription.isEmpty())
        sDescription = QStringLiteral("Descripción de ") + sProgId;
    const QString caption = sCommand;
    QString verb = sCommand;
    const qsizetype amp = verb.indexOf(QLatin1Char('&'));
    if (amp >= 0)
        verb.remove(amp, 1);
    // Without a verb the command is the shell's usual one.
    if (verb.isEmpty())
        verb = QStringLiteral("open");

    const auto ext = ansiName(sExt);
    const auto progIdNew = ansiName(sProgId);
    const auto description = toAnsi(sDescription);
    const auto captionText = toAnsi(caption);
    const auto verbName = ansiName(verb);
    const auto commandLine = toAnsi(sExe + QStringLiteral("\"%1\""));
    if (!ext || !progIdNew || !description || !captionText || !verbName || !commandLine)
        return;

    const auto setText = [this](HKEY key, const QByteArray& subKey, const QByteArray& text) {
        api_.RegSetValueA(key, subKey.constData(), REG_SZ, text.constData(), DWORD(text.size()));
    };
    // An extension that already has a ProgID keeps it, and its description.
    if (QueryRegBase(sExt, HKEY_CLASSES_ROOT).isEmpty()) {
        setText(HKEY_CLASSES_ROOT, *ext, *progIdNew);
        setText(HKEY_CLASSES_ROOT, *progIdNew, *description);
    }
    const QString progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.isEmpty())
        return;

    HKEY shell = 0;
    const QByteArray shellPath = "Software\\Classes\\" + toAnsiLossy(progId) + "\\shell";
    if (api_.RegCreateKeyA(HKEY_LOCAL_MACHINE, shellPath.constData(), &shell) != ERROR_SUCCESS)
        return;
    if (verb != QStringLiteral("open"))
        setText(shell, *verbName, *captionText);
    if (!sExe.isEmpty())
        setText(shell, *verbName + "\\command", *commandLine);
    if (bDefault)
        setText(shell, QByteArray(), *verbName);
    api_.RegCloseKey(shell);
}

bool cQueryReg::progIdStillNamed(const QString& progId) {
    DWORD count = 0, maxLength = 0;
    // When the extensions cannot be read, the ProgID counts as used and is kept.
    if (api_.RegQueryInfoKeyA(HKEY_CLASSES_ROOT, nullptr, nullptr, nullptr, &count, &maxLength,
                              nullptr, nullptr, nullptr, nullptr, nullptr, nullptr))
        return true;
    for (DWORD index = 0; index < count; ++index) {
        QByteArray name(qsizetype(maxLength) + 1, '\0');
        DWORD size = DWORD(name.size());
        FILETIME written;
        if (api_.RegEnumKeyExA(HKEY_CLASSES_ROOT, index, name.data(), &size, nullptr, nullptr,
                               nullptr, &written) != ERROR_SUCCESS)
            return true;
        const QString ext = fromAnsi(name.constData(), qsizetype(size));
        if (ext.startsWith(QLatin1Char('.')) &&
            sameName(QueryRegBase(ext, HKEY_CLASSES_ROOT), progId))
            return true;
    }
    return false;
}

void cQueryReg::DesasociarExt(const QString& sExt_) {
    QString sExt = sExt_;
    if (!sExt.contains(QLatin1Char('.')))
        sExt.prepend(QLatin1Char('.'));
    QString progId = QueryRegBase(sExt, HKEY_CLASSES_ROOT);
    if (progId.isEmpty())
        return;
    HKEY root = HKEY_CLASSES_ROOT;
    DeleteKeyTree(root, sExt);
    // Other extensions may share the ProgID; their associations go with it.
    if (!progIdStillNamed(progId))
        DeleteKeyTree(root, progId);
}

} // namespace melofon::registry
