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

HANDLE open(const char16_t* path, DWORD access, DWORD disposition) {
  return CreateFileW(path, access, 0, nullptr, disposition, 0, nullptr);
}

std::string readAll(HANDLE file) {
  std::string content;
  char chunk[7];  // deliberately small: several reads per file
  DWORD got = 0;
  while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got != 0) content.append(chunk, got);
  return content;
}

TEST(DevicePathTest, MapsBackslashesUnderTheRootReadOnEveryCall) {
  TempRoot root;
  const struct { const char16_t* device; const char* host; } cases[] = {
      {u"\\MMCMemory\\www\\wwwpub\\404.htm", "/MMCMemory/www/wwwpub/404.htm"},
      {u"Temp\\a.bin", "/Temp/a.bin"},              // leading backslash optional
      {u"\\a\\\\.\\b/c", "/a/b/c"},                 // empty and "." components drop out
      {u"\\caf\u00e9\\..x", "/caf\xc3\xa9/..x"},  // UTF-8 on the host; "..x" is a name
  };
  std::string host;
  for (const auto& c : cases) {
    ASSERT_TRUE(quenta::toHostPath(c.device, &host)) << c.host;
    EXPECT_EQ(host, root.path() + c.host);
  }
  setenv("QUENTA_ROOT", "/first/", 1);
  ASSERT_TRUE(quenta::toHostPath(u"\\a", &host));
  EXPECT_EQ(host, "/first/a");
  setenv("QUENTA_ROOT", "/second", 1);
  ASSERT_TRUE(quenta::toHostPath(u"\\a", &host));
  EXPECT_EQ(host, "/second/a");
  unsetenv("QUENTA_ROOT");
  EXPECT_EQ(quenta::deviceRoot(), "");
  EXPECT_FALSE(quenta::toHostPath(u"\\a", &host));
  EXPECT_EQ(failure(open(u"\\a", GENERIC_READ, OPEN_EXISTING) == INVALID_HANDLE_VALUE), ERROR_PATH_NOT_FOUND);
}

TEST(DevicePathTest, DotDotRefusedAndNothingCreatedOutside) {
  TempRoot root;
  ASSERT_EQ(mkdir(root.host("inner").c_str(), 0777), 0);
  // The inner directory is the root; its parent must stay untouched.
  setenv("QUENTA_ROOT", root.host("inner").c_str(), 1);
  for (const char16_t* path :
       {u"\\..\\escaped.txt", u"\\a\\..\\..\\escaped.txt", u"..", u"\\a/../../escaped.txt", u"\\sub\\.."}) {
    std::string host;
    EXPECT_FALSE(quenta::toHostPath(path, &host));
    EXPECT_EQ(failure(open(path, GENERIC_WRITE, CREATE_ALWAYS) == INVALID_HANDLE_VALUE), ERROR_ACCESS_DENIED);
  }
  root.writeFile("victim.txt", "keep");
  EXPECT_EQ(failure(!DeleteFileW(u"\\..\\victim.txt")), ERROR_ACCESS_DENIED);
  EXPECT_EQ(root.readFile("victim.txt"), "keep");
  EXPECT_FALSE(root.exists("escaped.txt"));
  EXPECT_FALSE(root.exists("inner/sub"));
  EXPECT_FALSE(root.exists("inner/a"));
  // Wildcards are not names.
  EXPECT_EQ(failure(open(u"\\a*b", GENERIC_WRITE, CREATE_ALWAYS) == INVALID_HANDLE_VALUE), ERROR_INVALID_NAME);
  EXPECT_FALSE(root.exists("inner/a*b"));
}

TEST(FileTest, WriteReadSeekTruncateDelete) {
  TempRoot root;
  ASSERT_EQ(mkdir(root.host("Temp").c_str(), 0777), 0);
  HANDLE file = CreateFileW(u"\\Temp\\data.bin", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_NE(file, nullptr);
  const char text[] = "hello, device world";
  const DWORD size = sizeof text - 1;
  DWORD written = 0, high = 77;
  ASSERT_TRUE(WriteFile(file, text, size, &written, nullptr));
  EXPECT_EQ(written, size);
  EXPECT_EQ(GetFileSize(file, &high), size);
  EXPECT_EQ(high, 0u);

  EXPECT_EQ(SetFilePointer(file, 7, nullptr, FILE_BEGIN), 7u);
  EXPECT_EQ(readAll(file), "device world");
  // At the end: success with nothing read.
  char byte;
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(file, &byte, 1, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(failure(!ReadFile(file, &byte, 1, nullptr, nullptr)), ERROR_INVALID_PARAMETER);  // Win32 needs the count

  EXPECT_EQ(SetFilePointer(file, -5, nullptr, FILE_END), size - 5);
  EXPECT_EQ(SetFilePointer(file, -1, nullptr, FILE_CURRENT), size - 6);
  ASSERT_TRUE(SetEndOfFile(file));
  EXPECT_EQ(GetFileSize(file, nullptr), size - 6);
  // Before the start: refused, position unchanged.
  SetLastError(0);
  EXPECT_EQ(SetFilePointer(file, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(lastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), size - 6);
  EXPECT_TRUE(CloseHandle(file));
  EXPECT_EQ(root.readFile("Temp/data.bin"), "hello, device");

  EXPECT_TRUE(DeleteFileW(u"\\Temp\\data.bin"));
  EXPECT_FALSE(root.exists("Temp/data.bin"));
  EXPECT_EQ(failure(!DeleteFileW(u"\\Temp\\data.bin")), ERROR_FILE_NOT_FOUND);
}

TEST(FileTest, DispositionsAndTheirLastErrors) {
  TempRoot root;
  root.writeFile("existing.txt", "old content");
  EXPECT_EQ(failure(open(u"\\existing.txt", GENERIC_WRITE, CREATE_NEW) == INVALID_HANDLE_VALUE), ERROR_FILE_EXISTS);
  HANDLE file = open(u"\\existing.txt", GENERIC_READ, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(readAll(file), "old content");
  CloseHandle(file);
  file = open(u"\\fresh.txt", GENERIC_WRITE, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastError(), ERROR_SUCCESS);
  CloseHandle(file);
  EXPECT_TRUE(root.exists("fresh.txt"));
  file = open(u"\\existing.txt", GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(lastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(GetFileSize(file, nullptr), 0u);
  CloseHandle(file);
  root.writeFile("existing.txt", "again");
  file = open(u"\\existing.txt", GENERIC_WRITE, TRUNCATE_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  EXPECT_EQ(root.readFile("existing.txt"), "");

  const struct { const char16_t* path; DWORD access, disposition; long error; } refused[] = {
      {u"\\existing.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},  // needs write access
      {u"\\existing.txt", GENERIC_READ, 9, ERROR_INVALID_PARAMETER},
      {nullptr, GENERIC_READ, OPEN_EXISTING, ERROR_INVALID_PARAMETER},
      {u"\\missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
      {u"\\no\\such\\dir.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& r : refused) {
    EXPECT_EQ(failure(open(r.path, r.access, r.disposition) == INVALID_HANDLE_VALUE), r.error) << r.disposition;
  }
  EXPECT_FALSE(root.exists("no"));
}

TEST(FileTest, DirectoriesAndAccessRights) {
  TempRoot root;
  ASSERT_EQ(mkdir(root.host("dir").c_str(), 0777), 0);
  // A directory is not a file.
  EXPECT_EQ(failure(open(u"\\dir", GENERIC_READ, OPEN_EXISTING) == INVALID_HANDLE_VALUE), ERROR_ACCESS_DENIED);
  EXPECT_EQ(failure(!DeleteFileW(u"\\dir")), ERROR_ACCESS_DENIED);

  root.writeFile("ro.txt", "abc");
  HANDLE reader = open(u"\\ro.txt", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  DWORD count = 5;
  EXPECT_EQ(failure(!WriteFile(reader, "x", 1, &count, nullptr)), ERROR_ACCESS_DENIED);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(failure(!SetEndOfFile(reader)), ERROR_ACCESS_DENIED);
  CloseHandle(reader);
  HANDLE writer = open(u"\\ro.txt", GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  char buffer[4];
  EXPECT_EQ(failure(!ReadFile(writer, buffer, sizeof buffer, &count, nullptr)), ERROR_ACCESS_DENIED);
  CloseHandle(writer);
  EXPECT_EQ(root.readFile("ro.txt"), "abc");
}

TEST(FileTest, HandlesAreCheckedAndNeverReused) {
  TempRoot root;
  DWORD count;
  for (intptr_t bogus : {intptr_t{0}, intptr_t{-1}, intptr_t{1}, intptr_t{STDERR_FILENO}}) {
    HANDLE handle = reinterpret_cast<HANDLE>(bogus);
    SetLastError(0);
    EXPECT_EQ(failure(!CloseHandle(handle)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(failure(!WriteFile(handle, "x", 1, &count, nullptr)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
  }
  HANDLE first = open(u"\\f", GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseHandle(first));
  EXPECT_EQ(failure(!CloseHandle(first)), ERROR_INVALID_HANDLE);  // a second close of the same handle
  HANDLE second = open(u"\\f", GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_NE(second, first);
  EXPECT_FALSE(WriteFile(first, "x", 1, &count, nullptr));  // the stale handle stays dead
  EXPECT_TRUE(CloseHandle(second));
}

TEST(FileTest, ParallelThreadsOwnTheirFiles) {
  TempRoot root;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &failures] {
      std::u16string name = u"\\t" + std::u16string(1, static_cast<char16_t>(u'a' + t));
      for (int round = 0; round < 50; ++round) {
        HANDLE file = open(name.c_str(), GENERIC_READ | GENERIC_WRITE, CREATE_ALWAYS);
        DWORD value = static_cast<DWORD>(t * 1000 + round), count = 0, back = 0;
        bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &value, sizeof value, &count, nullptr) &&
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
