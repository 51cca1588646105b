#include "host/StaticFiles.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <strings.h>

namespace quenta {
namespace {

// The page a folder's path ("/", "/setup/") answers with.
const char kStartPage[] = "index.html";
// Paths remembered at most (each existing file has one or a few); past it
// the table starts again.
const size_t kMaxEntries = 4096;

// File name endings and the Content-Type they are sent with; anything else
// is application/octet-stream.
const struct {
  const char* ending;
  const char* type;
} kContentTypes[] = {
    {".html", "text/html"},        {".htm", "text/html"},        {".css", "text/css"},
    {".js", "text/javascript"},    {".json", "application/json"}, {".txt", "text/plain"},
    {".xml", "text/xml"},          {".svg", "image/svg+xml"},    {".png", "image/png"},
    {".gif", "image/gif"},         {".jpg", "image/jpeg"},       {".jpeg", "image/jpeg"},
    {".ico", "image/x-icon"},      {".pdf", "application/pdf"},  {".woff", "font/woff"},
    {".woff2", "font/woff2"},      {".ttf", "font/ttf"},
};

const char* contentType(const std::string& path) {
  for (const auto& known : kContentTypes) {
    size_t length = std::strlen(known.ending);
    if (path.size() > length && strcasecmp(path.c_str() + path.size() - length, known.ending) == 0) {
      return known.type;
    }
  }
  return "application/octet-stream";
}

// Opens `relative` under `folder` without leaving it, never through a link
// that resolves outside it or has an absolute target.
int openBeneath(int folder, const std::string& relative) {
  open_how how;
  std::memset(&how, 0, sizeof(how));
  how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;  // a FIFO must not hold the io thread
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof(how)));
}

void describe(const std::string& path, const struct stat& info, std::string* head,
              std::string* notModified, std::string* etag, std::string* lastModified) {
  char text[160];
  tm utc;
  gmtime_r(&info.st_mtim.tv_sec, &utc);
  strftime(text, sizeof(text), "%a, %d %b %Y %H:%M:%S GMT", &utc);
  *lastModified = text;
  std::snprintf(text, sizeof(text), "\"%llx-%llx-%llx\"", static_cast<unsigned long long>(info.st_ino),
                static_cast<unsigned long long>(info.st_size),
                static_cast<unsigned long long>(info.st_mtim.tv_sec) * 1000000000ull +
                    static_cast<unsigned long long>(info.st_mtim.tv_nsec));
  *etag = text;
  // "no-cache": a browser asks again every time (answered 304 while the file
  // is unchanged), so a new card is seen at once.
  std::string validators = "Last-Modified: " + *lastModified + "\r\nETag: " + *etag +
                           "\r\nCache-Control: no-cache\r\n";
  *head = std::string("HTTP/1.1 200 OK\r\nContent-Type: ") + contentType(path) +
          "\r\nContent-Length: " + std::to_string(static_cast<long long>(info.st_size)) + "\r\n" + validators;
  *notModified = "HTTP/1.1 304 Not Modified\r\n" + validators;
}

}  // namespace

StaticFiles::~StaticFiles() {
  if (folder_ >= 0) close(folder_);
}

bool StaticFiles::open(const std::string& folder) {
  folder_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return folder_ >= 0;
}

bool StaticFiles::find(const std::string& path, Found* found) {
  if (folder_ < 0 || path.empty() || path[0] != '/') return false;
  size_t start = path.find_first_not_of('/');
  std::string relative = start == std::string::npos ? std::string() : path.substr(start);
  if (relative.empty() || relative.back() == '/') relative += kStartPage;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  auto missed = misses_.find(relative);
  if (missed != misses_.end()) {
    if (now - missed->second < kMissMemory) return false;
    misses_.erase(missed);
  }
  int fd = openBeneath(folder_, relative);
  if (fd < 0) {
    // Only "nothing there" is remembered: a link out of the card or a lack
    // of descriptors is asked again.
    if (errno == ENOENT || errno == ENOTDIR) {
      if (misses_.size() >= kMaxEntries) misses_.clear();
      misses_.emplace(relative, now);
    }
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return false;
  }
  long long modifiedNs = static_cast<long long>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
  auto known = entries_.find(relative);
  if (known == entries_.end() || known->second.device != info.st_dev || known->second.inode != info.st_ino ||
      known->second.size != info.st_size || known->second.modifiedNs != modifiedNs) {
    if (known == entries_.end() && entries_.size() >= kMaxEntries) {
      entries_.clear();
      cached_ = 0;
    }
    Entry& entry = entries_[relative];
    if (entry.body != nullptr) cached_ -= entry.body->size();
    entry = Entry();
    entry.device = info.st_dev;
    entry.inode = info.st_ino;
    entry.size = info.st_size;
    entry.modifiedNs = modifiedNs;
    describe(relative, info, &entry.head, &entry.notModified, &entry.etag, &entry.lastModified);
    size_t size = static_cast<size_t>(info.st_size);
    if (size > 0 && size <= kCachedFileLimit && cached_ + size <= kCacheLimit) {
      std::shared_ptr<std::string> body = std::make_shared<std::string>(size, '\0');
      // A file that changed while it was read is sent from its descriptor.
      if (pread(fd, &(*body)[0], size, 0) == static_cast<ssize_t>(size)) {
        entry.body = body;
        cached_ += size;
      }
    }
    known = entries_.find(relative);
  }
  const Entry& entry = known->second;
  found->head = &entry.head;
  found->notModified = &entry.notModified;
  found->etag = &entry.etag;
  found->lastModified = &entry.lastModified;
  found->size = static_cast<size_t>(info.st_size);
  found->body = entry.body;
  found->fd = -1;
  if (entry.body != nullptr || info.st_size == 0) {
    close(fd);
  } else {
    found->fd = fd;
  }
  return true;
}

}  // namespace quenta
