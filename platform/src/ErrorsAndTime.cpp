// Last-error codes and the tick counter.
#include <errno.h>
#include <time.h>

#include <atomic>

#include <QuentaPlatform.h>
#include <windows.h>

#include "PlatformInternal.h"

namespace quenta {
namespace {

// Constant-initialised, so no thread ever runs an initialiser for it.
thread_local DWORD lastError = ERROR_SUCCESS;

std::atomic<DWORD> tickOffset{0};

}  // namespace

void setTickOffset(DWORD offset) { tickOffset.store(offset, std::memory_order_relaxed); }

DWORD win32ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EBADF:
      return ERROR_INVALID_HANDLE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EBUSY:
    case ETXTBSY:
      return ERROR_SHARING_VIOLATION;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

}  // namespace quenta

extern "C" {

DWORD WINAPI GetLastError(void) { return quenta::lastError; }

void WINAPI SetLastError(DWORD dwErrCode) { quenta::lastError = dwErrCode; }

DWORD WINAPI GetTickCount(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  // Truncation to 32 bits is the device counter's wrap.
  return static_cast<DWORD>(milliseconds) + quenta::tickOffset.load(std::memory_order_relaxed);
}

}  // extern "C"
