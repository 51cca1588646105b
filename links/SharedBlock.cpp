#include "links/SharedBlock.h"

SharedBlock::SharedBlock() : mapping(nullptr), view(nullptr), mutex(nullptr), abandoned(false) {}

SharedBlock::~SharedBlock() { close(); }

bool SharedBlock::open(LPCWSTR mappingName, DWORD size, LPCWSTR mutexName) {
  close();
  mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, size, mappingName);
  if (mapping == nullptr) return false;
  view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  if (view == nullptr) return false;
  mutex = CreateMutexW(nullptr, FALSE, mutexName);
  return mutex != nullptr;
}

void SharedBlock::close() {
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
  if (mutex != nullptr) CloseHandle(mutex);
  view = nullptr;
  mapping = nullptr;
  mutex = nullptr;
}

// `abandoned` is written only with the mutex held: threads of one process
// share a block and wait for it together.
bool SharedBlock::lock(DWORD milliseconds, bool takeAbandoned) {
  if (view == nullptr || mutex == nullptr) return false;
  DWORD waited = WaitForSingleObject(mutex, milliseconds);
  if (waited == WAIT_OBJECT_0 || (waited == WAIT_ABANDONED && takeAbandoned)) {
    abandoned = waited == WAIT_ABANDONED;
    return true;
  }
  if (waited == WAIT_ABANDONED) ReleaseMutex(mutex);
  return false;
}

void SharedBlock::unlock() { ReleaseMutex(mutex); }
