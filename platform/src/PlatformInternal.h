// Helpers shared by the platform layer's own sources: device path mapping with
// its Win32 error, errno translation, and the UTF-8 / UTF-16 coders behind the
// code-page functions. None of these allocate unless they return a std::string.
#ifndef QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_
#define QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

namespace quenta {

// The Win32 error that stands for an errno value in general. Callers that know
// better (a missing file versus a missing directory, an existing file versus an
// existing directory) decide those cases themselves.
DWORD win32ErrorFromErrno(int error);

// Maps a device path to a host path under the device root. Returns
// ERROR_SUCCESS, ERROR_INVALID_PARAMETER (null path), ERROR_PATH_NOT_FOUND (no
// root set), ERROR_ACCESS_DENIED (a ".." component) or ERROR_INVALID_NAME (a
// character no device file name may hold). May throw std::bad_alloc.
DWORD mapDevicePath(LPCWSTR devicePath, std::string* hostPath);

// Device names that CreateFileW opens as devices rather than files ("NDS0:").
// True when the name is one: *handle is then the device's handle, or
// INVALID_HANDLE_VALUE with the last error set.
bool openDeviceFile(LPCWSTR name, HANDLE* handle);

// One step of UTF-8 decoding. Reads the sequence at text[0..length) and stores
// the code point; returns the number of bytes consumed (at least 1). An
// ill-formed sequence consumes its maximal subpart, stores U+FFFD and sets
// *valid to false.
size_t decodeUtf8(const unsigned char* text, size_t length, char32_t* codePoint, bool* valid);

// One step of UTF-16 decoding; a lone surrogate gives U+FFFD and *valid false.
size_t decodeUtf16(const char16_t* text, size_t length, char32_t* codePoint, bool* valid);

// Encodes one code point; returns the number of units written (1-4 bytes,
// 1-2 char16_t). The output arrays must have room for 4 / 2 units.
size_t encodeUtf8(char32_t codePoint, char* out);
size_t encodeUtf16(char32_t codePoint, char16_t* out);

// ---- The device clock (Clock.cpp) and its time zone (TimeZones.cpp) ----
// Instants are milliseconds since 1970-01-01 00:00, UTC or local.

const int64_t kMsPerDay = 86400000;
const int64_t kMsPerMinute = 60000;

int64_t daysFromCivil(int64_t year, unsigned month, unsigned day);
void civilFromDays(int64_t days, int64_t* year, unsigned* month, unsigned* day);
unsigned dayOfWeek(int64_t days);  // 0 Sunday
unsigned daysInMonth(int64_t year, unsigned month);
bool isValidSystemTime(const SYSTEMTIME& time);
int64_t systemTimeToMs(const SYSTEMTIME& time);
void msToSystemTime(int64_t ms, SYSTEMTIME* time);

// The device's UTC now; setting it writes the offset under the device root
// (false with the last error set when that cannot be written).
int64_t deviceUtcMs();
bool setDeviceUtcMs(int64_t utcMs);

// UTC - local, in milliseconds, by the current zone's rule: at a UTC instant,
// and for a local time (a local time that a change of the clocks skips or
// repeats is taken as standard time). 0 when there is no usable current zone.
int64_t localBiasMs(int64_t utcMs);
int64_t biasForLocalMs(int64_t localMs);

// The zone's state at a UTC instant (TIME_ZONE_ID_UNKNOWN, _STANDARD or
// _DAYLIGHT) and its whole bias then, in minutes.
DWORD zoneStateAt(const TIME_ZONE_INFORMATION& zone, int64_t utcMs, LONG* bias);
// False for transition dates that name no day (month 13, sixth week, ...).
bool isUsableZone(const TIME_ZONE_INFORMATION& zone);
// The current zone of the device root and its key name (may be null). False,
// with the last error set, when there is none or it cannot be read.
bool loadCurrentZone(TIME_ZONE_INFORMATION* zone, std::u16string* keyName);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_
