// The process-wide handle table (see Handles.h).
#include "Handles.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>

namespace quenta {
namespace {

// Keys start well above the values that null, INVALID_HANDLE_VALUE, small
// descriptors or stray small integers could have, and only grow.
constexpr uintptr_t kFirstHandleKey = 0x10000;

struct HandleTable {
  std::mutex lock;
  uintptr_t nextKey = kFirstHandleKey;
  std::unordered_map<uintptr_t, std::shared_ptr<HandleObject>> objects;
};

// Built in static storage on first use and never destroyed, so handles can be
// opened and closed from other libraries' static constructors and destructors.
// An empty unordered_map allocates nothing, so this cannot fail.
HandleTable& table() {
  alignas(HandleTable) static unsigned char storage[sizeof(HandleTable)];
  static HandleTable* instance = new (storage) HandleTable;
  return *instance;
}

uintptr_t keyOf(HANDLE handle) { return reinterpret_cast<uintptr_t>(handle); }

}  // namespace

HandleObject::~HandleObject() = default;

BOOL HandleObject::close() { return TRUE; }

HANDLE registerHandle(std::shared_ptr<HandleObject> object) {
  if (!object) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  HandleTable& handles = table();
  std::lock_guard<std::mutex> guard(handles.lock);
  uintptr_t key = handles.nextKey;
  try {
    handles.objects.emplace(key, std::move(object));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  ++handles.nextKey;
  return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<HandleObject> lookupHandle(HANDLE handle, HandleType type) {
  HandleTable& handles = table();
  {
    std::lock_guard<std::mutex> guard(handles.lock);
    auto found = handles.objects.find(keyOf(handle));
    if (found != handles.objects.end() && found->second->type == type) return found->second;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

BOOL closeHandle(HANDLE handle) {
  std::shared_ptr<HandleObject> object;
  HandleTable& handles = table();
  {
    std::lock_guard<std::mutex> guard(handles.lock);
    auto found = handles.objects.find(keyOf(handle));
    if (found != handles.objects.end()) {
      object = std::move(found->second);
      handles.objects.erase(found);
    }
  }
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return object->close();
}

}  // namespace quenta

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) { return quenta::closeHandle(hObject); }
