// A log that never grows past a size cap: once a write takes the file past
// kLogFileLimit bytes it is renamed to "<path>.1" (replacing the one before)
// and a new file is started, so one log keeps at most twice the cap on disk.
// "-" names standard error and "" standard output; neither rotates, nor does
// anything that is not a regular file (/dev/null, a pipe).
//
// Each write() is one write(2) on an O_APPEND descriptor, so lines from
// several threads never interleave; a mutex covers the size count and the
// switch to a new file, so write() may be called from any thread at once.
// A file that was moved away or removed (by the other process writing it, by
// logrotate, by hand) is noticed at the next write, which starts a new one.
#ifndef QUENTA_PLATFORM_ROTATINGLOG_H_
#define QUENTA_PLATFORM_ROTATINGLOG_H_

#include <pthread.h>

#include <cstddef>
#include <string>

namespace quenta {

const unsigned long long kLogFileLimit = 16ull * 1024 * 1024;

class RotatingLog {
 public:
  RotatingLog() = default;
  ~RotatingLog();
  RotatingLog(const RotatingLog&) = delete;
  RotatingLog& operator=(const RotatingLog&) = delete;

  // Closes what was open and opens `path` for appending. On failure `error`
  // (may be null) says why and the log writes nowhere.
  bool open(const std::string& path, std::string* error);
  const std::string& path() const { return path_; }

  // A write that fails is dropped: a full disk never stops the caller.
  void write(const char* data, size_t length);

 private:
  void closeFile();
  bool reopen();

  pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
  std::string path_;
  int fd_ = -1;
  bool ownsFd_ = false;
  bool rotates_ = false;
  unsigned long long size_ = 0;
  unsigned long long inode_ = 0;  // of the file the path named at open
};

}  // namespace quenta

#endif  // QUENTA_PLATFORM_ROTATINGLOG_H_
