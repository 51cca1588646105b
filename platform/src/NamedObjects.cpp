// Named file mappings and named mutexes on POSIX shared memory.
//
// Every named object is one POSIX shared-memory object (a file under /dev/shm)
// whose name is derived from the device root:
//
//   /quenta-<16 hex digits>-map-<name>   a mapping
//   /quenta-<16 hex digits>-mtx-<name>   a mutex
//
// The hex digits are the 64-bit FNV-1a hash of realpath(QUENTA_ROOT), so two
// device roots never share an object and the same root, however it is spelled,
// always does. <name> is the Win32 name as UTF-8 with every byte outside
// [A-Za-z0-9._-] written as %XX (so "/" and "\" cannot leave the namespace).
//
// Creation is race-free between processes and threads: every opener creates or
// opens the object with O_CREAT and then takes an flock on it; whoever finds it
// empty (size 0) under the lock is the creator and sizes it, which the kernel
// zero-fills, or initialises the mutex in it. A creator that dies before
// finishing leaves an object the next opener initialises.
//
// A mutex is a process-shared, robust, recursive pthread mutex. Its segment is
// mapped once per process and never unmapped: a thread that owns a robust mutex
// has it on its robust list, and the kernel writes to that address when the
// thread dies, so the address must stay valid for the life of the process.
//
// Mappings and mutexes have separate namespaces here (on Win32 they share one).
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <dirent.h>

#include <windows.h>

#include "Handles.h"
#include "QuentaPlatform.h"

namespace {

// Win32's answers that the public header does not spell out.
const DWORD kErrorNotOwner = 288;         // ERROR_NOT_OWNER
const DWORD kErrorInvalidAddress = 487;   // ERROR_INVALID_ADDRESS

const char kObjectPrefix[] = "quenta-";
// /dev/shm entries are ordinary file names.
const size_t kMaxShmName = 255;
// Win32 gives views at multiples of the allocation granularity.
const uint64_t kAllocationGranularity = 65536;

// ---- names -----------------------------------------------------------------

uint64_t fnv1a(const std::string& text) {
  uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// "quenta-<hash>-" for the current device root, or false (with the last error
// set) when there is no root or it does not exist.
bool rootNamespace(std::string* prefix) {
  std::string root = quenta::deviceRoot();
  if (root.empty()) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  char* resolved = realpath(root.c_str(), nullptr);
  if (resolved == nullptr) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  std::string canonical(resolved);
  free(resolved);
  char hash[24];
  snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(canonical)));
  *prefix = std::string(kObjectPrefix) + hash + "-";
  return true;
}

// "/quenta-<hash>-<kind>-<encoded name>" for shm_open.
bool objectName(const char* kind, LPCWSTR name, std::string* out) {
  std::string prefix;
  if (!rootNamespace(&prefix)) return false;
  std::u16string wide(name);
  if (wide.empty()) {
    SetLastError(ERROR_INVALID_NAME);
    return false;
  }
  std::string utf8 = quenta::narrow(wide);
  std::string encoded;
  for (unsigned char c : utf8) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                 c == '_' || c == '-';
    if (plain) {
      encoded += static_cast<char>(c);
    } else {
      char escape[4];
      snprintf(escape, sizeof escape, "%%%02X", c);
      encoded += escape;
    }
  }
  std::string full = prefix + kind + "-" + encoded;
  if (full.size() > kMaxShmName) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  *out = "/" + full;
  return true;
}

DWORD errnoToWin32(int error) {
  switch (error) {
    case ENOMEM:
    case ENOSPC:
    case EFBIG:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// Opens (creating if needed) the shared-memory object and returns it locked
// with flock, so the caller can inspect and initialise it alone. -1 on failure
// with the last error set.
int openLocked(const std::string& name) {
  int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(errnoToWin32(errno));
    return -1;
  }
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      SetLastError(errnoToWin32(errno));
      close(fd);
      return -1;
    }
  }
  return fd;
}

void unlockAndClose(int fd) {
  flock(fd, LOCK_UN);
  close(fd);
}

// openLocked, and the object's current size in *size (0 for one just made).
int openLockedWithSize(const std::string& name, off_t* size) {
  int fd = openLocked(name);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0) {
    SetLastError(errnoToWin32(errno));
    unlockAndClose(fd);
    return -1;
  }
  *size = info.st_size;
  return fd;
}

// ---- mappings --------------------------------------------------------------

struct Mapping : quenta::HandleObject {
  Mapping(int descriptor, uint64_t bytes, bool canWrite)
      : HandleObject(quenta::HandleType::kMapping), fd(descriptor), size(bytes), writable(canWrite) {}
  ~Mapping() override {
    if (fd >= 0) ::close(fd);
  }
  BOOL close() override {
    // Views stay valid after the handle is closed, as on Win32: mmap keeps
    // its own reference to the object.
    int descriptor = fd;
    fd = -1;
    if (descriptor >= 0 && ::close(descriptor) != 0) {
      SetLastError(ERROR_GEN_FAILURE);
      return FALSE;
    }
    return TRUE;
  }

  int fd;
  const uint64_t size;
  const bool writable;
};

// Every live view, by address, with its length for munmap.
struct ViewTable {
  std::mutex lock;
  std::map<uintptr_t, size_t> views;
};

ViewTable& viewTable() {
  static ViewTable* table = new ViewTable();  // leaked: usable during static destruction
  return *table;
}

std::atomic<unsigned> anonymousCounter{0};

// An unnamed mapping: a private object unlinked at once, so only handles of
// this process reach it.
int createAnonymous(uint64_t size) {
  char name[64];
  snprintf(name, sizeof name, "/%sanon-%d-%u", kObjectPrefix, static_cast<int>(getpid()),
           anonymousCounter.fetch_add(1));
  int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    SetLastError(errnoToWin32(errno));
    return -1;
  }
  shm_unlink(name);
  if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
    SetLastError(errnoToWin32(errno));
    close(fd);
    return -1;
  }
  return fd;
}

// shared_ptr's control block is the one allocation here that would throw.
template <typename T>
std::shared_ptr<T> adopt(T* object) {
  if (object == nullptr) return nullptr;
  try {
    return std::shared_ptr<T>(object);
  } catch (const std::bad_alloc&) {
    return nullptr;  // shared_ptr deleted the object
  }
}

// ---- mutexes ---------------------------------------------------------------

const uint32_t kMutexReady = 0x51554D58;  // "QUMX"

struct MutexBlock {
  std::atomic<uint32_t> ready;
  pthread_mutex_t mutex;
};

bool initialiseMutex(MutexBlock* block) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
            pthread_mutex_init(&block->mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  if (ok) block->ready.store(kMutexReady, std::memory_order_release);
  return ok;
}

// The mutex segments this process has mapped, by object name; never unmapped.
struct MutexSegments {
  std::mutex lock;
  std::map<std::string, MutexBlock*> blocks;
};

MutexSegments& mutexSegments() {
  static MutexSegments* segments = new MutexSegments();  // leaked on purpose, see above
  return *segments;
}

// The block of a named mutex, mapped and initialised; *existed tells whether
// some process had made it before. Null with the last error set on failure.
MutexBlock* namedMutexBlock(const std::string& name, bool* existed) {
  MutexSegments& segments = mutexSegments();
  std::lock_guard<std::mutex> guard(segments.lock);
  auto found = segments.blocks.find(name);
  if (found != segments.blocks.end()) {
    *existed = true;
    return found->second;
  }
  off_t currentSize = 0;
  int fd = openLockedWithSize(name, &currentSize);
  if (fd < 0) return nullptr;
  bool sized = currentSize >= static_cast<off_t>(sizeof(MutexBlock));
  if (!sized && ftruncate(fd, sizeof(MutexBlock)) != 0) {
    SetLastError(errnoToWin32(errno));
    unlockAndClose(fd);
    return nullptr;
  }
  void* address = mmap(nullptr, sizeof(MutexBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) {
    SetLastError(errnoToWin32(errno));
    unlockAndClose(fd);
    return nullptr;
  }
  MutexBlock* block = static_cast<MutexBlock*>(address);
  // A block that is sized but not ready belongs to a creator that died while
  // making it; nobody can be using it, so it is made again here.
  *existed = block->ready.load(std::memory_order_acquire) == kMutexReady;
  if (!*existed && !initialiseMutex(block)) {
    munmap(address, sizeof(MutexBlock));
    SetLastError(ERROR_GEN_FAILURE);
    unlockAndClose(fd);
    return nullptr;
  }
  unlockAndClose(fd);
  segments.blocks[name] = block;
  return block;
}

// The block is never released, even for an unnamed mutex (a small heap
// block): a thread may still own it, and its robust list points there.
struct Mutex : quenta::HandleObject {
  explicit Mutex(MutexBlock* shared) : HandleObject(quenta::HandleType::kMutex), block(shared) {}
  MutexBlock* const block;
};

// The outcome of a lock attempt, in WaitForSingleObject's terms.
DWORD lockResult(pthread_mutex_t* mutex, int result) {
  switch (result) {
    case 0:
      return WAIT_OBJECT_0;
    case EOWNERDEAD:
      // The previous owner died holding it; the caller now owns it.
      pthread_mutex_consistent(mutex);
      return WAIT_ABANDONED;
    case ETIMEDOUT:
    case EBUSY:
      return WAIT_TIMEOUT;
    default:
      SetLastError(errnoToWin32(result));
      return WAIT_FAILED;
  }
}

}  // namespace

namespace quenta {

bool removeNamedObjects(std::string* error) {
  std::string prefix;
  if (!rootNamespace(&prefix)) {
    if (error != nullptr) *error = "no device root";
    return false;
  }
  DIR* directory = opendir("/dev/shm");
  if (directory == nullptr) {
    if (error != nullptr) *error = std::string("cannot list /dev/shm: ") + strerror(errno);
    return false;
  }
  bool ok = true;
  while (struct dirent* entry = readdir(directory)) {
    std::string file(entry->d_name);
    if (file.compare(0, prefix.size(), prefix) != 0) continue;
    if (shm_unlink(("/" + file).c_str()) != 0 && errno != ENOENT) {
      ok = false;
      if (error != nullptr) *error = "cannot remove " + file + ": " + strerror(errno);
    }
  }
  closedir(directory);
  // This process's cached mutex blocks of the root are forgotten (not
  // unmapped), so that the next CreateMutexW makes a fresh one.
  MutexSegments& segments = mutexSegments();
  std::lock_guard<std::mutex> guard(segments.lock);
  for (auto it = segments.blocks.begin(); it != segments.blocks.end();) {
    if (it->first.compare(1, prefix.size(), prefix) == 0) {
      it = segments.blocks.erase(it);
    } else {
      ++it;
    }
  }
  return ok;
}

}  // namespace quenta

namespace {

HANDLE createFileMapping(HANDLE hFile, LPSECURITY_ATTRIBUTES lpAttributes, DWORD flProtect,
                         DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  if (hFile != INVALID_HANDLE_VALUE) {
    // Only mappings backed by the paging file exist on this platform.
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD protection = flProtect & 0xFFu;
  if (protection != PAGE_READONLY && protection != PAGE_READWRITE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  uint64_t size = (static_cast<uint64_t>(dwMaximumSizeHigh) << 32) | dwMaximumSizeLow;
  if (size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  bool writable = protection == PAGE_READWRITE;
  int fd = -1;
  bool existed = false;
  if (lpName == nullptr) {
    fd = createAnonymous(size);
    if (fd < 0) return nullptr;
  } else {
    std::string name;
    if (!objectName("map", lpName, &name)) return nullptr;
    off_t currentSize = 0;
    fd = openLockedWithSize(name, &currentSize);
    if (fd < 0) return nullptr;
    existed = currentSize != 0;
    if (!existed) {
      // The kernel gives new pages of a shared-memory object zero-filled.
      if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        // Left empty: the next opener finds size 0 and makes it.
        SetLastError(errnoToWin32(errno));
        unlockAndClose(fd);
        return nullptr;
      }
    } else if (static_cast<uint64_t>(currentSize) < size) {
      // An opener asking for more than the creator made would read past the
      // end of the shared block.
      SetLastError(ERROR_INVALID_PARAMETER);
      unlockAndClose(fd);
      return nullptr;
    } else {
      size = static_cast<uint64_t>(currentSize);
    }
    flock(fd, LOCK_UN);
  }
  Mapping* made = new (std::nothrow) Mapping(fd, size, writable);
  if (made == nullptr) close(fd);
  std::shared_ptr<Mapping> mapping = adopt(made);  // the object closes fd from here on
  if (mapping == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = quenta::registerHandle(mapping);
  if (handle == nullptr) return nullptr;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

LPVOID mapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  std::shared_ptr<Mapping> mapping =
      quenta::lookupHandleAs<Mapping>(hFileMappingObject, quenta::HandleType::kMapping);
  if (mapping == nullptr) return nullptr;
  bool wantWrite = (dwDesiredAccess & FILE_MAP_WRITE) != 0;
  if ((dwDesiredAccess & (FILE_MAP_WRITE | FILE_MAP_READ)) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (wantWrite && !mapping->writable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  uint64_t offset = (static_cast<uint64_t>(dwFileOffsetHigh) << 32) | dwFileOffsetLow;
  if (offset % kAllocationGranularity != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (offset >= mapping->size) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  uint64_t length = dwNumberOfBytesToMap == 0 ? mapping->size - offset : dwNumberOfBytesToMap;
  if (length > mapping->size - offset) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  int protection = PROT_READ | (wantWrite ? PROT_WRITE : 0);
  void* address = mmap(nullptr, static_cast<size_t>(length), protection, MAP_SHARED, mapping->fd,
                       static_cast<off_t>(offset));
  if (address == MAP_FAILED) {
    SetLastError(errno == EBADF ? ERROR_INVALID_HANDLE : errnoToWin32(errno));
    return nullptr;
  }
  ViewTable& table = viewTable();
  {
    std::lock_guard<std::mutex> guard(table.lock);
    table.views[reinterpret_cast<uintptr_t>(address)] = static_cast<size_t>(length);
  }
  SetLastError(ERROR_SUCCESS);
  return address;
}

HANDLE createMutex(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  MutexBlock* block = nullptr;
  bool existed = false;
  if (lpName == nullptr) {
    block = new (std::nothrow) MutexBlock();
    if (block == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
    if (!initialiseMutex(block)) {
      delete block;
      SetLastError(ERROR_GEN_FAILURE);
      return nullptr;
    }
  } else {
    std::string name;
    if (!objectName("mtx", lpName, &name)) return nullptr;
    block = namedMutexBlock(name, &existed);
    if (block == nullptr) return nullptr;
  }
  std::shared_ptr<Mutex> mutex = adopt(new (std::nothrow) Mutex(block));
  if (mutex == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE handle = quenta::registerHandle(mutex);
  if (handle == nullptr) return nullptr;
  // As on Win32, only the creator gets the initial ownership it asks for.
  if (bInitialOwner && !existed) lockResult(&block->mutex, pthread_mutex_lock(&block->mutex));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

}  // namespace

extern "C" {

// The names and tables above use the standard library, which reports running
// out of memory by throwing; that must not cross into the caller.
HANDLE WINAPI CreateFileMappingW(HANDLE hFile, LPSECURITY_ATTRIBUTES lpAttributes, DWORD flProtect,
                                 DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow, LPCWSTR lpName) {
  try {
    return createFileMapping(hFile, lpAttributes, flProtect, dwMaximumSizeHigh, dwMaximumSizeLow, lpName);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

LPVOID WINAPI MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                            DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  try {
    return mapViewOfFile(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh, dwFileOffsetLow,
                         dwNumberOfBytesToMap);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCWSTR lpName) {
  try {
    return createMutex(lpMutexAttributes, bInitialOwner, lpName);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI UnmapViewOfFile(LPCVOID lpBaseAddress) {
  ViewTable& table = viewTable();
  size_t length = 0;
  {
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.views.find(reinterpret_cast<uintptr_t>(lpBaseAddress));
    if (found == table.views.end()) {
      SetLastError(kErrorInvalidAddress);
      return FALSE;
    }
    length = found->second;
    table.views.erase(found);
  }
  munmap(const_cast<void*>(lpBaseAddress), length);
  return TRUE;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
  std::shared_ptr<Mutex> mutex = quenta::lookupHandleAs<Mutex>(hMutex, quenta::HandleType::kMutex);
  if (mutex == nullptr) return FALSE;
  int result = pthread_mutex_unlock(&mutex->block->mutex);
  if (result != 0) {
    SetLastError(result == EPERM ? kErrorNotOwner : errnoToWin32(result));
    return FALSE;
  }
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
  std::shared_ptr<Mutex> mutex = quenta::lookupHandleAs<Mutex>(hHandle, quenta::HandleType::kMutex);
  if (mutex == nullptr) return WAIT_FAILED;
  pthread_mutex_t* lock = &mutex->block->mutex;
  if (dwMilliseconds == INFINITE) return lockResult(lock, pthread_mutex_lock(lock));
  if (dwMilliseconds == 0) return lockResult(lock, pthread_mutex_trylock(lock));
  struct timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += dwMilliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(dwMilliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  int result;
  do {
    result = pthread_mutex_clocklock(lock, CLOCK_MONOTONIC, &deadline);
  } while (result == EINTR);
  return lockResult(lock, result);
}

}  // extern "C"
