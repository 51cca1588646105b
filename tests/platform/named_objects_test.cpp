// Named mappings and mutexes between processes: each case forks the other
// process, which reports through its exit code (0 = all its checks held).
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

namespace {

const DWORD kErrorNotOwner = 288;

class NamedObjectsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = makeRoot();
    ASSERT_FALSE(root.empty());
    setenv("QUENTA_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    for (const std::string& dir : roots) {
      setenv("QUENTA_ROOT", dir.c_str(), 1);
      quenta::removeNamedObjects(nullptr);
      rmdir(dir.c_str());
    }
    unsetenv("QUENTA_ROOT");
  }

  std::string makeRoot() {
    char pattern[] = "/tmp/quenta-named-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return "";
    roots.push_back(pattern);
    return pattern;
  }

  std::string root;
  std::vector<std::string> roots;
};

// Runs body in a forked child; its return value becomes the exit code.
template <typename Body>
pid_t forkChild(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

int exitCode(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

// A one-byte signal between the processes.
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

long long millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

HANDLE openMapping(LPCWSTR name, DWORD size) {
  return CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0, size, name);
}

TEST_F(NamedObjectsTest, FirstCreatorGetsZeroesAndLaterOpenersTheSameBlock) {
  HANDLE mapping = openMapping(u"DNET_DATA", 121);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  BYTE* view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  for (int i = 0; i < 121; ++i) ASSERT_EQ(view[i], 0) << i;
  view[0] = 0xA5;
  view[120] = 0x5A;

  pid_t child = forkChild([] {
    HANDLE other = openMapping(u"DNET_DATA", 121);
    if (other == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
    BYTE* block = static_cast<BYTE*>(MapViewOfFile(other, FILE_MAP_ALL_ACCESS, 0, 0, 121));
    if (block == nullptr || block[0] != 0xA5 || block[120] != 0x5A) return 2;
    block[60] = 0x77;
    return 0;
  });
  ASSERT_EQ(exitCode(child), 0);
  EXPECT_EQ(view[60], 0x77);

  // The view outlives the handle, as on Win32.
  EXPECT_TRUE(CloseHandle(mapping));
  EXPECT_FALSE(CloseHandle(mapping));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(view[60], 0x77);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));
}

TEST_F(NamedObjectsTest, MappingArgumentsAreChecked) {
  HANDLE mapping = openMapping(u"SMALL", 100);
  ASSERT_NE(mapping, nullptr);
  // An opener may ask for less than was made (and gets all of it), never more.
  HANDLE smaller = openMapping(u"SMALL", 10);
  ASSERT_NE(smaller, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(MapViewOfFile(smaller, FILE_MAP_READ, 0, 0, 100), nullptr);
  EXPECT_EQ(openMapping(u"SMALL", 101), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A view may not reach past the end nor start off the granularity.
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 101), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 4, 1), nullptr);
  EXPECT_EQ(openMapping(u"EMPTY", 0), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  // A mapping is not a waitable object, nor a mutex one to release.
  EXPECT_EQ(WaitForSingleObject(mapping, 0), WAIT_FAILED);
  EXPECT_FALSE(ReleaseMutex(mapping));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  // Names cannot climb out of the namespace.
  HANDLE slashed = openMapping(u"../x/\\y", 8);
  EXPECT_NE(slashed, nullptr);
  CloseHandle(slashed);
  CloseHandle(smaller);
  CloseHandle(mapping);

  unsetenv("QUENTA_ROOT");
  EXPECT_EQ(openMapping(u"NOROOT", 8), nullptr);
  EXPECT_EQ(CreateMutexW(nullptr, FALSE, u"NOROOT"), nullptr);
}

TEST_F(NamedObjectsTest, TwoRootsNeverShareAndOneRootAlwaysDoes) {
  HANDLE first = openMapping(u"DB_LOG_DATA", 516);
  ASSERT_NE(first, nullptr);
  BYTE* firstView = static_cast<BYTE*>(MapViewOfFile(first, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(firstView, nullptr);
  firstView[3] = 9;
  HANDLE firstMutex = CreateMutexW(nullptr, TRUE, u"DB_LOG_MMF_MUTEX");
  ASSERT_NE(firstMutex, nullptr);

  std::string other = makeRoot();
  std::string sameAgain = root + "/./";
  pid_t child = forkChild([&] {
    setenv("QUENTA_ROOT", other.c_str(), 1);
    HANDLE mapping = openMapping(u"DB_LOG_DATA", 516);
    if (mapping == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) return 1;
    BYTE* view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (view == nullptr || view[3] != 0) return 2;
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DB_LOG_MMF_MUTEX");
    if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return 3;
    // The first root, spelled differently, is the same namespace.
    setenv("QUENTA_ROOT", sameAgain.c_str(), 1);
    HANDLE again = openMapping(u"DB_LOG_DATA", 516);
    if (again == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 4;
    BYTE* againView = static_cast<BYTE*>(MapViewOfFile(again, FILE_MAP_READ, 0, 0, 0));
    if (againView == nullptr || againView[3] != 9) return 5;
    HANDLE held = CreateMutexW(nullptr, FALSE, u"DB_LOG_MMF_MUTEX");
    if (held == nullptr || WaitForSingleObject(held, 0) != WAIT_TIMEOUT) return 6;
    return 0;
  });
  EXPECT_EQ(exitCode(child), 0);
  EXPECT_TRUE(ReleaseMutex(firstMutex));
  CloseHandle(firstMutex);
  CloseHandle(first);
  UnmapViewOfFile(firstView);
}

TEST_F(NamedObjectsTest, WaitTimesOutWhileAnotherProcessHoldsTheMutex) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
  ASSERT_NE(mutex, nullptr);
  Signal locked, done;
  pid_t child = forkChild([&] {
    HANDLE own = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    if (own == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 1;
    if (WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 2;
    locked.raise();
    done.await();
    return ReleaseMutex(own) ? 0 : 3;
  });
  ASSERT_TRUE(locked.await());
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(mutex, 200), WAIT_TIMEOUT);
  long long waited = millisecondsSince(start);
  EXPECT_GE(waited, 190);
  EXPECT_LT(waited, 1000);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
  done.raise();
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(exitCode(child), 0);
  EXPECT_TRUE(CloseHandle(mutex));
}

TEST_F(NamedObjectsTest, OwnerDyingHoldingTheMutexAbandonsIt) {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
  ASSERT_NE(mutex, nullptr);
  pid_t child = forkChild([] {
    HANDLE own = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    if (own == nullptr) return 1;
    // Twice, so the death must undo a recursion as well.
    if (WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 2;
    if (WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 3;
    _exit(0);
  });
  ASSERT_EQ(exitCode(child), 0);
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
  // The waiter now owns it, once: another process is kept out until one release.
  pid_t blocked = forkChild([] {
    HANDLE own = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    return own != nullptr && WaitForSingleObject(own, 50) == WAIT_TIMEOUT ? 0 : 1;
  });
  EXPECT_EQ(exitCode(blocked), 0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  pid_t after = forkChild([] {
    HANDLE own = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    if (own == nullptr || WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 1;
    return ReleaseMutex(own) ? 0 : 2;
  });
  EXPECT_EQ(exitCode(after), 0);
  // Back to normal for this process too.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST_F(NamedObjectsTest, MutexIsRecursiveForItsOwnerAndOnlyTheOwnerReleases) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, u"RECURSIVE");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 100), WAIT_OBJECT_0);
  auto outsiderGetsIt = [] {
    pid_t child = forkChild([] {
      HANDLE own = CreateMutexW(nullptr, TRUE, u"RECURSIVE");
      if (own == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 10;
      // Initial ownership goes only to the creator.
      if (ReleaseMutex(own) || GetLastError() != kErrorNotOwner) return 11;
      return WaitForSingleObject(own, 20) == WAIT_OBJECT_0 ? 1 : 0;
    });
    return exitCode(child);
  };
  // Taken three times (initial owner + two waits): two releases are not enough.
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(outsiderGetsIt(), 0);

  // Another thread of the same process is an outsider too.
  DWORD threadRelease = TRUE;
  DWORD threadError = 0;
  DWORD threadWait = 0;
  std::thread other([&] {
    threadRelease = ReleaseMutex(mutex);
    threadError = GetLastError();
    threadWait = WaitForSingleObject(mutex, 20);
  });
  other.join();
  EXPECT_FALSE(threadRelease);
  EXPECT_EQ(threadError, kErrorNotOwner);
  EXPECT_EQ(threadWait, WAIT_TIMEOUT);

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(outsiderGetsIt(), 1);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), kErrorNotOwner);
}

TEST_F(NamedObjectsTest, ProcessesRacingToCreateShareOneMutex) {
  // Children create the mutex and the counter block at the same moment and
  // count under the mutex; a lost update means two mutexes or none.
  const int kChildren = 4;
  const int kRounds = 2000;
  Signal start;
  pid_t children[kChildren];
  for (int i = 0; i < kChildren; ++i) {
    children[i] = forkChild([&] {
      if (!start.await()) return 1;
      HANDLE mapping = openMapping(u"COUNTER", 8);
      HANDLE mutex = CreateMutexW(nullptr, FALSE, u"COUNTER_MUTEX");
      if (mapping == nullptr || mutex == nullptr) return 2;
      volatile DWORD* counter = static_cast<volatile DWORD*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
      if (counter == nullptr) return 3;
      for (int round = 0; round < kRounds; ++round) {
        if (WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 4;
        DWORD value = *counter;
        sched_yield();
        *counter = value + 1;
        ReleaseMutex(mutex);
      }
      return 0;
    });
  }
  for (int i = 0; i < kChildren; ++i) start.raise();
  for (int i = 0; i < kChildren; ++i) EXPECT_EQ(exitCode(children[i]), 0);
  HANDLE mapping = openMapping(u"COUNTER", 8);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD* counter = static_cast<DWORD*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(*counter, static_cast<DWORD>(kChildren * kRounds));
}

TEST_F(NamedObjectsTest, RemovingTheRootsObjectsStartsThemAfresh) {
  HANDLE mapping = openMapping(u"DNET_DATA", 121);
  ASSERT_NE(mapping, nullptr);
  BYTE* view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  view[0] = 1;
  CloseHandle(mapping);
  UnmapViewOfFile(view);
  ASSERT_NE(CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX"), nullptr);

  std::string error;
  EXPECT_TRUE(quenta::removeNamedObjects(&error)) << error;
  mapping = openMapping(u"DNET_DATA", 121);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  view = static_cast<BYTE*>(MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view[0], 0);
  EXPECT_NE(CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
}

}  // namespace
