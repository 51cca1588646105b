#include "links/DbLogMailbox.h"

DbLogMailbox::DbLogMailbox() : mapping(nullptr), view(nullptr), mutex(nullptr) {}

DbLogMailbox::~DbLogMailbox() {
  close();
}

void DbLogMailbox::close() {
  if (view != nullptr) UnmapViewOfFile(view);
  if (mapping != nullptr) CloseHandle(mapping);
  if (mutex != nullptr) CloseHandle(mutex);
  view = nullptr;
  mapping = nullptr;
  mutex = nullptr;
}

bool DbLogMailbox::open() {
  close();
  // Whoever creates the mapping first gets it zero-filled: an empty ring.
  mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                               DB_LOG_BLOCK_SIZE, DB_LOG_MAPPING);
  if (mapping != nullptr) {
    view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }
  mutex = CreateMutexW(nullptr, FALSE, DB_LOG_MUTEX);
  return view != nullptr && mutex != nullptr;
}

bool DbLogMailbox::post(WORD code, WORD arg1, WORD arg2, WORD arg3) {
  if (view == nullptr) {
    return false;
  }
  DWORD waited = WaitForSingleObject(mutex, DB_LOG_WAIT_MS);
  if (waited != WAIT_OBJECT_0) {
    // Lost. An abandoned wait did give us the mutex (over a ring the dead
    // holder may have left half-changed): it is handed back untouched so the
    // log process is not locked out for good.
    if (waited == WAIT_ABANDONED) ReleaseMutex(mutex);
    return false;
  }
  // A head beyond the ring can only come from a corrupted block; it is taken
  // modulo the ring so that no write leaves its array.
  WORD old = dbLogWord(view, DB_LOG_HEAD_OFFSET) & (DB_LOG_SLOTS - 1);
  WORD head = (old + 1) & (DB_LOG_SLOTS - 1);
  bool posted = head != dbLogWord(view, DB_LOG_TAIL_OFFSET);
  if (posted) {
    setDbLogWord(view, DB_LOG_CODE_OFFSET + 2 * old, code);
    setDbLogWord(view, DB_LOG_ARG1_OFFSET + 2 * old, arg1);
    setDbLogWord(view, DB_LOG_ARG2_OFFSET + 2 * old, arg2);
    setDbLogWord(view, DB_LOG_ARG3_OFFSET + 2 * old, arg3);
    setDbLogWord(view, DB_LOG_HEAD_OFFSET, head);
  }
  // A full ring drops the newest event; head stays where it was.
  ReleaseMutex(mutex);
  return posted;
}
