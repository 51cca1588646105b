#include "sqlbridge/ChangeWatch.h"

#include <sqlite3.h>

namespace quenta {
namespace {

// The WAL index is mapped in pages of this size; the header opens page 0.
const int kIndexPageSize = 32768;
const size_t kHeaderWords = 12;  // 48 bytes, then the second copy
const size_t kIsInitByte = 12;   // nonzero once the header holds a state

}  // namespace

void ChangeWatch::attach(sqlite3* db) {
  header = nullptr;
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, "main", SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK ||
      file == nullptr || file->pMethods == nullptr || file->pMethods->iVersion < 2 ||
      file->pMethods->xShmMap == nullptr) {
    return;
  }
  // Without extending: page 0 exists once the connection has read in WAL
  // mode, and then stays mapped until the connection closes.
  volatile void* page = nullptr;
  if (file->pMethods->xShmMap(file, 0, kIndexPageSize, 0, &page) == SQLITE_OK) {
    header = static_cast<const volatile uint32_t*>(page);
  }
}

bool ChangeWatch::read(Mark* mark) const {
  if (header == nullptr) return false;
  // The writer writes the second copy, then (after a barrier) the first; so
  // read the first, then the second, and trust them only when they agree.
  // Acquiring loads keep the second reading after the first.
  const uint32_t* words = const_cast<const uint32_t*>(header);
  for (size_t k = 0; k < kHeaderWords; ++k) mark->words[k] = __atomic_load_n(words + k, __ATOMIC_ACQUIRE);
  for (size_t k = 0; k < kHeaderWords; ++k) {
    if (__atomic_load_n(words + kHeaderWords + k, __ATOMIC_ACQUIRE) != mark->words[k]) {
      return false;
    }
  }
  return reinterpret_cast<const unsigned char*>(mark->words)[kIsInitByte] != 0;
}

}  // namespace quenta
