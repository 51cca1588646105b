// The registry under HKEY_LOCAL_MACHINE, as Win32 defines it: key paths and
// value names compared without regard to letter case, values kept with their
// type and exact bytes, the default value under the empty name.
//
// The store is one text file in the .reg export format under the device root
// (see docs/device-root.md). Every call reads the store as it is on disk at
// that moment (a change made by another process is seen by the next call);
// every change replaces the file at once, under a lock shared by all
// processes, so a reader never sees half of a write. Keys are opened by path:
// an open key is a handle to that path, not to a snapshot.
//
// The functions return their Win32 error code and, when they fail, also set
// it as the last error (the module's diagnostics print GetLastError()).
#ifndef QUENTA_PLATFORM_WINREG_H_
#define QUENTA_PLATFORM_WINREG_H_

#include <windows.h>

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef struct _FILETIME FILETIME, *PFILETIME;

#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<LONG>(0x80000002u))))

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define REG_OPTION_NON_VOLATILE 0u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

extern "C" {

// Access masks and options are accepted and not enforced.
LONG WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
// Creates the key and any missing keys above it.
LONG WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass, DWORD dwOptions,
                            REGSAM samDesired, LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                            LPDWORD lpdwDisposition);
// ERROR_MORE_DATA with *lpcbData set to the size needed when the buffer is
// short (the buffer is then left as it was).
LONG WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                             LPDWORD lpcbData);
LONG WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE* lpData,
                           DWORD cbData);
// Subkeys in the order of their names, values in the order they were made.
// No last-write time is kept: lpftLastWriteTime is left as it is.
LONG WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                          LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                          LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG WINAPI RegCloseKey(HKEY hKey);

}  // extern "C"

#endif  // QUENTA_PLATFORM_WINREG_H_
