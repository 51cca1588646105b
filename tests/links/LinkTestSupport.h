// Helpers for the machine-link tests: a fresh device root whose named objects
// are removed again afterwards, a forked second process standing in for the
// machine's control or log process, and a one-byte signal between the two.
#ifndef QUENTA_TESTS_LINKS_LINKTESTSUPPORT_H_
#define QUENTA_TESTS_LINKS_LINKTESTSUPPORT_H_

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include <QuentaPlatform.h>
#include <windows.h>

class LinkRoot {
 public:
  LinkRoot() {
    char pattern[] = "/tmp/quenta-links-XXXXXX";
    if (mkdtemp(pattern) != nullptr) rootPath = pattern;
    setenv("QUENTA_ROOT", rootPath.c_str(), 1);
  }
  ~LinkRoot() {
    setenv("QUENTA_ROOT", rootPath.c_str(), 1);
    quenta::removeNamedObjects(nullptr);
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    if (!rootPath.empty()) std::filesystem::remove_all(rootPath, ignored);
  }
  const std::string& path() const { return rootPath; }

 private:
  std::string rootPath;
  LinkRoot(const LinkRoot&) = delete;
  LinkRoot& operator=(const LinkRoot&) = delete;
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

inline long long millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// The other side's view of a named block, opened as the machine's processes do.
class SharedBlock {
 public:
  SharedBlock(LPCWSTR name, DWORD size) {
    mapping = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, size, name);
    if (mapping != nullptr) bytes = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  }
  ~SharedBlock() {
    if (bytes != nullptr) UnmapViewOfFile(bytes);
    if (mapping != nullptr) CloseHandle(mapping);
  }
  BYTE* data() { return bytes; }

 private:
  HANDLE mapping = nullptr;
  BYTE* bytes = nullptr;
};

#endif  // QUENTA_TESTS_LINKS_LINKTESTSUPPORT_H_
