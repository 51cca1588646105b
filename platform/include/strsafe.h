// The bounded string functions of the Win32 safe-string library, for 8-bit (A)
// and 16-bit (W) texts. Sizes are counts of characters including the
// terminator. Results are S_OK or one of the STRSAFE_E_* values; a failure with
// STRSAFE_NULL_ON_FAILURE leaves an empty string in the destination, and a
// truncation without it leaves the truncated, terminated text.
// The wide printf formats follow NKDbgPrintfW's conversions (windows.h).
#ifndef QUENTA_PLATFORM_STRSAFE_H_
#define QUENTA_PLATFORM_STRSAFE_H_

#include <cstdarg>

#include <windows.h>

#define STRSAFE_MAX_CCH 2147483647
#define STRSAFE_E_INSUFFICIENT_BUFFER static_cast<HRESULT>(0x8007007Au)
#define STRSAFE_E_INVALID_PARAMETER static_cast<HRESULT>(0x80070057u)
#define STRSAFE_E_END_OF_FILE static_cast<HRESULT>(0x80070026u)

#define STRSAFE_IGNORE_NULLS 0x00000100u
#define STRSAFE_FILL_BEHIND_NULL 0x00000200u
#define STRSAFE_FILL_ON_FAILURE 0x00000400u
#define STRSAFE_NULL_ON_FAILURE 0x00000800u
#define STRSAFE_NO_TRUNCATION 0x00001000u

extern "C" {

HRESULT StringCchLengthA(LPCSTR psz, size_t cchMax, size_t* pcchLength);
HRESULT StringCchLengthW(LPCWSTR psz, size_t cchMax, size_t* pcchLength);

HRESULT StringCchCopyA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
HRESULT StringCchCopyW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);
HRESULT StringCchCopyExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, LPSTR* ppszDestEnd,
                         size_t* pcchRemaining, DWORD dwFlags);
HRESULT StringCchCopyExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, LPWSTR* ppszDestEnd,
                         size_t* pcchRemaining, DWORD dwFlags);

HRESULT StringCchCopyNA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, size_t cchToCopy);
HRESULT StringCchCopyNW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy);
HRESULT StringCchCopyNExA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc, size_t cchToCopy,
                          LPSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags);
HRESULT StringCchCopyNExW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc, size_t cchToCopy,
                          LPWSTR* ppszDestEnd, size_t* pcchRemaining, DWORD dwFlags);

HRESULT StringCchPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, ...);
HRESULT StringCchPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, ...);
HRESULT StringCchPrintfExA(LPSTR pszDest, size_t cchDest, LPSTR* ppszDestEnd, size_t* pcchRemaining,
                           DWORD dwFlags, LPCSTR pszFormat, ...);
HRESULT StringCchPrintfExW(LPWSTR pszDest, size_t cchDest, LPWSTR* ppszDestEnd, size_t* pcchRemaining,
                           DWORD dwFlags, LPCWSTR pszFormat, ...);
HRESULT StringCchVPrintfA(LPSTR pszDest, size_t cchDest, LPCSTR pszFormat, va_list argList);
HRESULT StringCchVPrintfW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszFormat, va_list argList);

HRESULT StringCchCatA(LPSTR pszDest, size_t cchDest, LPCSTR pszSrc);
HRESULT StringCchCatW(LPWSTR pszDest, size_t cchDest, LPCWSTR pszSrc);

}  // extern "C"

#endif  // QUENTA_PLATFORM_STRSAFE_H_
