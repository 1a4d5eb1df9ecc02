#pragma once

#include <cstdint>

namespace melofon::registry {

// The Win32 types of the registry functions, with the widths the class was written for:
// handles travel as 32-bit values, even on 64-bit Windows, where kernel handles are
// guaranteed to survive truncation to 32 bits and sign extension back.
using LONG = std::int32_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using BYTE = std::uint8_t;
using HKEY = std::uint32_t;
using REGSAM = DWORD;
using LPCSTR = const char*;
using LPSTR = char*;

struct FILETIME {
    DWORD dwLowDateTime = 0;
    DWORD dwHighDateTime = 0;
};

inline constexpr HKEY HKEY_CLASSES_ROOT = 0x80000000;
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;
inline constexpr HKEY HKEY_USERS = 0x80000003;
inline constexpr HKEY HKEY_PERFORMANCE_DATA = 0x80000004;
inline constexpr HKEY HKEY_CURRENT_CONFIG = 0x80000005;
inline constexpr HKEY HKEY_DYN_DATA = 0x80000006;

inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;

inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM DELETE_ACCESS = 0x00010000; // DELETE in the platform's headers
inline constexpr REGSAM KEY_READ = 0x00020019;
inline constexpr REGSAM KEY_WRITE = 0x00020006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0x000F003F;
inline constexpr REGSAM MAXIMUM_ALLOWED = 0x02000000;
inline constexpr REGSAM GENERIC_ALL = 0x10000000;
inline constexpr REGSAM GENERIC_EXECUTE = 0x20000000;
inline constexpr REGSAM GENERIC_WRITE = 0x40000000;
inline constexpr REGSAM GENERIC_READ = 0x80000000;

// The registry functions the class needs, with the platform's ANSI signatures. Sizes are
// byte counts, names are counted in characters where the platform says so; every
// function answers with a Win32 error code, 0 for success.
class RegistryApi {
public:
    virtual ~RegistryApi() = default;

    virtual LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                               HKEY* phkResult) = 0;
    virtual LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult) = 0;
    virtual LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                                  BYTE* lpData, DWORD* lpcbData) = 0;
    virtual LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData) = 0;
    virtual LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                const BYTE* lpData, DWORD cbData) = 0;
    virtual LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                              DWORD cbData) = 0;
    virtual LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) = 0;
    virtual LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) = 0;
    virtual LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName,
                               DWORD* lpReserved, LPSTR lpClass, DWORD* lpcchClass,
                               FILETIME* lpftLastWriteTime) = 0;
    virtual LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD* lpcchValueName,
                               DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) = 0;
    virtual LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                                  DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen,
                                  DWORD* lpcbMaxClassLen, DWORD* lpcValues,
                                  DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                                  DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) = 0;
    virtual LONG RegCloseKey(HKEY hKey) = 0;
    virtual UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) = 0;
    virtual UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) = 0;
};

// The registry of this process: the real one on Windows, elsewhere one emulation that
// lives as long as the process and starts empty.
RegistryApi& systemRegistry();

} // namespace melofon::registry
