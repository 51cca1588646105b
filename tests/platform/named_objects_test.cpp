// Named mappings and mutexes between processes: each case forks the other
// process, which reports through its exit code (0 = all its checks held).
#include <sched.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "TempRoot.h"

namespace {

const long kErrorNotOwner = 288;

TEST(NamedObjectsTest, FirstCreatorGetsZeroesAndLaterOpenersTheSameBlock) {
  TempRoot root;
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
  EXPECT_EQ(failure(!CloseHandle(mapping)), ERROR_INVALID_HANDLE);
  EXPECT_EQ(view[60], 0x77);
  EXPECT_TRUE(UnmapViewOfFile(view));
  EXPECT_FALSE(UnmapViewOfFile(view));

  // Removing the root's objects starts them afresh.
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

TEST(NamedObjectsTest, MappingArgumentsAreChecked) {
  TempRoot root;
  HANDLE mapping = openMapping(u"SMALL", 100);
  ASSERT_NE(mapping, nullptr);
  // An opener may ask for less than was made (and gets all of it), never more.
  HANDLE smaller = openMapping(u"SMALL", 10);
  ASSERT_NE(smaller, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(MapViewOfFile(smaller, FILE_MAP_READ, 0, 0, 100), nullptr);
  EXPECT_EQ(failure(openMapping(u"SMALL", 101) == nullptr), ERROR_INVALID_PARAMETER);
  // A view may not reach past the end nor start off the granularity.
  EXPECT_EQ(failure(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 101) == nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 4, 1), nullptr);
  EXPECT_EQ(failure(openMapping(u"EMPTY", 0) == nullptr), ERROR_INVALID_PARAMETER);
  // A mapping is not a waitable object, nor a mutex one to release.
  EXPECT_EQ(WaitForSingleObject(mapping, 0), WAIT_FAILED);
  EXPECT_EQ(failure(!ReleaseMutex(mapping)), ERROR_INVALID_HANDLE);
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

// Other tools find a root's objects by the name docs/device-root.md gives:
// the 64-bit FNV-1a hash of the root's real path (offset basis and prime of
// the published algorithm).
TEST(NamedObjectsTest, ObjectNamesCarryTheFnv1aHashOfTheRoot) {
  TempRoot root;
  char real[PATH_MAX];
  ASSERT_NE(realpath(root.path().c_str(), real), nullptr);
  uint64_t hash = 14695981039346656037ull;
  for (const char* c = real; *c != 0; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
  char name[64];
  snprintf(name, sizeof name, "/dev/shm/quenta-%016llx-map-DNET_DATA", static_cast<unsigned long long>(hash));
  MappedBlock block(u"DNET_DATA", 64);
  ASSERT_NE(block.data(), nullptr);
  EXPECT_TRUE(std::filesystem::exists(name)) << name;
}

TEST(NamedObjectsTest, TwoRootsNeverShareAndOneRootAlwaysDoes) {
  TempRoot other;
  TempRoot root;  // current
  MappedBlock first(u"DB_LOG_DATA", 516);
  ASSERT_NE(first.data(), nullptr);
  first.data()[3] = 9;
  HANDLE firstMutex = CreateMutexW(nullptr, TRUE, u"DB_LOG_MMF_MUTEX");
  ASSERT_NE(firstMutex, nullptr);

  std::string sameAgain = root.path() + "/./";
  pid_t child = forkChild([&] {
    setenv("QUENTA_ROOT", other.path().c_str(), 1);
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
}

TEST(NamedObjectsTest, WaitTimesOutWhileAnotherProcessHoldsTheMutex) {
  TempRoot root;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
  ASSERT_NE(mutex, nullptr);
  Signal locked, done;
  pid_t child = holdMutex(u"DNET_MMF_MUTEX", &locked, &done, false);
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

TEST(NamedObjectsTest, OwnerDyingHoldingTheMutexAbandonsIt) {
  TempRoot root;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
  ASSERT_NE(mutex, nullptr);
  pid_t child = forkChild([] {
    HANDLE own = CreateMutexW(nullptr, FALSE, u"DNET_MMF_MUTEX");
    // Twice, so the death must undo a recursion as well.
    if (own == nullptr || WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 1;
    if (WaitForSingleObject(own, 1000) != WAIT_OBJECT_0) return 2;
    _exit(0);
  });
  ASSERT_EQ(exitCode(child), 0);
  EXPECT_EQ(WaitForSingleObject(mutex, 1000), WAIT_ABANDONED);
  // The waiter now owns it, once: another process is kept out until one release.
  EXPECT_EQ(mutexIsFree(u"DNET_MMF_MUTEX"), 1);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(mutexIsFree(u"DNET_MMF_MUTEX"), 0);
  // Back to normal for this process too.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(NamedObjectsTest, MutexIsRecursiveForItsOwnerAndOnlyTheOwnerReleases) {
  TempRoot root;
  HANDLE mutex = CreateMutexW(nullptr, TRUE, u"RECURSIVE");
  ASSERT_NE(mutex, nullptr);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, 100), WAIT_OBJECT_0);
  auto outsiderGetsIt = [] {
    return exitCode(forkChild([] {
      HANDLE own = CreateMutexW(nullptr, TRUE, u"RECURSIVE");
      if (own == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return 10;
      // Initial ownership goes only to the creator.
      if (ReleaseMutex(own) || GetLastError() != kErrorNotOwner) return 11;
      return WaitForSingleObject(own, 20) == WAIT_OBJECT_0 ? 1 : 0;
    }));
  };
  // Taken three times (initial owner + two waits): two releases are not enough.
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(outsiderGetsIt(), 0);

  // Another thread of the same process is an outsider too.
  DWORD threadRelease = TRUE, threadError = 0, threadWait = 0;
  std::thread([&] {
    threadRelease = ReleaseMutex(mutex);
    threadError = GetLastError();
    threadWait = WaitForSingleObject(mutex, 20);
  }).join();
  EXPECT_FALSE(threadRelease);
  EXPECT_EQ(threadError, kErrorNotOwner);
  EXPECT_EQ(threadWait, WAIT_TIMEOUT);

  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(outsiderGetsIt(), 1);
  EXPECT_EQ(failure(!ReleaseMutex(mutex)), kErrorNotOwner);
}

TEST(NamedObjectsTest, ProcessesRacingToCreateShareOneMutex) {
  // Children create the mutex and the counter block at the same moment and
  // count under the mutex; a lost update means two mutexes or none.
  TempRoot root;
  const int kChildren = 4, kRounds = 2000;
  Signal start;
  pid_t children[kChildren];
  for (pid_t& child : children) {
    child = forkChild([&] {
      if (!start.await()) return 1;
      MappedBlock block(u"COUNTER", 8);
      HANDLE mutex = CreateMutexW(nullptr, FALSE, u"COUNTER_MUTEX");
      if (block.data() == nullptr || mutex == nullptr) return 2;
      volatile DWORD* counter = reinterpret_cast<volatile DWORD*>(block.data());
      for (int round = 0; round < kRounds; ++round) {
        if (WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 3;
        DWORD value = *counter;
        sched_yield();
        *counter = value + 1;
        ReleaseMutex(mutex);
      }
      return 0;
    });
  }
  for (int i = 0; i < kChildren; ++i) start.raise();
  for (pid_t child : children) EXPECT_EQ(exitCode(child), 0);
  HANDLE mapping = openMapping(u"COUNTER", 8);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  DWORD* counter = static_cast<DWORD*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  ASSERT_NE(counter, nullptr);
  EXPECT_EQ(*counter, static_cast<DWORD>(kChildren * kRounds));
}

}  // namespace
