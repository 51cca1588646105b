// XXTEA ("corrected block TEA", Wheeler and Needham, 1998), the block cipher
// the machine's processes share for the secrets they keep in the settings
// database. Blocks are arrays of 32-bit words (at least two), enciphered in
// place under a 128-bit key of four words.
#ifndef QUENTA_PLATFORM_XXTEA_H_
#define QUENTA_PLATFORM_XXTEA_H_

#include <windows.h>

extern "C" {

// FALSE with ERROR_INVALID_PARAMETER (nothing changed) for fewer than two
// words or a null pointer.
BOOL WINAPI XxteaEncipher(DWORD* words, DWORD count, const DWORD key[4]);
BOOL WINAPI XxteaDecipher(DWORD* words, DWORD count, const DWORD key[4]);

}  // extern "C"

#endif  // QUENTA_PLATFORM_XXTEA_H_
