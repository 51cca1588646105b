// The handle table of the platform layer. Every HANDLE given out (files,
// mappings, mutexes) is a key into one process-wide table, never a raw
// descriptor or pointer, so a stale or forged value is answered with
// ERROR_INVALID_HANDLE instead of touching whatever reused the number. Keys are
// never reused during the life of the process and are never null or
// INVALID_HANDLE_VALUE.
//
// The table lives in a leaked function-local static, so it works during the
// static initialisation and destruction of other libraries and from any thread.
#ifndef QUENTA_PLATFORM_SRC_HANDLES_H_
#define QUENTA_PLATFORM_SRC_HANDLES_H_

#include <memory>

#include <windows.h>

namespace quenta {

enum class HandleType { kFile, kMapping, kMutex, kRegistryKey, kDevice };

// One open object. The table holds one reference; every lookup hands out
// another, so an object stays alive while a call on another thread still uses
// it after CloseHandle removed it from the table.
struct HandleObject {
  explicit HandleObject(HandleType objectType) : type(objectType) {}
  virtual ~HandleObject();
  // Called exactly once, by CloseHandle, right after the handle left the
  // table. Releases what can be released now and says whether that worked
  // (setting the last error when it did not). The default does nothing.
  virtual BOOL close();

  const HandleType type;
};

// Enters the object into the table and returns its new handle. On failure
// (out of memory) returns nullptr with ERROR_NOT_ENOUGH_MEMORY set; the
// object is released either way when its last reference goes.
HANDLE registerHandle(std::shared_ptr<HandleObject> object);

// The object behind a handle, provided it has the given type; otherwise
// nullptr with ERROR_INVALID_HANDLE set.
std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, HandleType type);

template <typename T>
std::shared_ptr<T> lookupHandleAs(HANDLE handle, HandleType type) {
  return std::static_pointer_cast<T>(lookupHandle(handle, type));
}

// Removes a handle from the table and closes its object (CloseHandle does
// exactly this). FALSE with ERROR_INVALID_HANDLE for an unknown handle.
BOOL closeHandle(HANDLE handle);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_SRC_HANDLES_H_
