// The Windows CE kernel services that the module calls, under their Win32 names,
// implemented on POSIX by the platform layer. Only what the module and its
// stand-in libraries use is declared; the values of constants are the Win32 ones.
//
// Wide texts are 16-bit (UTF-16) as on the device: WCHAR is char16_t here and
// wchar_t on the device, so the module writes its wide literals as TEXT("...")
// (the device builds with UNICODE defined, where TEXT gives L"...").
//
// Device paths ("\MMCMemory\www\wwwpub\404.htm") name files under the device
// root, the directory named by the environment variable QUENTA_ROOT; backslashes
// become directory separators. A path with a ".." component fails with
// ERROR_ACCESS_DENIED and touches nothing.
//
// Every function may be called from any thread, and during the static
// initialisation of other libraries (the module reads its error pages then).
#ifndef QUENTA_PLATFORM_WINDOWS_H_
#define QUENTA_PLATFORM_WINDOWS_H_

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK
#define WINAPIV

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int INT;
typedef unsigned int UINT;
typedef int32_t HRESULT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef char16_t TCHAR;
#define TEXT(quote) u##quote
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
typedef BYTE* LPBYTE;
typedef BOOL* LPBOOL;
typedef size_t SIZE_T;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LONG_PTR;
typedef void* HANDLE;
typedef HANDLE* LPHANDLE;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define MAX_PATH 260
#define INFINITE 0xFFFFFFFFu

// Win32 error codes (GetLastError).
#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_TOO_MANY_OPEN_FILES 4L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_DATA 13L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_DATA 13L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_WRITE_FAULT 29L
#define ERROR_READ_FAULT 30L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_HANDLE_EOF 38L
#define ERROR_HANDLE_DISK_FULL 39L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_DISK_FULL 112L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_INVALID_NAME 123L
#define ERROR_BAD_ARGUMENTS 160L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_FILENAME_EXCED_RANGE 206L
#define ERROR_NO_DATA 232L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_NOT_FOUND 1168L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_CANT_RESOLVE_FILENAME 1921L
#define ERROR_TIMEOUT 1460L
#define ERROR_GEN_FAILURE 31L

// HRESULTs.
#define S_OK static_cast<HRESULT>(0)
#define E_OUTOFMEMORY static_cast<HRESULT>(0x8007000Eu)
#define E_INVALIDARG static_cast<HRESULT>(0x80070057u)
#define E_FAIL static_cast<HRESULT>(0x80004005u)
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)
#define HRESULT_FROM_WIN32(x) \
  (static_cast<HRESULT>(x) <= 0 ? static_cast<HRESULT>(x) \
                                : static_cast<HRESULT>((static_cast<uint32_t>(x) & 0x0000FFFFu) | 0x80070000u))

extern "C" {

// ---- Errors and time -------------------------------------------------------

DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD dwErrCode);
// Milliseconds since an arbitrary start; wraps at 2^32 like the device's counter.
DWORD WINAPI GetTickCount(void);

typedef struct _SYSTEMTIME {
  WORD wYear;
  WORD wMonth;
  WORD wDayOfWeek;
  WORD wDay;
  WORD wHour;
  WORD wMinute;
  WORD wSecond;
  WORD wMilliseconds;
} SYSTEMTIME, *LPSYSTEMTIME;

// The device clock: the host's UTC clock plus an offset kept under the device
// root, so setting it never changes the host's clock; every process of the
// root sees a change at once, and it survives a restart. Local time follows
// the current time zone (GetTimeZoneInformation).
void WINAPI GetLocalTime(LPSYSTEMTIME lpSystemTime);
void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime);
// FALSE with ERROR_INVALID_PARAMETER for a date that does not exist (30
// February, month 13, hour 24, ...) or lies outside 1601 to 30827.
BOOL WINAPI SetLocalTime(const SYSTEMTIME* lpSystemTime);

// Biases in minutes: UTC = local time + Bias + StandardBias (or DaylightBias).
// The transition dates are in the day-of-week-in-month form (wYear 0, wMonth,
// wDayOfWeek 0 Sunday, wDay 1 to 5, 5 meaning the last, wHour, wMinute);
// DaylightDate is given in standard time, StandardDate in daylight time. A
// zone without daylight saving has wMonth 0 in both.
typedef struct _TIME_ZONE_INFORMATION {
  LONG Bias;
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
} TIME_ZONE_INFORMATION, *LPTIME_ZONE_INFORMATION;

#define TIME_ZONE_ID_UNKNOWN 0u
#define TIME_ZONE_ID_STANDARD 1u
#define TIME_ZONE_ID_DAYLIGHT 2u
#define TIME_ZONE_ID_INVALID 0xFFFFFFFFu

// The current zone and whether the device clock's present instant lies in its
// standard or daylight time (TIME_ZONE_ID_UNKNOWN: the zone has no daylight
// saving). TIME_ZONE_ID_INVALID, with the last error set and the structure
// untouched, when there is no usable current zone.
DWORD WINAPI GetTimeZoneInformation(LPTIME_ZONE_INFORMATION lpTimeZoneInformation);
// Makes current the zone of "Time Zones" whose "ID" value is dwID: its key
// name becomes the default value of "Time Zones", and the next
// GetTimeZoneInformation and GetLocalTime of every process follow it. FALSE
// with ERROR_NOT_FOUND when no zone has that ID, or with the registry's error.
BOOL WINAPI SetCurrentTimeZoneByID(DWORD dwID);

// Dates and times as text, by a picture string (lpFormat; null is not
// supported here and fails with ERROR_INVALID_PARAMETER). Date pictures: d dd
// (day), M MM (month), yy yyyy (year); time pictures: h hh (12-hour), H HH
// (24-hour), m mm, s ss, t tt (A/AM, P/PM). Text in single quotes is copied,
// '' is one quote; other characters are copied as they are. The result counts
// the terminator; cchDate/cchTime 0 asks for that size; a buffer too small
// gives 0 and ERROR_INSUFFICIENT_BUFFER. TIME_FORCE24HOURFORMAT makes h and hh
// 24-hour and drops the t markers. The locale is taken as English (US).
typedef DWORD LCID;
#define LOCALE_USER_DEFAULT 0x0400u
#define LOCALE_SYSTEM_DEFAULT 0x0800u
#define TIME_FORCE24HOURFORMAT 0x00000008u
int WINAPI GetDateFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpDate, LPCWSTR lpFormat,
                          LPWSTR lpDateStr, int cchDate);
int WINAPI GetTimeFormatW(LCID Locale, DWORD dwFlags, const SYSTEMTIME* lpTime, LPCWSTR lpFormat,
                          LPWSTR lpTimeStr, int cchTime);

// ---- Files -----------------------------------------------------------------

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh);
DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod);
BOOL WINAPI SetEndOfFile(HANDLE hFile);
BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
// Closes any handle of this layer: files, mappings, mutexes.
BOOL WINAPI CloseHandle(HANDLE hObject);

// ---- Code pages ------------------------------------------------------------

#define CP_ACP 0
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008u
#define WC_ERR_INVALID_CHARS 0x00000080u

// As on Win32: cchWideChar / cbMultiByte of -1 means "up to and including the
// terminator"; a destination size of 0 asks for the size needed. Failures return
// 0 and set ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_INVALID_FLAGS
// or ERROR_NO_UNICODE_TRANSLATION. Only CP_UTF8 (and CP_ACP, taken as UTF-8).
int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar);
int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar);

// ---- Debug output ----------------------------------------------------------

// One call is one line of the system debug output. The format is a wide printf
// format with the Win32 meaning of its conversions: %s takes a wide string, %S
// and %hs an 8-bit one, %c a wide character; %d %i %u %x %X %p %% and the
// l, ll and h size prefixes as usual. Lines reach stderr as UTF-8 unless a
// test has installed a sink (QuentaPlatform.h).
void WINAPIV NKDbgPrintfW(LPCWSTR lpszFmt, ...);

// ---- Critical sections -----------------------------------------------------

// Recursive for the owning thread, as on Win32. The storage is opaque.
typedef struct _CRITICAL_SECTION {
  alignas(16) unsigned char opaque[64];
} CRITICAL_SECTION, *LPCRITICAL_SECTION;

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);


// ---- Named shared memory and mutexes ---------------------------------------

#define PAGE_READONLY 0x02u
#define PAGE_READWRITE 0x04u
#define SEC_COMMIT 0x08000000u
#define FILE_MAP_WRITE 0x0002u
#define FILE_MAP_READ 0x0004u
#define FILE_MAP_ALL_ACCESS 0x000F001Fu

#define WAIT_OBJECT_0 0x00000000u
#define WAIT_ABANDONED 0x00000080u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu

// Named objects live in a namespace derived from the device root: two device
// roots never share an object, the same root always does. The first creator of
// a mapping gets it zero-filled; later openers get the same block and
// ERROR_ALREADY_EXISTS from GetLastError.
HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName);
LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress);
// Mutexes work between processes, are recursive for the owning thread, and
// report WAIT_ABANDONED to the next waiter when their owner died holding them.
HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName);
BOOL WINAPI ReleaseMutex(HANDLE hMutex);
DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);

}  // extern "C"

// Everything the module calls comes with <windows.h>: the registry, IP
// Helper's adapter list, the NDIS requests and the XXTEA cipher.
#include <winreg.h>
#include <iphlpapi.h>
#include <ntddndis.h>
#include <xxtea.h>

#endif  // QUENTA_PLATFORM_WINDOWS_H_
