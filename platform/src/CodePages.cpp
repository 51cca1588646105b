// UTF-8 <-> UTF-16 conversion: the Win32 code-page functions for CP_UTF8 (and
// CP_ACP, which is UTF-8 on this system) and the host's widen / narrow.
#include <cstring>
#include <climits>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"

namespace quenta {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Code-page flags that Win32 accepts for the ANSI code page and that change
// nothing when that code page is UTF-8.
constexpr DWORD kMbPrecomposed = 0x00000001u;
constexpr DWORD kWcAnsiFlags = 0x00000010u | 0x00000020u | 0x00000040u | 0x00000200u | 0x00000400u;

size_t lengthOf(const char16_t* text) {
  size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

}  // namespace

size_t decodeUtf8(const unsigned char* text, size_t length, char32_t* codePoint, bool* valid) {
  unsigned char lead = text[0];
  *valid = true;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  *codePoint = kReplacement;
  if (lead < 0xC2 || lead > 0xF4) {
    *valid = false;
    return 1;
  }
  size_t trailing = lead < 0xE0 ? 1 : (lead < 0xF0 ? 2 : 3);
  char32_t value = lead & (0x3Fu >> trailing);
  // The second byte's range excludes overlong forms, surrogates and values
  // beyond U+10FFFF; an ill-formed sequence ends before the first bad byte
  // (its "maximal subpart", replaced by one U+FFFD).
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  if (lead == 0xE0) lower = 0xA0;
  if (lead == 0xED) upper = 0x9F;
  if (lead == 0xF0) lower = 0x90;
  if (lead == 0xF4) upper = 0x8F;
  for (size_t i = 1; i <= trailing; ++i) {
    if (i >= length || text[i] < lower || text[i] > upper) {
      *valid = false;
      return i;
    }
    value = (value << 6) | (text[i] & 0x3Fu);
    lower = 0x80;
    upper = 0xBF;
  }
  *codePoint = value;
  return trailing + 1;
}

size_t decodeUtf16(const char16_t* text, size_t length, char32_t* codePoint, bool* valid) {
  char16_t unit = text[0];
  *valid = true;
  if (unit < 0xD800 || unit > 0xDFFF) {
    *codePoint = unit;
    return 1;
  }
  if (unit <= 0xDBFF && length > 1 && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
    *codePoint = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (text[1] - 0xDC00);
    return 2;
  }
  *valid = false;
  *codePoint = kReplacement;
  return 1;
}

size_t encodeUtf8(char32_t codePoint, char* out) {
  if (codePoint < 0x80) {
    out[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

size_t encodeUtf16(char32_t codePoint, char16_t* out) {
  if (codePoint < 0x10000) {
    out[0] = static_cast<char16_t>(codePoint);
    return 1;
  }
  codePoint -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  return 2;
}

std::u16string widen(const std::string& utf8) {
  std::u16string result;
  result.reserve(utf8.size());
  const unsigned char* text = reinterpret_cast<const unsigned char*>(utf8.data());
  size_t position = 0;
  while (position < utf8.size()) {
    char32_t codePoint;
    bool valid;
    position += decodeUtf8(text + position, utf8.size() - position, &codePoint, &valid);
    char16_t units[2];
    result.append(units, encodeUtf16(codePoint, units));
  }
  return result;
}

std::string narrow(const std::u16string& utf16) {
  std::string result;
  result.reserve(utf16.size());
  size_t position = 0;
  while (position < utf16.size()) {
    char32_t codePoint;
    bool valid;
    position += decodeUtf16(utf16.data() + position, utf16.size() - position, &codePoint, &valid);
    char bytes[4];
    result.append(bytes, encodeUtf8(codePoint, bytes));
  }
  return result;
}

}  // namespace quenta

extern "C" {

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
      (lpWideCharStr == nullptr && cchWideChar != 0) ||
      (cchWideChar != 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) ||
      (CodePage != CP_UTF8 && CodePage != CP_ACP)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  DWORD allowedFlags = CodePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : MB_ERR_INVALID_CHARS | quenta::kMbPrecomposed;
  if ((dwFlags & ~allowedFlags) != 0) {
    SetLastError(ERROR_INVALID_FLAGS);
    return 0;
  }
  bool strict = (dwFlags & MB_ERR_INVALID_CHARS) != 0;
  size_t length = cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
  const unsigned char* text = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  // Every byte gives at most one UTF-16 unit, so the count fits an int.
  size_t produced = 0;
  size_t position = 0;
  while (position < length) {
    char32_t codePoint;
    bool valid;
    position += quenta::decodeUtf8(text + position, length - position, &codePoint, &valid);
    if (!valid && strict) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    char16_t units[2];
    size_t count = quenta::encodeUtf16(codePoint, units);
    if (cchWideChar != 0) {
      if (produced + count > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      for (size_t i = 0; i < count; ++i) lpWideCharStr[produced + i] = units[i];
    }
    produced += count;
  }
  return static_cast<int>(produced);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
  if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
      (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
      (cbMultiByte != 0 && static_cast<const void*>(lpMultiByteStr) == static_cast<const void*>(lpWideCharStr)) ||
      (CodePage != CP_UTF8 && CodePage != CP_ACP)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (CodePage == CP_UTF8) {
    if ((dwFlags & ~WC_ERR_INVALID_CHARS) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    // UTF-8 can encode everything, so Win32 refuses a default character for it.
    if (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
  } else {
    if ((dwFlags & ~quenta::kWcAnsiFlags) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (lpUsedDefaultChar != nullptr) *lpUsedDefaultChar = FALSE;
  }
  bool strict = (dwFlags & WC_ERR_INVALID_CHARS) != 0;
  size_t length = cchWideChar == -1 ? quenta::lengthOf(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
  size_t produced = 0;
  size_t position = 0;
  while (position < length) {
    char32_t codePoint;
    bool valid;
    position += quenta::decodeUtf16(lpWideCharStr + position, length - position, &codePoint, &valid);
    if (!valid && strict) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    char bytes[4];
    size_t count = quenta::encodeUtf8(codePoint, bytes);
    if (cbMultiByte != 0) {
      if (produced + count > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
      }
      std::memcpy(lpMultiByteStr + produced, bytes, count);
    }
    produced += count;
    if (produced > static_cast<size_t>(INT_MAX)) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
  }
  return static_cast<int>(produced);
}

}  // extern "C"
