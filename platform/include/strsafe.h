// The bounded string functions of the Win32 safe-string library that the
// system calls, for 8-bit (A) and 16-bit (W) texts. Sizes are counts of
// characters including the terminator. Results are S_OK or one of the
// STRSAFE_E_* values; a failure with STRSAFE_NULL_ON_FAILURE (the one Ex flag
// the system passes; others are refused) leaves an empty string in the
// destination, and a truncation without it leaves the truncated, terminated
// text. A size of 0 is refused.
#ifndef QUENTA_PLATFORM_STRSAFE_H_
#define QUENTA_PLATFORM_STRSAFE_H_

#include <windows.h>

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER static_cast<HRESULT>(0x8007007Au)
#define STRSAFE_E_INVALID_PARAMETER static_cast<HRESULT>(0x80070057u)
#define STRSAFE_E_END_OF_FILE static_cast<HRESULT>(0x80070026u)

#define STRSAFE_NULL_ON_FAILURE 0x00000800u

extern "C" {

HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength);
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength);

HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCopyExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, LPSTR* ppszDestEnd,
                         size_t* pcchRemaining, DWORD dwFlags);
HRESULT StringCchCopyExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, LPWSTR* ppszDestEnd,
                         size_t* pcchRemaining, DWORD dwFlags);

HRESULT StringCchCopyNExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, size_t cchToCopy,
                          LPSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags);
HRESULT StringCchCopyNExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy,
                          LPWSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags);

HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...);
HRESULT StringCchPrintfExA(LPSTR pszDest, size_t cchDest, LPSTR* ppszDestEnd, size_t* pcchRemaining,
                           DWORD dwFlags, LPCSTR pszFormat, ...);

}  // extern "C"

#endif  // QUENTA_PLATFORM_STRSAFE_H_
