// The real registry, through advapi32 and kernel32. Built on Windows only.
#include "registry/registry_api.h"

#include <cstdint>

// Declared here as the system's import libraries export them, so that no platform header
// is needed; handles are opaque pointers there.
extern "C" {
__declspec(dllimport) long __stdcall RegOpenKeyExA(void*, const char*, unsigned long, unsigned long,
                                                   void**);
__declspec(dllimport) long __stdcall RegCreateKeyA(void*, const char*, void**);
__declspec(dllimport) long __stdcall RegQueryValueExA(void*, const char*, unsigned long*,
                                                      unsigned long*, unsigned char*,
                                                      unsigned long*);
__declspec(dllimport) long __stdcall RegQueryValueA(void*, const char*, char*, long*);
__declspec(dllimport) long __stdcall RegSetValueExA(void*, const char*, unsigned long,
                                                    unsigned long, const unsigned char*,
                                                    unsigned long);
__declspec(dllimport) long __stdcall RegSetValueA(void*, const char*, unsigned long, const char*,
                                                  unsigned long);
__declspec(dllimport) long __stdcall RegDeleteValueA(void*, const char*);
__declspec(dllimport) long __stdcall RegDeleteKeyA(void*, const char*);
__declspec(dllimport) long __stdcall RegEnumKeyExA(void*, unsigned long, char*, unsigned long*,
                                                   unsigned long*, char*, unsigned long*, void*);
__declspec(dllimport) long __stdcall RegEnumValueA(void*, unsigned long, char*, unsigned long*,
                                                   unsigned long*, unsigned long*, unsigned char*,
                                                   unsigned long*);
__declspec(dllimport) long __stdcall RegQueryInfoKeyA(void*, char*, unsigned long*, unsigned long*,
                                                      unsigned long*, unsigned long*,
                                                      unsigned long*, unsigned long*,
                                                      unsigned long*, unsigned long*,
                                                      unsigned long*, void*);
__declspec(dllimport) long __stdcall RegCloseKey(void*);
__declspec(dllimport) unsigned int __stdcall GetWindowsDirectoryA(char*, unsigned int);
__declspec(dllimport) unsigned int __stdcall GetSystemDirectoryA(char*, unsigned int);
}

static_assert(sizeof(unsigned long) == sizeof(melofon::registry::DWORD));
static_assert(sizeof(long) == sizeof(melofon::registry::LONG));

namespace melofon::registry {

namespace {

// Sign extension turns 0x80000000 into the 64-bit form of the predefined roots, and
// gives back any kernel handle that was truncated to 32 bits.
void* native(HKEY h) {
    return reinterpret_cast<void*>(std::intptr_t(std::int32_t(h)));
}
HKEY fromNative(void* h) {
    return HKEY(std::uintptr_t(h));
}

unsigned long* ul(DWORD* p) {
    return reinterpret_cast<unsigned long*>(p);
}

// Hands the function's handle back in its 32-bit form.
LONG withHandle(HKEY* out, long rc, void* h) {
    if (out)
        *out = fromNative(h);
    return LONG(rc);
}

class WindowsRegistry final : public RegistryApi {
public:
    LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                       HKEY* phkResult) override {
        void* h = nullptr;
        const long rc = ::RegOpenKeyExA(native(hKey), lpSubKey, ulOptions, samDesired,
                                        phkResult ? &h : nullptr);
        return withHandle(phkResult, rc, h);
    }
    LONG RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, HKEY* phkResult) override {
        void* h = phkResult ? native(*phkResult) : nullptr;
        const long rc = ::RegCreateKeyA(native(hKey), lpSubKey, phkResult ? &h : nullptr);
        return withHandle(phkResult, rc, h);
    }
    LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, DWORD* lpReserved, DWORD* lpType,
                          BYTE* lpData, DWORD* lpcbData) override {
        return ::RegQueryValueExA(native(hKey), lpValueName, ul(lpReserved), ul(lpType), lpData,
                                  ul(lpcbData));
    }
    LONG RegQueryValueA(HKEY hKey, LPCSTR lpSubKey, LPSTR lpData, LONG* lpcbData) override {
        return ::RegQueryValueA(native(hKey), lpSubKey, lpData, reinterpret_cast<long*>(lpcbData));
    }
    LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                        const BYTE* lpData, DWORD cbData) override {
        return ::RegSetValueExA(native(hKey), lpValueName, Reserved, dwType, lpData, cbData);
    }
    LONG RegSetValueA(HKEY hKey, LPCSTR lpSubKey, DWORD dwType, LPCSTR lpData,
                      DWORD cbData) override {
        return ::RegSetValueA(native(hKey), lpSubKey, dwType, lpData, cbData);
    }
    LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) override {
        return ::RegDeleteValueA(native(hKey), lpValueName);
    }
    LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) override {
        return ::RegDeleteKeyA(native(hKey), lpSubKey);
    }
    LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD* lpcchName, DWORD* lpReserved,
                       LPSTR lpClass, DWORD* lpcchClass, FILETIME* lpftLastWriteTime) override {
        return ::RegEnumKeyExA(native(hKey), dwIndex, lpName, ul(lpcchName), ul(lpReserved),
                               lpClass, ul(lpcchClass), lpftLastWriteTime);
    }
    LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, DWORD* lpcchValueName,
                       DWORD* lpReserved, DWORD* lpType, BYTE* lpData, DWORD* lpcbData) override {
        return ::RegEnumValueA(native(hKey), dwIndex, lpValueName, ul(lpcchValueName),
                               ul(lpReserved), ul(lpType), lpData, ul(lpcbData));
    }
    LONG RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, DWORD* lpcchClass, DWORD* lpReserved,
                          DWORD* lpcSubKeys, DWORD* lpcbMaxSubKeyLen, DWORD* lpcbMaxClassLen,
                          DWORD* lpcValues, DWORD* lpcbMaxValueNameLen, DWORD* lpcbMaxValueLen,
                          DWORD* lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) override {
        return ::RegQueryInfoKeyA(native(hKey), lpClass, ul(lpcchClass), ul(lpReserved),
                                  ul(lpcSubKeys), ul(lpcbMaxSubKeyLen), ul(lpcbMaxClassLen),
                                  ul(lpcValues), ul(lpcbMaxValueNameLen), ul(lpcbMaxValueLen),
                                  ul(lpcbSecurityDescriptor), lpftLastWriteTime);
    }
    LONG RegCloseKey(HKEY hKey) override { return ::RegCloseKey(native(hKey)); }
    UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) override {
        return ::GetWindowsDirectoryA(lpBuffer, uSize);
    }
    UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) override {
        return ::GetSystemDirectoryA(lpBuffer, uSize);
    }
};

} // namespace

RegistryApi& systemRegistry() {
    static WindowsRegistry registry;
    return registry;
}

} // namespace melofon::registry
