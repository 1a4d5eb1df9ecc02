#pragma once

#include "registry/registry_api.h"

#include <memory>
#include <mutex>

namespace melofon::registry {

// An in-process registry that answers the Win32 functions as Windows documents them, so
// that the class above it behaves the same here as there. It starts empty apart from
// HKEY_LOCAL_MACHINE\SOFTWARE\Classes, which HKEY_CLASSES_ROOT shows, as on Windows.
// Names and data are kept as the ANSI bytes they were given in; names match without
// regard to case and keep the case they were created with. Handles check the access
// they were opened with. Thread-safe; nothing is written to disk.
class EmulatedRegistry : public RegistryApi {
public:
    EmulatedRegistry();
    ~EmulatedRegistry() override;
    EmulatedRegistry(const EmulatedRegistry&) = delete;
    EmulatedRegistry& operator=(const EmulatedRegistry&) = delete;

    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                       HKEY* phkResult) override;
    LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult) override;
    LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                          BYTE* lpData, DWORD* lpcbData) override;
    LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData) override;
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                        const BYTE* lpData, DWORD cbData) override;
    LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                      DWORD cbData) override;
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override;
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override;
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                       LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override;
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD* lpcchValueName,
                       DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override;
    LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                          DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                          DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                          DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) override;
    LONG RegCloseKey(HKEY hKey) override;
    UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) override;
    UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) override;

private:
    struct State;
    std::mutex mutex_;
    std::unique_ptr<State> state_;
};

} // namespace melofon::registry
