// XXTEA as published by Wheeler and Needham ("Correction to xtea", 1998).
#include <windows.h>

namespace {

const DWORD kDelta = 0x9E3779B9u;

DWORD mix(DWORD sum, DWORD y, DWORD z, DWORD p, DWORD e, const DWORD key[4]) {
  return (((z >> 5) ^ (y << 2)) + ((y >> 3) ^ (z << 4))) ^ ((sum ^ y) + (key[(p & 3) ^ e] ^ z));
}

bool valid(DWORD* words, DWORD count, const DWORD key[4]) {
  if (words == nullptr || key == nullptr || count < 2) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

BOOL WINAPI XxteaEncipher(DWORD* v, DWORD n, const DWORD key[4]) {
  if (!valid(v, n, key)) return FALSE;
  DWORD rounds = 6 + 52 / n;
  DWORD sum = 0;
  DWORD z = v[n - 1];
  while (rounds-- > 0) {
    sum += kDelta;
    DWORD e = (sum >> 2) & 3;
    for (DWORD p = 0; p < n; ++p) {
      DWORD y = v[(p + 1) % n];
      z = v[p] += mix(sum, y, z, p, e, key);
    }
  }
  return TRUE;
}

BOOL WINAPI XxteaDecipher(DWORD* v, DWORD n, const DWORD key[4]) {
  if (!valid(v, n, key)) return FALSE;
  DWORD rounds = 6 + 52 / n;
  DWORD sum = rounds * kDelta;
  DWORD y = v[0];
  while (rounds-- > 0) {
    DWORD e = (sum >> 2) & 3;
    for (DWORD p = n; p-- > 0;) {
      DWORD z = v[(p + n - 1) % n];
      y = v[p] -= mix(sum, y, z, p, e, key);
    }
    sum -= kDelta;
  }
  return TRUE;
}

}  // extern "C"
