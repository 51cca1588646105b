// The bounded string functions of strsafe.h the system calls, written once for
// both character widths. Every function keeps the destination terminated
// whatever happens to it, except where the caller gave no usable destination.
#include <cstring>

#include <strsafe.h>

#include "WideFormat.h"

namespace quenta {
namespace {

constexpr size_t kMaxCch = STRSAFE_MAX_CCH;

// A destination that may be written. Of the Ex flags only the one the system
// passes is known; any other is refused, never ignored.
template <typename C>
bool destinationValid(const C* dest, size_t cchDest, DWORD flags) {
  return (flags & ~static_cast<DWORD>(STRSAFE_NULL_ON_FAILURE)) == 0 && cchDest != 0 && cchDest <= kMaxCch &&
         dest != nullptr;
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

// The end of an Ex call: on failure with STRSAFE_NULL_ON_FAILURE an empty
// destination; the end pointer and remaining count are reported on success
// and on truncation.
template <typename C>
HRESULT finishEx(HRESULT result, C* dest, size_t cchDest, size_t finalLength, DWORD flags, C** ppszDestEnd,
                 size_t* pcchRemaining) {
  if (FAILED(result) && (flags & STRSAFE_NULL_ON_FAILURE) != 0) {
    *dest = 0;
    finalLength = 0;
  }
  if (SUCCEEDED(result) || result == STRSAFE_E_INSUFFICIENT_BUFFER) {
    if (ppszDestEnd != nullptr) *ppszDestEnd = dest + finalLength;
    if (pcchRemaining != nullptr) *pcchRemaining = cchDest - finalLength;
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

// Copies at most maxCopy characters of src, always terminating.
template <typename C>
HRESULT copyEx(C* dest, size_t cchDest, const C* src, size_t maxCopy, C** ppszDestEnd, size_t* pcchRemaining,
               DWORD flags) {
  if (!destinationValid(dest, cchDest, flags) || maxCopy > kMaxCch || src == nullptr) return refuse(dest, cchDest);
  size_t copied = boundedLength(src, cchDest - 1 < maxCopy ? cchDest - 1 : maxCopy);
  std::memmove(dest, src, copied * sizeof(C));
  dest[copied] = 0;
  bool truncated = copied == cchDest - 1 && copied < maxCopy && src[copied] != 0;
  return finishEx(truncated ? STRSAFE_E_INSUFFICIENT_BUFFER : S_OK, dest, cchDest, copied, flags, ppszDestEnd,
                  pcchRemaining);
}

template <typename C>
HRESULT printfEx(C* dest, size_t cchDest, C** ppszDestEnd, size_t* pcchRemaining, DWORD flags, const C* format,
                 va_list args) {
  if (!destinationValid(dest, cchDest, flags) || format == nullptr) return refuse(dest, cchDest);
  size_t length = formatText(dest, cchDest, format, args);
  if (length < cchDest) return finishEx(S_OK, dest, cchDest, length, flags, ppszDestEnd, pcchRemaining);
  return finishEx(STRSAFE_E_INSUFFICIENT_BUFFER, dest, cchDest, cchDest - 1, flags, ppszDestEnd, pcchRemaining);
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
HRESULT StringCchPrintfExA(LPSTR pszDest, size_t cchDest, LPSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags,
                           LPCSTR pszFormat, ...) {
  va_list args;
  va_start(args, pszFormat);
  HRESULT result = printfEx(pszDest, cchDest, ppszDestEnd, pcchRemaining, dwFlags, pszFormat, args);
  va_end(args);
  return result;
}

}  // extern "C"
