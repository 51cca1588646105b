// The registry's file: read once per version, replaced atomically.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"
#include "RegistryStore.h"

namespace quenta {
namespace {

const char kStoreName[] = "/registry.reg";
const char kLockName[] = "/registry.lock";
const char kTempName[] = "/registry.reg.new";
const char kBadName[] = "/registry.reg.bad";

std::atomic<void (*)()> writeHook{nullptr};

// Which version of the file a parsed tree came from. Every write renames a new
// file into place, so the inode changes with each version; size and change
// time guard against an inode number being reused.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = -1;
  long long changedNs = 0;
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           changedNs == other.changedNs;
  }
};

FileIdentity identityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = info.st_dev;
  identity.inode = info.st_ino;
  identity.size = info.st_size;
  identity.changedNs = static_cast<long long>(info.st_ctim.tv_sec) * 1000000000LL + info.st_ctim.tv_nsec;
  return identity;
}

struct Snapshot {
  std::string storePath;
  FileIdentity identity;
  std::shared_ptr<const RegistryTree> tree;
  bool parsed = true;  // false: the file could not be parsed and reads as empty
};

std::mutex& cacheLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

Snapshot& cache() {
  static Snapshot* snapshot = new Snapshot;
  return *snapshot;
}

std::string rootPath() {
  std::string root = deviceRoot();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

bool readWhole(int fd, std::string* text) {
  char chunk[8192];
  for (;;) {
    ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    text->append(chunk, static_cast<size_t>(got));
  }
}

// The store as it is now, through the cache. Never fails: whatever cannot be
// read reads as an empty registry.
Snapshot load(const std::string& root) {
  Snapshot fresh;
  fresh.storePath = root + kStoreName;
  int fd = ::open(fresh.storePath.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || ::fstat(fd, &info) != 0) {
    if (fd >= 0) ::close(fd);
    fresh.tree = std::make_shared<RegistryTree>();
    return fresh;
  }
  fresh.identity = identityOf(info);
  {
    std::lock_guard<std::mutex> guard(cacheLock());
    const Snapshot& cached = cache();
    if (cached.tree && cached.storePath == fresh.storePath && cached.identity == fresh.identity) {
      ::close(fd);
      return cached;
    }
  }
  std::string text;
  bool read = readWhole(fd, &text);
  ::close(fd);
  auto tree = std::make_shared<RegistryTree>();
  std::string error = "cannot be read";
  if (!read || !parseRegText(text, tree.get(), &error)) {
    NKDbgPrintfW(u"Registry: %hs: %hs; read as empty until the next write\r\n", fresh.storePath.c_str(),
                 error.c_str());
    tree = std::make_shared<RegistryTree>();
    fresh.parsed = false;
  }
  fresh.tree = tree;
  std::lock_guard<std::mutex> guard(cacheLock());
  cache() = fresh;
  return fresh;
}

DWORD writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return win32ErrorFromErrno(errno);
    done += static_cast<size_t>(wrote);
  }
  return ::fsync(fd) == 0 ? ERROR_SUCCESS : win32ErrorFromErrno(errno);
}

// Writes the tree to a new file and renames it over the store. The caller
// holds the store's lock.
DWORD replaceStore(const std::string& root, const RegistryTree& tree) {
  std::string text = formatRegText(tree);
  std::string temp = root + kTempName;
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return win32ErrorFromErrno(errno);
  DWORD error = writeAll(fd, text);
  ::close(fd);
  if (error != ERROR_SUCCESS) {
    ::unlink(temp.c_str());
    return error;
  }
  void (*hook)() = writeHook.load();
  if (hook != nullptr) hook();
  if (::rename(temp.c_str(), (root + kStoreName).c_str()) != 0) {
    error = win32ErrorFromErrno(errno);
    ::unlink(temp.c_str());
    return error;
  }
  int directory = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directory >= 0) {
    ::fsync(directory);
    ::close(directory);
  }
  return ERROR_SUCCESS;
}

// The store's lock: an flock on a file of its own, since the store itself is
// replaced by every write. Released when the descriptor closes, also when the
// process dies.
int lockStore(const std::string& root) {
  int fd = ::open((root + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

}  // namespace

void setRegistryWriteHook(void (*hook)()) { writeHook.store(hook); }

std::shared_ptr<const RegistryTree> currentRegistry() {
  std::string root = rootPath();
  if (root.empty()) return std::make_shared<RegistryTree>();
  return load(root).tree;
}

DWORD updateRegistry(const std::function<DWORD(RegistryTree* tree, bool* changed)>& change) {
  std::string root = rootPath();
  if (root.empty()) return ERROR_PATH_NOT_FOUND;
  int lock = lockStore(root);
  if (lock < 0) return win32ErrorFromErrno(errno);
  DWORD error;
  try {
    Snapshot current = load(root);
    RegistryTree copy(*current.tree);
    bool changed = false;
    error = change(&copy, &changed);
    if (error == ERROR_SUCCESS && changed) {
      if (!current.parsed) ::rename(current.storePath.c_str(), (root + kBadName).c_str());
      error = replaceStore(root, copy);
    }
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  ::close(lock);
  return error;
}

}  // namespace quenta
