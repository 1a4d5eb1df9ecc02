#include "registry/emulated_registry.h"

#include "registry/ansi_code_page.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace melofon::registry {

namespace {

constexpr std::size_t kMaxKeyNameLength = 255;
constexpr std::size_t kMaxValueNameLength = 16383;
constexpr HKEY kFirstHandle = 0x100;

std::string bytesOf(LPCSTR text) {
    return text ? std::string(text) : std::string();
}

struct Value {
    std::string name;
    std::u16string upper;
    DWORD type = REG_NONE;
    std::string data;
};

struct Key {
    std::string name;
    std::u16string upper;
    Key* parent = nullptr;
    std::vector<std::shared_ptr<Key>> subkeys; // sorted by `upper`, the order they enumerate in
    std::vector<Value> values;                 // in creation order
    bool deleted = false;
    bool pinned = false; // backs a predefined root: cannot be deleted

    std::vector<std::shared_ptr<Key>>::iterator lowerBound(const std::u16string& upperName) {
        return std::lower_bound(
            subkeys.begin(), subkeys.end(), upperName,
            [](const std::shared_ptr<Key>& k, const std::u16string& n) { return k->upper < n; });
    }

    std::shared_ptr<Key> child(const std::string& childName) {
        const std::u16string u = upperAnsi(childName);
        auto it = lowerBound(u);
        return it != subkeys.end() && (*it)->upper == u ? *it : nullptr;
    }

    std::shared_ptr<Key> addChild(const std::string& childName) {
        auto k = std::make_shared<Key>();
        k->name = childName;
        k->upper = upperAnsi(childName);
        k->parent = this;
        subkeys.insert(lowerBound(k->upper), k);
        return k;
    }

    void detach() {
        if (parent) {
            auto it = parent->lowerBound(upper);
            parent->subkeys.erase(it);
        }
        parent = nullptr;
        deleted = true;
    }

    Value* value(LPCSTR valueName) {
        const std::u16string u = upperAnsi(bytesOf(valueName));
        for (Value& v : values) {
            if (v.upper == u)
                return &v;
        }
        return nullptr;
    }

    // Overwriting keeps the name's case and the value's position.
    void setValue(LPCSTR valueName, DWORD type, std::string data) {
        if (Value* v = value(valueName)) {
            v->type = type;
            v->data = std::move(data);
            return;
        }
        std::string n = bytesOf(valueName);
        std::u16string u = upperAnsi(n);
        values.push_back({std::move(n), std::move(u), type, std::move(data)});
    }
};

// Components of a relative path; a single trailing backslash is allowed, an empty
// component anywhere else makes the path invalid.
std::optional<std::vector<std::string>> splitPath(LPCSTR path) {
    std::string p = bytesOf(path);
    if (!p.empty() && p.back() == '\\')
        p.pop_back();
    std::vector<std::string> parts;
    if (p.empty())
        return parts;
    for (std::size_t begin = 0;;) {
        const std::size_t end = std::min(p.find('\\', begin), p.size());
        if (end == begin)
            return std::nullopt;
        parts.push_back(p.substr(begin, end - begin));
        if (end == p.size())
            return parts;
        begin = end + 1;
    }
}

REGSAM grantedAccess(REGSAM wanted) {
    REGSAM granted = wanted & (KEY_ALL_ACCESS | KEY_NOTIFY | KEY_CREATE_LINK);
    if (wanted & (GENERIC_READ | GENERIC_EXECUTE))
        granted |= KEY_READ;
    if (wanted & GENERIC_WRITE)
        granted |= KEY_WRITE;
    if (wanted & (GENERIC_ALL | MAXIMUM_ALLOWED))
        granted |= KEY_ALL_ACCESS;
    return granted;
}

bool isPredefined(HKEY h) {
    return h >= HKEY_CLASSES_ROOT && h <= HKEY_DYN_DATA;
}

// Copies `text` and its zero into a buffer of `size` characters; answers as the two
// directory functions do.
UINT copyDirectory(const char* text, LPSTR buffer, UINT size) {
    const UINT length = UINT(std::strlen(text));
    if (!buffer || size <= length)
        return length + 1;
    std::memcpy(buffer, text, length + 1);
    return length;
}

} // namespace

struct EmulatedRegistry::State {
    struct Handle {
        std::shared_ptr<Key> key;
        REGSAM access = 0;
    };

    std::shared_ptr<Key> currentUser = std::make_shared<Key>();
    std::shared_ptr<Key> localMachine = std::make_shared<Key>();
    std::shared_ptr<Key> users = std::make_shared<Key>();
    std::shared_ptr<Key> currentConfig = std::make_shared<Key>();
    std::shared_ptr<Key> classes;
    std::map<HKEY, Handle> handles;
    HKEY nextHandle = kFirstHandle;

    State() {
        auto software = localMachine->addChild("SOFTWARE");
        classes = software->addChild("Classes");
        software->pinned = true;
        classes->pinned = true;
    }

    std::shared_ptr<Key> rootKey(HKEY h) const {
        switch (h) {
        case HKEY_CLASSES_ROOT:
            return classes;
        case HKEY_CURRENT_USER:
            return currentUser;
        case HKEY_LOCAL_MACHINE:
            return localMachine;
        case HKEY_USERS:
            return users;
        case HKEY_CURRENT_CONFIG:
            return currentConfig;
        default:
            return nullptr;
        }
    }

    // The key behind a handle, checked for the access an operation needs.
    LONG use(HKEY h, REGSAM needed, std::shared_ptr<Key>& key, bool& root) const {
        root = false;
        if (auto r = rootKey(h)) {
            key = r;
            root = true;
            return ERROR_SUCCESS;
        }
        auto it = handles.find(h);
        if (it == handles.end())
            return ERROR_INVALID_HANDLE;
        if (it->second.key->deleted)
            return ERROR_KEY_DELETED;
        if ((it->second.access & needed) != needed)
            return ERROR_ACCESS_DENIED;
        key = it->second.key;
        return ERROR_SUCCESS;
    }

    LONG use(HKEY h, REGSAM needed, std::shared_ptr<Key>& key) const {
        bool root = false;
        return use(h, needed, key, root);
    }

    static std::shared_ptr<Key> walk(std::shared_ptr<Key> key,
                                     const std::vector<std::string>& parts) {
        for (const std::string& part : parts) {
            key = key->child(part);
            if (!key)
                return nullptr;
        }
        return key;
    }

    HKEY newHandle(std::shared_ptr<Key> key, REGSAM access) {
        HKEY h = 0;
        do {
            h = nextHandle;
            // Handles are not reused until the 32-bit space below the roots runs out, so a
            // closed handle stays invalid.
            nextHandle = nextHandle + 4 >= HKEY_CLASSES_ROOT ? kFirstHandle : nextHandle + 4;
        } while (handles.count(h));
        handles[h] = {std::move(key), access};
        return h;
    }

    // RegCreateKeyA's work without its handle: every missing level is made.
    LONG create(HKEY h, LPCSTR subKey, std::shared_ptr<Key>& out, bool& root) {
        std::shared_ptr<Key> key;
        if (LONG rc = use(h, 0, key, root))
            return rc;
        const auto parts = splitPath(subKey);
        if (!parts)
            return ERROR_INVALID_PARAMETER;
        for (const std::string& part : *parts) {
            if (part.size() > kMaxKeyNameLength)
                return ERROR_INVALID_PARAMETER;
        }
        if (!walk(key, *parts)) {
            std::shared_ptr<Key> dummy;
            if (use(h, KEY_CREATE_SUB_KEY, dummy) != ERROR_SUCCESS)
                return ERROR_ACCESS_DENIED;
        }
        for (const std::string& part : *parts) {
            auto next = key->child(part);
            key = next ? next : key->addChild(part);
        }
        root = root && parts->empty();
        out = key;
        return ERROR_SUCCESS;
    }
};

EmulatedRegistry::EmulatedRegistry() : state_(std::make_unique<State>()) {}
EmulatedRegistry::~EmulatedRegistry() = default;

LONG EmulatedRegistry::RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired,
                                     HKEY* phkResult) {
    std::lock_guard lock(mutex_);
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = 0;
    std::shared_ptr<Key> key;
    bool root = false;
    if (LONG rc = state_->use(hKey, 0, key, root))
        return rc;
    const auto parts = splitPath(lpSubKey);
    if (!parts)
        return ERROR_FILE_NOT_FOUND;
    // A root opened with no subkey answers with the root itself.
    if (root && parts->empty()) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    key = State::walk(key, *parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = state_->newHandle(key, grantedAccess(samDesired));
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult) {
    std::lock_guard lock(mutex_);
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> key;
    bool root = false;
    if (LONG rc = state_->create(hKey, lpSubKey, key, root))
        return rc;
    *phkResult = root ? hKey : state_->newHandle(key, KEY_ALL_ACCESS);
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD*, DWORD* lpType,
                                        BYTE* lpData, DWORD* lpcbData) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_QUERY_VALUE, key))
        return rc;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    const Value* v = key->value(lpValueName);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = v->type;
    const DWORD size = DWORD(v->data.size());
    if (lpData) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, v->data.data(), size);
    }
    if (lpcbData)
        *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData) {
    std::lock_guard lock(mutex_);
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> key;
    const auto parts = splitPath(lpSubKey);
    if (LONG rc = state_->use(hKey, parts && parts->empty() ? KEY_QUERY_VALUE : 0, key))
        return rc;
    if (!parts || !(key = State::walk(key, *parts)))
        return ERROR_FILE_NOT_FOUND;
    // A key without an unnamed value reads as an empty text.
    const Value* v = key->value(nullptr);
    const std::string data = v ? v->data : std::string(1, '\0');
    const LONG size = LONG(data.size());
    if (lpData) {
        if (*lpcbData < size) {
            *lpcbData = size;
            return ERROR_MORE_DATA;
        }
        std::memcpy(lpData, data.data(), size_t(size));
    }
    if (lpcbData)
        *lpcbData = size;
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                      const BYTE* lpData, DWORD cbData) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_SET_VALUE, key))
        return rc;
    if ((!lpData && cbData > 0) || bytesOf(lpValueName).size() > kMaxValueNameLength)
        return ERROR_INVALID_PARAMETER;
    std::string data =
        lpData ? std::string(reinterpret_cast<const char*>(lpData), cbData) : std::string();
    // A text whose size leaves out its zero is stored with it when the zero follows.
    if (dwType == REG_SZ && cbData > 0 && lpData[cbData - 1] != 0 && lpData[cbData] == 0)
        data += '\0';
    key->setValue(lpValueName, dwType, std::move(data));
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                                    DWORD) {
    std::lock_guard lock(mutex_);
    if (dwType != REG_SZ || !lpData)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Key> key;
    bool root = false;
    const auto parts = splitPath(lpSubKey);
    if (parts && parts->empty()) {
        if (LONG rc = state_->use(hKey, KEY_SET_VALUE, key))
            return rc;
    } else if (LONG rc = state_->create(hKey, lpSubKey, key, root)) {
        return rc;
    }
    // The size given is ignored: the text is stored whole with its zero.
    key->setValue(nullptr, REG_SZ, std::string(lpData, std::strlen(lpData) + 1));
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_SET_VALUE, key))
        return rc;
    const Value* v = key->value(lpValueName);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    key->values.erase(key->values.begin() + (v - key->values.data()));
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    std::lock_guard lock(mutex_);
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    const auto parts = splitPath(lpSubKey);
    std::shared_ptr<Key> key;
    bool root = false;
    if (LONG rc = state_->use(hKey, parts && parts->empty() ? DELETE_ACCESS : 0, key, root))
        return rc;
    if (!parts)
        return ERROR_FILE_NOT_FOUND;
    if (parts->empty() && root)
        return ERROR_ACCESS_DENIED;
    key = State::walk(key, *parts);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    if (key->pinned || !key->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    key->detach();
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName,
                                     DWORD*, LPSTR lpClass, DWORD* lpcchClass,
                                     FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_ENUMERATE_SUB_KEYS, key))
        return rc;
    if (!lpName || !lpcchName || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    if (dwIndex >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const std::string& name = key->subkeys[dwIndex]->name;
    // The buffer must hold the name and its zero; sizes count characters.
    if (*lpcchName <= DWORD(name.size()))
        return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = DWORD(name.size());
    if (lpClass && *lpcchClass > 0)
        lpClass[0] = '\0';
    if (lpcchClass)
        *lpcchClass = 0;
    if (lpftLastWriteTime)
        *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                     DWORD* lpcchValueName, DWORD*, DWORD* lpType, BYTE* lpData,
                                     DWORD* lpcbData) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_QUERY_VALUE, key))
        return rc;
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (dwIndex >= key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const Value& v = key->values[dwIndex];
    LONG rc = ERROR_SUCCESS;
    if (lpType)
        *lpType = v.type;
    if (*lpcchValueName <= DWORD(v.name.size())) {
        rc = ERROR_MORE_DATA;
    } else {
        std::memcpy(lpValueName, v.name.c_str(), v.name.size() + 1);
        *lpcchValueName = DWORD(v.name.size());
    }
    const DWORD size = DWORD(v.data.size());
    if (lpData) {
        if (*lpcbData < size)
            rc = ERROR_MORE_DATA;
        else
            std::memcpy(lpData, v.data.data(), size);
    }
    if (lpcbData)
        *lpcbData = size;
    return rc;
}

LONG EmulatedRegistry::RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD*,
                                        DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen,
                                        DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                                        DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                                        DWORD* lpcbSecurityDescriptor,
                                        FILETIME* lpftLastWriteTime) {
    std::lock_guard lock(mutex_);
    std::shared_ptr<Key> key;
    if (LONG rc = state_->use(hKey, KEY_QUERY_VALUE, key))
        return rc;
    if (lpClass && !lpcchClass)
        return ERROR_INVALID_PARAMETER;
    if (lpClass && *lpcchClass > 0)
        lpClass[0] = '\0';
    if (lpcchClass)
        *lpcchClass = 0;
    DWORD maxSubKey = 0, maxValueName = 0, maxValue = 0;
    for (const auto& k : key->subkeys)
        maxSubKey = std::max(maxSubKey, DWORD(k->name.size()));
    for (const Value& v : key->values) {
        maxValueName = std::max(maxValueName, DWORD(v.name.size()));
        maxValue = std::max(maxValue, DWORD(v.data.size()));
    }
    const auto put = [](DWORD* out, DWORD value) {
        if (out)
            *out = value;
    };
    put(lpcSubKeys, DWORD(key->subkeys.size()));
    put(lpcbMaxSubKeyLen, maxSubKey);
    put(lpcbMaxClassLen, 0);
    put(lpcValues, DWORD(key->values.size()));
    put(lpcbMaxValueNameLen, maxValueName);
    put(lpcbMaxValueLen, maxValue);
    put(lpcbSecurityDescriptor, 0);
    if (lpftLastWriteTime)
        *lpftLastWriteTime = FILETIME{};
    return ERROR_SUCCESS;
}

LONG EmulatedRegistry::RegCloseKey(HKEY hKey) {
    std::lock_guard lock(mutex_);
    if (isPredefined(hKey))
        return ERROR_SUCCESS;
    // A handle whose key was deleted still closes.
    return state_->handles.erase(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

UINT EmulatedRegistry::GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyDirectory("C:\\WINDOWS", lpBuffer, uSize);
}

UINT EmulatedRegistry::GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return copyDirectory("C:\\WINDOWS\\system32", lpBuffer, uSize);
}

} // namespace melofon::registry
