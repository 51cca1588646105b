// Helpers shared by the platform layer's own sources: device path mapping with
// its Win32 error, errno translation, and the UTF-8 / UTF-16 coders behind the
// code-page functions. None of these allocate unless they return a std::string.
#ifndef QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_
#define QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_

#include <cstddef>
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

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_PLATFORMINTERNAL_H_
