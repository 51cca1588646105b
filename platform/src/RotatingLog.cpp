#include <RotatingLog.h>

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

namespace quenta {

RotatingLog::~RotatingLog() { closeFile(); }

void RotatingLog::closeFile() {
  if (ownsFd_) ::close(fd_);
  fd_ = -1;
  ownsFd_ = false;
  rotates_ = false;
  size_ = 0;
}

bool RotatingLog::open(const std::string& path, std::string* error) {
  pthread_mutex_lock(&lock_);
  closeFile();
  path_ = path;
  bool opened = true;
  if (path == "-") {
    fd_ = STDERR_FILENO;
  } else if (path.empty()) {
    fd_ = STDOUT_FILENO;
  } else if (!reopen()) {
    if (error != nullptr) *error = "cannot open " + path + ": " + std::strerror(errno);
    opened = false;
  }
  pthread_mutex_unlock(&lock_);
  return opened;
}

// Opens the path afresh; on failure the file already open stays in use.
bool RotatingLog::reopen() {
  int fresh = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  struct stat info;
  if (fresh < 0 || fstat(fresh, &info) != 0) {
    if (fresh >= 0) ::close(fresh);
    return false;
  }
  if (ownsFd_) ::close(fd_);
  fd_ = fresh;
  ownsFd_ = true;
  rotates_ = S_ISREG(info.st_mode);
  size_ = static_cast<unsigned long long>(info.st_size);
  inode_ = static_cast<unsigned long long>(info.st_ino);
  return true;
}

void RotatingLog::write(const char* data, size_t length) {
  pthread_mutex_lock(&lock_);
  struct stat named;
  if (rotates_ && (::stat(path_.c_str(), &named) != 0 || named.st_ino != inode_)) reopen();
  if (fd_ >= 0) {
    size_t written = 0;
    while (written < length) {
      ssize_t put = ::write(fd_, data + written, length - written);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) break;
      written += static_cast<size_t>(put);
    }
    size_ += written;
    if (rotates_ && size_ > kLogFileLimit) {
      ::rename(path_.c_str(), (path_ + ".1").c_str());
      reopen();
    }
  }
  pthread_mutex_unlock(&lock_);
}

}  // namespace quenta
