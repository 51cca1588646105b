// The card's static files: which request paths name one, and the answer head
// for it. A file is served only when it is a regular file reached from the
// web root without leaving it (openat2 with RESOLVE_BENEATH: a symbolic link
// that leads out of the card, to the settings database or the system, or one
// with an absolute target, is never followed). A path ending in "/" names the
// folder's index.html.
//
// Files up to kCachedFileLimit are kept in memory, at most kCacheLimit bytes
// in all, keyed by path and checked against the file's device, inode, size
// and modification time at every request (the open and fstat are done each
// time, so the check above always holds). A file past the limits is sent from
// its descriptor.
//
// A path that names no file (the module's data files, asked for many times a
// second) is not looked up again for kMissMemory: a card file put there later
// is served from then on. Everything here runs on the io thread only.
#ifndef QUENTA_HOST_STATICFILES_H_
#define QUENTA_HOST_STATICFILES_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>

namespace quenta {

class StaticFiles {
 public:
  static const size_t kCachedFileLimit = 256 * 1024;
  static const size_t kCacheLimit = 4 * 1024 * 1024;
  static constexpr std::chrono::seconds kMissMemory{1};

  // One file found for a request. The heads end before the empty line that
  // ends them. A cached file's bytes are in `body` (shared: the entry may be
  // replaced while they are being sent) and `fd` is -1; otherwise `fd` is the
  // open file, which the caller closes.
  struct Found {
    const std::string* head = nullptr;
    const std::string* notModified = nullptr;  // the 304 head
    const std::string* etag = nullptr;
    const std::string* lastModified = nullptr;
    std::shared_ptr<const std::string> body;
    size_t size = 0;
    int fd = -1;
  };

  StaticFiles() = default;
  ~StaticFiles();
  StaticFiles(const StaticFiles&) = delete;
  StaticFiles& operator=(const StaticFiles&) = delete;

  // False when `folder` cannot be opened as a folder; then nothing is served.
  bool open(const std::string& folder);

  // `path` is the decoded request path, starting with "/".
  bool find(const std::string& path, Found* found);

 private:
  struct Entry {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0;
    std::string head;
    std::string notModified;
    std::string etag;
    std::string lastModified;
    std::shared_ptr<const std::string> body;  // null for a file not cached
  };

  int folder_ = -1;
  size_t cached_ = 0;
  std::unordered_map<std::string, Entry> entries_;
  std::unordered_map<std::string, std::chrono::steady_clock::time_point> misses_;  // when looked up
};

}  // namespace quenta

#endif  // QUENTA_HOST_STATICFILES_H_
