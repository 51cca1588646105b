// Device paths and the file functions: mapping under the root, refusal of
// paths that leave it, round trips and the Win32 error codes.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "TempRoot.h"

namespace {

TEST(DevicePathTest, MapsBackslashesUnderTheRoot) {
  TempRoot root;
  std::string host;
  ASSERT_TRUE(quenta::toHostPath(u"\\MMCMemory\\www\\wwwpub\\404.htm", &host));
  EXPECT_EQ(host, root.path() + "/MMCMemory/www/wwwpub/404.htm");
  ASSERT_TRUE(quenta::toHostPath(u"Temp\\a.bin", &host));  // leading backslash optional
  EXPECT_EQ(host, root.path() + "/Temp/a.bin");
  ASSERT_TRUE(quenta::toHostPath(u"\\a\\\\.\\b/c", &host));  // empty and "." components drop out
  EXPECT_EQ(host, root.path() + "/a/b/c");
  ASSERT_TRUE(quenta::toHostPath(u"\\caf\u00e9\\..x", &host));  // UTF-8 on the host; "..x" is a name
  EXPECT_EQ(host, root.path() + "/caf\xc3\xa9/..x");
}

TEST(DevicePathTest, RootReadOnEveryCall) {
  std::string host;
  unsetenv("QUENTA_ROOT");
  EXPECT_EQ(quenta::deviceRoot(), "");
  EXPECT_FALSE(quenta::toHostPath(u"\\a", &host));
  SetLastError(0);
  EXPECT_EQ(CreateFileW(u"\\a", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

  setenv("QUENTA_ROOT", "/first/", 1);
  ASSERT_TRUE(quenta::toHostPath(u"\\a", &host));
  EXPECT_EQ(host, "/first/a");
  setenv("QUENTA_ROOT", "/second", 1);
  ASSERT_TRUE(quenta::toHostPath(u"\\a", &host));
  EXPECT_EQ(host, "/second/a");
  unsetenv("QUENTA_ROOT");
}

TEST(DevicePathTest, DotDotRefusedAndNothingCreatedOutside) {
  TempRoot root;
  ASSERT_EQ(mkdir(root.host("inner").c_str(), 0777), 0);
  // The inner directory is the root; its parent must stay untouched.
  setenv("QUENTA_ROOT", root.host("inner").c_str(), 1);
  const char16_t* escapes[] = {u"\\..\\escaped.txt", u"\\a\\..\\..\\escaped.txt", u"..", u"\\a/../../escaped.txt",
                               u"\\sub\\.."};
  for (const char16_t* path : escapes) {
    std::string host;
    EXPECT_FALSE(quenta::toHostPath(path, &host));
    SetLastError(0);
    EXPECT_EQ(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    SetLastError(0);
    EXPECT_FALSE(CreateDirectoryW(path, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  }
  root.write("victim.txt", "keep");
  EXPECT_FALSE(DeleteFileW(u"\\..\\victim.txt"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(root.read("victim.txt"), "keep");
  EXPECT_FALSE(root.exists("escaped.txt"));
  EXPECT_FALSE(root.exists("inner/sub"));
  EXPECT_FALSE(root.exists("inner/a"));
}

TEST(DevicePathTest, WildcardsAreNotNames) {
  TempRoot root;
  EXPECT_EQ(CreateFileW(u"\\a*b", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(root.exists("a*b"));
}

std::string readAll(HANDLE file) {
  std::string content;
  char chunk[7];  // deliberately small: several reads per file
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) content.append(chunk, got);
  return content;
}

TEST(FileTest, WriteReadSeekTruncateDelete) {
  TempRoot root;
  ASSERT_TRUE(CreateDirectoryW(u"\\Temp", nullptr));
  HANDLE file = CreateFileW(u"\\Temp\\data.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(file, nullptr);
  const char text[] = "hello, device world";
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(file, text, sizeof text - 1, &written, nullptr));
  EXPECT_EQ(written, sizeof text - 1);
  DWORD high = 77;
  EXPECT_EQ(GetFileSize(file, &high), sizeof text - 1);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(file, 7, nullptr, FILE_BEGIN), 7u);
  EXPECT_EQ(readAll(file), "device world");
  // At the end: success with nothing read.
  char byte;
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(ReadFile(file, &byte, 1, nullptr, nullptr));  // Win32 needs the count
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), sizeof text - 6);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), sizeof text - 7);
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), sizeof text - 7);
  EXPECT_TRUE(FlushFileBuffers(file));

  // Before the start: refused, position unchanged.
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), sizeof text - 7);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(root.read("Temp/data.bin"), "hello, device");

  EXPECT_TRUE(DeleteFileW(u"\\Temp\\data.bin"));
  EXPECT_FALSE(root.exists("Temp/data.bin"));
  EXPECT_FALSE(DeleteFileW(u"\\Temp\\data.bin"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(FileTest, SixtyFourBitPositions) {
  TempRoot root;
  HANDLE file = CreateFileW(u"\\sparse", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);  // 4 GiB + 16
  EXPECT_EQ(high, 1);
  ASSERT_TRUE(SetEndOfFile(file));
  DWORD sizeHigh = 0;
  EXPECT_EQ(GetFileSize(file, &sizeHigh), 16u);
  EXPECT_EQ(sizeHigh, 1u);
  // Without the high half the position must fit in 32 bits.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  high = -1;
  EXPECT_EQ(SetFilePointer(file, -16, &high, FILE_END), 0u);  // back by 16 from the end
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_TRUE(CloseHandle(file));
}

TEST(FileTest, DispositionsAndTheirLastErrors) {
  TempRoot root;
  root.write("existing.txt", "old content");
  HANDLE file = CreateFileW(u"\\existing.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  EXPECT_EQ(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));

  file = CreateFileW(u"\\existing.txt", GENERIC_READ, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readAll(file), "old content");
  CloseHandle(file);

  file = CreateFileW(u"\\fresh.txt", GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  CloseHandle(file);
  EXPECT_TRUE(root.exists("fresh.txt"));

  file = CreateFileW(u"\\existing.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);

  root.write("existing.txt", "again");
  file = CreateFileW(u"\\existing.txt", GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(root.read("existing.txt"), "");
  // Truncation needs write access; an unknown disposition is refused.
  EXPECT_EQ(CreateFileW(u"\\existing.txt", GENERIC_READ, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateFileW(u"\\existing.txt", GENERIC_READ, 0, nullptr, 9, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CreateFileW(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  EXPECT_EQ(CreateFileW(u"\\missing.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(u"\\no\\such\\dir.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_FALSE(root.exists("no"));
}

TEST(FileTest, DirectoriesAndAccessRights) {
  TempRoot root;
  ASSERT_TRUE(CreateDirectoryW(u"\\dir", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"\\dir", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CreateDirectoryW(u"\\missing\\dir", nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // A directory is not a file.
  EXPECT_EQ(CreateFileW(u"\\dir", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(DeleteFileW(u"\\dir"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  root.write("ro.txt", "abc");
  HANDLE reader = CreateFileW(u"\\ro.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  DWORD count = 5;
  EXPECT_FALSE(WriteFile(reader, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(count, 0u);
  EXPECT_FALSE(SetEndOfFile(reader));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(reader);
  HANDLE writer = CreateFileW(u"\\ro.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  char buffer[4];
  EXPECT_FALSE(ReadFile(writer, buffer, sizeof buffer, &count, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CloseHandle(writer);
  EXPECT_EQ(root.read("ro.txt"), "abc");
}

TEST(FileTest, HandlesAreCheckedAndNeverReused) {
  TempRoot root;
  HANDLE bogus[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(static_cast<intptr_t>(0)),
                    reinterpret_cast<HANDLE>(static_cast<intptr_t>(1)),
                    reinterpret_cast<HANDLE>(static_cast<intptr_t>(STDERR_FILENO))};
  for (HANDLE handle : bogus) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD count;
    EXPECT_FALSE(WriteFile(handle, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
  }
  HANDLE first = CreateFileW(u"\\f", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_FALSE(CloseHandle(first));  // a second close of the same handle
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  HANDLE second = CreateFileW(u"\\f", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(second, first);
  DWORD count;
  EXPECT_FALSE(WriteFile(first, "x", 1, &count, nullptr));  // the stale handle stays dead
  EXPECT_TRUE(CloseHandle(second));
}

TEST(FileTest, ParallelThreadsOwnTheirFiles) {
  TempRoot root;
  constexpr int kThreads = 8;
  constexpr int kRounds = 50;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      std::u16string name = u"\\t" + std::u16string(1, static_cast<char16_t>(u'a' + t));
      for (int round = 0; round < kRounds; ++round) {
        HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
          ++failures;
          continue;
        }
        DWORD value = static_cast<DWORD>(t * 1000 + round);
        DWORD count = 0;
        DWORD back = 0;
        bool ok = WriteFile(file, &value, sizeof value, &count, nullptr) &&
                  SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
                  ReadFile(file, &back, sizeof back, &count, nullptr) && back == value;
        if (!ok || !CloseHandle(file)) ++failures;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
