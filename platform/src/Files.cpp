// Files on the device root, under the Win32 file functions. A file handle is a
// FileObject in the handle table; its descriptor closes when the last user of
// the object lets go of it.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <new>
#include <string>

#include <windows.h>

#include "Handles.h"
#include "PlatformInternal.h"

namespace quenta {
namespace {

struct FileObject : HandleObject {
  FileObject(int descriptor, bool readable, bool writable)
      : HandleObject(HandleType::kFile), fd(descriptor), canRead(readable), canWrite(writable) {}
  ~FileObject() override { ::close(fd); }

  const int fd;
  const bool canRead;
  const bool canWrite;
};

std::shared_ptr<FileObject> lookupFile(HANDLE handle) {
  return lookupHandleAs<FileObject>(handle, HandleType::kFile);
}

bool directoryExists(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The Win32 error for a failed operation on a path: a missing file in an
// existing directory is ERROR_FILE_NOT_FOUND, a missing directory on the way
// ERROR_PATH_NOT_FOUND.
DWORD pathError(int error, const std::string& path) {
  if (error == ENOENT && !directoryExists(parentOf(path))) return ERROR_PATH_NOT_FOUND;
  return win32ErrorFromErrno(error);
}

// Maps the path, setting the last error when that fails.
bool mapPath(LPCWSTR devicePath, std::string* hostPath) {
  DWORD error;
  try {
    error = mapDevicePath(devicePath, hostPath);
  } catch (const std::bad_alloc&) {
    error = ERROR_NOT_ENOUGH_MEMORY;
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return false;
  }
  return true;
}

int openRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens the file as the disposition asks. *existed tells whether a file was
// already there (CREATE_ALWAYS and OPEN_ALWAYS report that through the last
// error). Returns the descriptor or -1 with errno set.
int openForDisposition(const std::string& path, int accessFlags, DWORD disposition, bool* existed) {
  *existed = false;
  switch (disposition) {
    case CREATE_NEW:
      return openRetrying(path.c_str(), accessFlags | O_CREAT | O_EXCL);
    case OPEN_EXISTING:
      return openRetrying(path.c_str(), accessFlags);
    case TRUNCATE_EXISTING:
      return openRetrying(path.c_str(), accessFlags | O_TRUNC);
    default:
      break;
  }
  int existingFlags = accessFlags | (disposition == CREATE_ALWAYS ? O_TRUNC : 0);
  // Try to create first, then to open what is there; a file deleted in
  // between sends us round again.
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = openRetrying(path.c_str(), accessFlags | O_CREAT | O_EXCL);
    if (fd >= 0 || errno != EEXIST) return fd;
    fd = openRetrying(path.c_str(), existingFlags);
    if (fd >= 0) {
      *existed = true;
      return fd;
    }
    if (errno != ENOENT) return fd;
  }
  errno = EBUSY;
  return -1;
}

}  // namespace
}  // namespace quenta

using quenta::FileObject;

extern "C" {

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  HANDLE device;
  if (quenta::openDeviceFile(lpFileName, &device)) return device;
  // Share modes are accepted and not enforced: every opener of a device file
  // is in this process or cooperates with it.
  bool readable = (dwDesiredAccess & GENERIC_READ) != 0;
  bool writable = (dwDesiredAccess & GENERIC_WRITE) != 0;
  if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
      (dwCreationDisposition == TRUNCATE_EXISTING && !writable)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!quenta::mapPath(lpFileName, &path)) return INVALID_HANDLE_VALUE;

  int accessFlags = writable ? (readable ? O_RDWR : O_WRONLY) : O_RDONLY;
  bool existed = false;
  int fd = quenta::openForDisposition(path, accessFlags, dwCreationDisposition, &existed);
  if (fd < 0) {
    int error = errno;
    if (error == EEXIST) {
      SetLastError(ERROR_FILE_EXISTS);
    } else {
      SetLastError(quenta::pathError(error, path));
    }
    return INVALID_HANDLE_VALUE;
  }
  // Win32 does not open a directory as a file.
  struct stat info;
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE handle = nullptr;
  try {
    handle = quenta::registerHandle(std::make_shared<FileObject>(fd, readable, writable));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
  }
  if (handle == nullptr) return INVALID_HANDLE_VALUE;  // the object closed the descriptor
  bool reportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
  SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  std::shared_ptr<FileObject> file = quenta::lookupFile(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr || lpNumberOfBytesRead == nullptr ||
      (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canRead) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  char* buffer = static_cast<char*>(lpBuffer);
  DWORD total = 0;
  while (total < nNumberOfBytesToRead) {
    ssize_t got = ::read(file->fd, buffer + total, nNumberOfBytesToRead - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      *lpNumberOfBytesRead = total;
      SetLastError(error == EIO ? ERROR_READ_FAULT : quenta::win32ErrorFromErrno(error));
      return FALSE;
    }
    if (got == 0) break;  // end of file: success with what was there
    total += static_cast<DWORD>(got);
  }
  *lpNumberOfBytesRead = total;
  return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  std::shared_ptr<FileObject> file = quenta::lookupFile(hFile);
  if (!file) return FALSE;
  if (lpOverlapped != nullptr || lpNumberOfBytesWritten == nullptr ||
      (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!file->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  const char* buffer = static_cast<const char*>(lpBuffer);
  DWORD total = 0;
  while (total < nNumberOfBytesToWrite) {
    ssize_t put = ::write(file->fd, buffer + total, nNumberOfBytesToWrite - total);
    if (put < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      *lpNumberOfBytesWritten = total;
      SetLastError(error == EIO ? ERROR_WRITE_FAULT : quenta::win32ErrorFromErrno(error));
      return FALSE;
    }
    total += static_cast<DWORD>(put);
  }
  *lpNumberOfBytesWritten = total;
  return TRUE;
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
  std::shared_ptr<FileObject> file = quenta::lookupFile(hFile);
  if (!file) return INVALID_FILE_SIZE;
  struct stat info;
  if (fstat(file->fd, &info) != 0) {
    SetLastError(quenta::win32ErrorFromErrno(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  if (lpFileSizeHigh != nullptr) *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
  // A size whose low half is INVALID_FILE_SIZE is told from a failure by the
  // last error, as on Win32.
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  std::shared_ptr<FileObject> file = quenta::lookupFile(hFile);
  if (!file) return INVALID_SET_FILE_POINTER;
  static const int kWhence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
  if (dwMoveMethod > FILE_END) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh != nullptr) {
    distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                    static_cast<uint32_t>(lDistanceToMove));
  }
  off_t start = 0;
  if (dwMoveMethod == FILE_CURRENT) {
    start = lseek(file->fd, 0, SEEK_CUR);
  } else if (dwMoveMethod == FILE_END) {
    struct stat info;
    start = fstat(file->fd, &info) == 0 ? info.st_size : -1;
  }
  if (start < 0) {
    SetLastError(quenta::win32ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  // Checked here rather than left to lseek so that a refused move leaves the
  // position where it was.
  if (distance < 0 && static_cast<int64_t>(start) + distance < 0) {
    SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  int64_t target = static_cast<int64_t>(start) + distance;
  if (lpDistanceToMoveHigh == nullptr && target > static_cast<int64_t>(0xFFFFFFFEu)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off_t reached = lseek(file->fd, static_cast<off_t>(distance), kWhence[dwMoveMethod]);
  if (reached < 0) {
    SetLastError(errno == EINVAL ? ERROR_NEGATIVE_SEEK : quenta::win32ErrorFromErrno(errno));
    return INVALID_SET_FILE_POINTER;
  }
  uint64_t position = static_cast<uint64_t>(reached);
  if (lpDistanceToMoveHigh != nullptr) *lpDistanceToMoveHigh = static_cast<LONG>(position >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(position);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
  std::shared_ptr<FileObject> file = quenta::lookupFile(hFile);
  if (!file) return FALSE;
  if (!file->canWrite) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  off_t position = lseek(file->fd, 0, SEEK_CUR);
  if (position < 0 || ftruncate(file->fd, position) != 0) {
    SetLastError(quenta::win32ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  std::string path;
  if (!quenta::mapPath(lpFileName, &path)) return FALSE;
  if (::unlink(path.c_str()) != 0) {
    // Linux says EISDIR for a directory; Win32 says access denied.
    SetLastError(quenta::pathError(errno, path));
    return FALSE;
  }
  return TRUE;
}

}  // extern "C"
