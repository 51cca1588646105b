// Room for one more element in a plain array that grows by doubling (from 16),
// with nothing thrown: false, and the array untouched, when the larger block
// cannot be allocated. The field list and the part map keep their elements so.
#ifndef QUENTA_CORE_GROWABLEARRAY_H_
#define QUENTA_CORE_GROWABLEARRAY_H_

#include <new>

#include <windows.h>

template <typename T>
bool makeRoomForOne(T*& items, DWORD used, DWORD& capacity) {
  if (used < capacity) return true;
  DWORD grown = capacity == 0 ? 16 : capacity * 2;
  T* larger = new (std::nothrow) T[grown];
  if (larger == nullptr) return false;
  for (DWORD k = 0; k < used; ++k) larger[k] = items[k];
  delete[] items;
  items = larger;
  capacity = grown;
  return true;
}

#endif  // QUENTA_CORE_GROWABLEARRAY_H_
