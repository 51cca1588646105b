#include "sqlbridge/Views.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sqlbridge/SqlBridge.h"

namespace sqlbridge {
namespace {

struct Entry {
  enum Kind { kPublished, kView };
  Entry(Kind k, LPCWSTR viewName)
      : kind(k), name(viewName), owner(std::this_thread::get_id()), bytes(nullptr), size(0) {}
  ~Entry() { std::free(bytes); }
  Kind kind;
  std::u16string name;
  std::thread::id owner;
  unsigned char* bytes;  // malloc'ed; views: at least kMinViewBytes, zero-filled
  size_t size;
};

std::mutex entriesMutex;
// Creation order: a setter looks for the most recent view of a name.
std::vector<Entry*> entries;

// Index of the entry at `handle`, or -1. Caller holds the mutex.
long indexOf(DWORD_PTR handle) {
  for (size_t k = 0; k < entries.size(); ++k) {
    if (reinterpret_cast<DWORD_PTR>(entries[k]) == handle) return static_cast<long>(k);
  }
  return -1;
}

// The most recent entry of this kind, name and thread, or -1. Caller holds the mutex.
long findLatest(Entry::Kind kind, const std::u16string& name) {
  std::thread::id self = std::this_thread::get_id();
  for (size_t k = entries.size(); k-- > 0;) {
    const Entry* e = entries[k];
    if (e->kind == kind && e->owner == self && e->name == name) return static_cast<long>(k);
  }
  return -1;
}

void destroy(long index) {
  Entry* e = entries[static_cast<size_t>(index)];
  entries.erase(entries.begin() + index);
  delete e;
}

}  // namespace

bool publishRecords(LPCWSTR viewName, const void* records, size_t bytes, DWORD_PTR* releaseHandle) {
  if (viewName == nullptr || releaseHandle == nullptr) return false;
  std::unique_ptr<Entry> e(new Entry(Entry::kPublished, viewName));
  e->size = bytes;
  e->bytes = static_cast<unsigned char*>(std::malloc(bytes == 0 ? 1 : bytes));
  if (e->bytes == nullptr) return false;
  if (bytes != 0) std::memcpy(e->bytes, records, bytes);
  std::lock_guard<std::mutex> lock(entriesMutex);
  // One published copy per name and thread: a reader called again before its
  // view was released replaces the earlier copy rather than piling them up.
  long previous = findLatest(Entry::kPublished, e->name);
  if (previous >= 0) destroy(previous);
  entries.push_back(e.get());
  *releaseHandle = reinterpret_cast<DWORD_PTR>(e.release());
  return true;
}

bool readSetterView(LPCWSTR viewName, void* record, size_t size) {
  if (viewName == nullptr) return false;
  std::u16string name(viewName);
  std::lock_guard<std::mutex> lock(entriesMutex);
  long index = findLatest(Entry::kView, name);
  if (index < 0) return false;
  const Entry* e = entries[static_cast<size_t>(index)];
  size_t copied = size < e->size ? size : e->size;
  std::memcpy(record, e->bytes, copied);
  if (copied < size) std::memset(static_cast<unsigned char*>(record) + copied, 0, size - copied);
  return true;
}

LPVOID createView(LPCWSTR viewName, DWORD_PTR* mapHandle) {
  if (mapHandle != nullptr) *mapHandle = SQLBRIDGE_NO_VIEW;
  if (viewName == nullptr || mapHandle == nullptr) return nullptr;
  std::unique_ptr<Entry> e(new Entry(Entry::kView, viewName));
  std::lock_guard<std::mutex> lock(entriesMutex);
  long published = findLatest(Entry::kPublished, e->name);
  Entry* records = published >= 0 ? entries[static_cast<size_t>(published)] : nullptr;
  size_t stored = records != nullptr ? records->size : 0;
  if (stored >= kMinViewBytes) {
    // Records that fill a view of their own are handed over, not copied (a
    // system log is some 140 KB); the reader's copy is then empty.
    e->bytes = records->bytes;
    e->size = stored;
    records->bytes = nullptr;
    records->size = 0;
  } else {
    e->size = kMinViewBytes;
    e->bytes = static_cast<unsigned char*>(std::calloc(1, e->size));
    if (e->bytes == nullptr) return nullptr;
    if (stored != 0) std::memcpy(e->bytes, records->bytes, stored);
  }
  entries.push_back(e.get());
  *mapHandle = reinterpret_cast<DWORD_PTR>(e.get());
  return e.release()->bytes;
}

void releaseView(DWORD_PTR releaseHandle) {
  if (releaseHandle == SQLBRIDGE_NO_RELEASE) return;
  std::lock_guard<std::mutex> lock(entriesMutex);
  long index = indexOf(releaseHandle);
  if (index >= 0 && entries[static_cast<size_t>(index)]->kind == Entry::kPublished) destroy(index);
}

void cleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle) {
  if (recordAddress == SQLBRIDGE_NO_VIEW && mapHandle == SQLBRIDGE_NO_VIEW) return;
  std::lock_guard<std::mutex> lock(entriesMutex);
  long index = indexOf(mapHandle);
  if (index < 0 || entries[static_cast<size_t>(index)]->kind != Entry::kView) {
    // A caller that lost its map handle still names the view by its address.
    index = -1;
    for (size_t k = 0; k < entries.size(); ++k) {
      if (entries[k]->kind == Entry::kView &&
          reinterpret_cast<DWORD_PTR>(entries[k]->bytes) == recordAddress) {
        index = static_cast<long>(k);
        break;
      }
    }
  }
  if (index >= 0) destroy(index);
}

int openViewCount() {
  std::lock_guard<std::mutex> lock(entriesMutex);
  return static_cast<int>(entries.size());
}

}  // namespace sqlbridge
