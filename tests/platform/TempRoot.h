// Helpers for the platform and machine-link tests: an empty device root named
// in QUENTA_ROOT (its files and named objects go with it), a forked second
// process that answers through its exit code, a one-byte signal between the
// two, and a named block opened as the machine's processes open it.
#ifndef QUENTA_TESTS_PLATFORM_TEMPROOT_H_
#define QUENTA_TESTS_PLATFORM_TEMPROOT_H_

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <windows.h>

#include "tests/support/TestRoot.h"

class TempRoot : public TestRoot {
 public:
  TempRoot() : TestRoot(false) { setenv("QUENTA_ROOT", path().c_str(), 1); }
  ~TempRoot() { unsetenv("QUENTA_ROOT"); }
  std::string host(const std::string& relative) const { return path() + "/" + relative; }
  bool exists(const std::string& relative) const { return std::filesystem::exists(host(relative)); }
};

// Runs body in a forked child; its return value becomes the exit code.
template <typename Body>
pid_t forkChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

inline int exitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

struct Signal {
  Signal() {
    if (pipe(fds) != 0) fds[0] = fds[1] = -1;
  }
  ~Signal() {
    close(fds[0]);
    close(fds[1]);
  }
  void raise() { (void)!write(fds[1], "x", 1); }
  bool await() {
    char c;
    return read(fds[0], &c, 1) == 1;
  }
  int fds[2];
};

// A child that takes the named mutex, says so, and holds it until released
// (or, with die, exits still holding it).
inline pid_t holdMutex(LPCWSTR name, Signal* locked, Signal* release, bool die) {
  return forkChild([=] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr || WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 1;
    locked->raise();
    if (die) _exit(0);
    release->await();
    return ReleaseMutex(mutex) ? 0 : 2;
  });
}

// A child that must get the named mutex at once (nobody holds it).
inline int mutexIsFree(LPCWSTR name) {
  return exitCode(forkChild([name] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name);
    if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return 1;
    return ReleaseMutex(mutex) ? 0 : 2;
  }));
}

// The last error left by a call that failed (failed true), or -1 if it did not fail.
inline long lastError() { return static_cast<long>(GetLastError()); }
inline long failure(bool failed) { return failed ? lastError() : -1; }

inline long long millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// A key under HKEY_LOCAL_MACHINE, made if missing; its text and DWORD values.
inline HKEY createKey(const char16_t* path) {
  HKEY key = nullptr;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, 0, nullptr, &key, nullptr) == ERROR_SUCCESS ? key
                                                                                                              : nullptr;
}
inline LONG setText(HKEY key, const char16_t* name, const std::u16string& text, DWORD type = REG_SZ) {
  return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * 2));
}
inline LONG setDword(HKEY key, const char16_t* name, DWORD value) {
  return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

inline HANDLE openMapping(LPCWSTR name, DWORD size) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, size, name);
}

class MappedBlock {
 public:
  MappedBlock(LPCWSTR name, DWORD size) : mapping(openMapping(name, size)) {
    if (mapping != nullptr) bytes = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }
  ~MappedBlock() {
    if (bytes != nullptr) UnmapViewOfFile(bytes);
    if (mapping != nullptr) CloseHandle(mapping);
  }
  MappedBlock(const MappedBlock&) = delete;
  MappedBlock& operator=(const MappedBlock&) = delete;
  BYTE* data() { return bytes; }

 private:
  HANDLE mapping;
  BYTE* bytes = nullptr;
};

#endif  // QUENTA_TESTS_PLATFORM_TEMPROOT_H_
