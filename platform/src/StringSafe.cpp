// The bounded string functions of strsafe.h, written once for both character
// widths. Every function keeps the destination terminated whatever happens to
// it, except where the caller gave no usable destination.
#include <cstring>

#include <strsafe.h>

#include "WideFormat.h"

namespace quenta {
namespace {

constexpr size_t kMaxCch = STRSAFE_MAX_CCH;
constexpr DWORD kValidFlags = 0x000000FFu | STRSAFE_IGNORE_NULLS | STRSAFE_FILL_BEHIND_NULL |
                              STRSAFE_FILL_ON_FAILURE | STRSAFE_NULL_ON_FAILURE | STRSAFE_NO_TRUNCATION;

int fillByte(DWORD flags) { return static_cast<int>(flags & 0xFFu); }

// A destination that may be written: cchDest 0 only when nulls are ignored.
template <typename C>
bool destinationValid(const C* dest, size_t cchDest, DWORD flags) {
  if ((flags & ~kValidFlags) != 0 || cchDest > kMaxCch) return false;
  if (cchDest == 0) return (flags & STRSAFE_IGNORE_NULLS) != 0;
  return dest != nullptr;
}

// A refused call leaves an empty destination when there is one to write.
template <typename C>
HRESULT refuse(C* dest, size_t cchDest) {
  if (dest != nullptr && cchDest != 0) *dest = 0;
  return STRSAFE_E_INVALID_PARAMETER;
}

// The index of the first terminator among s[0..limit), or limit. The module
// copies its answers through these functions, so narrow texts are searched
// with memchr (which reads no further than the terminator it finds).
template <typename C>
size_t boundedLength(const C* s, size_t limit) {
  size_t length = 0;
  while (length < limit && s[length] != 0) ++length;
  return length;
}
template <>
size_t boundedLength<char>(const char* s, size_t limit) {
  const void* end = std::memchr(s, 0, limit);
  return end == nullptr ? limit : static_cast<size_t>(static_cast<const char*>(end) - s);
}

// Copies at most maxCopy characters of src into dest (room characters with the
// terminator, room > 0), always terminating. *copied is the count copied.
template <typename C>
HRESULT copyWorker(C* dest, size_t room, const C* src, size_t maxCopy, size_t* copied) {
  size_t i = boundedLength(src, room - 1 < maxCopy ? room - 1 : maxCopy);
  std::memmove(dest, src, i * sizeof(C));
  dest[i] = 0;
  *copied = i;
  bool truncated = i + 1 == room && i < maxCopy && src[i] != 0;
  return truncated ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK;
}

// The end of an Ex call: the fill and failure flags, then the end pointer and
// remaining count, which are reported only on success or truncation.
// `keptLength` is what NO_TRUNCATION restores (the old text of a cat).
template <typename C>
HRESULT finishEx(HRESULT result, C* dest, size_t cchDest, size_t keptLength, size_t finalLength, DWORD flags,
                 C** ppszDestEnd, size_t* pcchRemaining) {
  C* end = dest == nullptr ? nullptr : dest + finalLength;
  size_t remaining = cchDest - finalLength;
  if (SUCCEEDED(result)) {
    if ((flags & STRSAFE_FILL_BEHIND_NULL) != 0 && remaining > 1) {
      std::memset(end + 1, fillByte(flags), (remaining - 1) * sizeof(C));
    }
  } else if (dest != nullptr && cchDest != 0) {
    if ((flags & STRSAFE_FILL_ON_FAILURE) != 0) {
      std::memset(dest, fillByte(flags), cchDest * sizeof(C));
      if (fillByte(flags) == 0) {
        end = dest;
        remaining = cchDest;
      } else {
        end = dest + cchDest - 1;
        remaining = 1;
        *end = 0;
      }
    }
    if ((flags & STRSAFE_NULL_ON_FAILURE) != 0) {
      end = dest;
      remaining = cchDest;
      *dest = 0;
    } else if ((flags & STRSAFE_NO_TRUNCATION) != 0) {
      end = dest + keptLength;
      remaining = cchDest - keptLength;
      *end = 0;
    }
  }
  if (SUCCEEDED(result) || result == STRSAFE_E_INSUFFICIENT_BUFFER) {
    if (ppszDestEnd != nullptr) *ppszDestEnd = end;
    if (pcchRemaining != nullptr) *pcchRemaining = remaining;
  }
  return result;
}

template <typename C>
HRESULT lengthOf(const C* psz, size_t cchMax, size_t* pcchLength) {
  if (pcchLength != nullptr) *pcchLength = 0;
  if (psz == nullptr || cchMax == 0 || cchMax > kMaxCch) return STRSAFE_E_INVALID_PARAMETER;
  size_t length = boundedLength(psz, cchMax);
  // The terminator must lie within cchMax characters.
  if (length == cchMax) return STRSAFE_E_INVALID_PARAMETER;
  if (pcchLength != nullptr) *pcchLength = length;
  return S_OK;
}

template <typename C>
HRESULT copyEx(C* dest, size_t cchDest, const C* src, size_t maxCopy, C** ppszDestEnd, size_t* pcchRemaining,
               DWORD flags) {
  static const C kEmpty[1] = {0};
  if (!destinationValid(dest, cchDest, flags) || maxCopy > kMaxCch) return refuse(dest, cchDest);
  if (src == nullptr) {
    if ((flags & STRSAFE_IGNORE_NULLS) == 0) return refuse(dest, cchDest);
    src = kEmpty;
  }
  if (cchDest == 0) {
    HRESULT result = S_OK;
    if (maxCopy != 0 && *src != 0) result = dest == nullptr ? STRSAFE_E_INVALID_PARAMETER : STRSAFE_E_INSUFFICIENT_BUFFER;
    return finishEx(result, dest, 0, 0, 0, flags, ppszDestEnd, pcchRemaining);
  }
  size_t copied;
  HRESULT result = copyWorker(dest, cchDest, src, maxCopy, &copied);
  return finishEx(result, dest, cchDest, 0, copied, flags, ppszDestEnd, pcchRemaining);
}

template <typename C>
HRESULT cat(C* dest, size_t cchDest, const C* src) {
  // A destination without a terminator, or no source, is left as it is.
  if (dest == nullptr || cchDest == 0 || cchDest > kMaxCch || src == nullptr) return STRSAFE_E_INVALID_PARAMETER;
  size_t length = boundedLength(dest, cchDest);
  if (length == cchDest) return STRSAFE_E_INVALID_PARAMETER;
  size_t copied;
  HRESULT result = copyWorker(dest + length, cchDest - length, src, kMaxCch, &copied);
  return finishEx(result, dest, cchDest, length, length + copied, 0, static_cast<C**>(nullptr),
                  static_cast<size_t*>(nullptr));
}

template <typename C>
HRESULT printfEx(C* dest, size_t cchDest, C** ppszDestEnd, size_t* pcchRemaining, DWORD flags, const C* format,
                 va_list args) {
  static const C kEmpty[1] = {0};
  if (!destinationValid(dest, cchDest, flags)) return refuse(dest, cchDest);
  if (format == nullptr) {
    if ((flags & STRSAFE_IGNORE_NULLS) == 0) return refuse(dest, cchDest);
    format = kEmpty;
  }
  size_t length = formatText(dest, cchDest, format, args);
  if (cchDest == 0) {
    HRESULT result = S_OK;
    if (length != 0) result = dest == nullptr ? STRSAFE_E_INVALID_PARAMETER : STRSAFE_E_INSUFFICIENT_BUFFER;
    return finishEx(result, dest, 0, 0, 0, flags, ppszDestEnd, pcchRemaining);
  }
  if (length < cchDest) return finishEx(S_OK, dest, cchDest, 0, length, flags, ppszDestEnd, pcchRemaining);
  return finishEx(STRSAFE_E_INSUFFICIENT_BUFFER, dest, cchDest, 0, cchDest - 1, flags, ppszDestEnd, pcchRemaining);
}

}  // namespace
}  // namespace quenta

using quenta::copyEx;
using quenta::printfEx;

extern "C" {

HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength) {
  return quenta::lengthOf(psz, cchMax, pcchLength);
}
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength) {
  return quenta::lengthOf(psz, cchMax, pcchLength);
}

HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc) {
  return copyEx(pszDest, cchDest, pszSrc, quenta::kMaxCch, static_cast<LPSTR*>(nullptr), nullptr, 0);
}
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  return copyEx(pszDest, cchDest, pszSrc, quenta::kMaxCch, static_cast<LPWSTR*>(nullptr), nullptr, 0);
}
HRESULT StringCchCopyExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, LPSTR* ppszDestEnd, size_t* pcchRemaining,
                         DWORD dwFlags) {
  return copyEx(pszDest, cchDest, pszSrc, quenta::kMaxCch, ppszDestEnd, pcchRemaining, dwFlags);
}
HRESULT StringCchCopyExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, LPWSTR* ppszDestEnd,
                         size_t* pcchRemaining, DWORD dwFlags) {
  return copyEx(pszDest, cchDest, pszSrc, quenta::kMaxCch, ppszDestEnd, pcchRemaining, dwFlags);
}

HRESULT StringCchCopyNA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, size_t cchToCopy) {
  return copyEx(pszDest, cchDest, pszSrc, cchToCopy, static_cast<LPSTR*>(nullptr), nullptr, 0);
}
HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy) {
  return copyEx(pszDest, cchDest, pszSrc, cchToCopy, static_cast<LPWSTR*>(nullptr), nullptr, 0);
}
HRESULT StringCchCopyNExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, size_t cchToCopy, LPSTR* ppszDestEnd,
                          size_t* pcchRemaining, DWORD dwFlags) {
  return copyEx(pszDest, cchDest, pszSrc, cchToCopy, ppszDestEnd, pcchRemaining, dwFlags);
}
HRESULT StringCchCopyNExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy, LPWSTR* ppszDestEnd,
                          size_t* pcchRemaining, DWORD dwFlags) {
  return copyEx(pszDest, cchDest, pszSrc, cchToCopy, ppszDestEnd, pcchRemaining, dwFlags);
}

HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT result = printfEx(pszDest, cchDest, static_cast<LPSTR*>(nullptr), nullptr, 0, pszFormat, args);
  va_end(args);
  return result;
}
HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT result = printfEx(pszDest, cchDest, static_cast<LPWSTR*>(nullptr), nullptr, 0, pszFormat, args);
  va_end(args);
  return result;
}
HRESULT StringCchPrintfExA(LPSTR pszDest, size_t cchDest, LPSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags,
                           LPCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT result = printfEx(pszDest, cchDest, ppszDestEnd, pcchRemaining, dwFlags, pszFormat, args);
  va_end(args);
  return result;
}
HRESULT StringCchPrintfExW(LPWSTR pszDest, size_t cchDest, LPWSTR* ppszDestEnd, size_t* pcchRemaining,
                           DWORD dwFlags, LPCWSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT result = printfEx(pszDest, cchDest, ppszDestEnd, pcchRemaining, dwFlags, pszFormat, args);
  va_end(args);
  return result;
}
HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list argList) {
  return printfEx(pszDest, cchDest, static_cast<LPSTR*>(nullptr), nullptr, 0, pszFormat, argList);
}
HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList) {
  return printfEx(pszDest, cchDest, static_cast<LPWSTR*>(nullptr), nullptr, 0, pszFormat, argList);
}

HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc) { return quenta::cat(pszDest, cchDest, pszSrc); }
HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc) {
  return quenta::cat(pszDest, cchDest, pszSrc);
}

}  // extern "C"
