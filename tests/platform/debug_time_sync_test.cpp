// Debug output through the sink, the tick counter across its wrap, the clock,
// critical sections and the per-thread last error.
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

#include "tests/support/DebugCapture.h"

namespace {

// What a library's static constructor sees of the platform: it runs before
// main and before any test, with no device root set.
struct StaticStartCheck {
  StaticStartCheck() {
    unsetenv("QUENTA_ROOT");
    SetLastError(0);
    HANDLE file = CreateFileW(u"\\MMCMemory\\www\\wwwpub\\404.htm", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    openFailedCleanly = file == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    DebugCapture capture;
    NKDbgPrintfW(u"WebQuenta: %s\r\n", u"static start");
    lines = capture.lines();
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
  }
  bool openFailedCleanly = false;
  std::vector<std::string> lines;
  CRITICAL_SECTION section;
};
StaticStartCheck staticStart;

TEST(StaticStartTest, PlatformWorksBeforeMain) {
  EXPECT_TRUE(staticStart.openFailedCleanly);
  EXPECT_EQ(staticStart.lines, std::vector<std::string>{"WebQuenta: static start\r\n"});
}

class DebugOutputTest : public ::testing::Test {
 protected:
  DebugCapture captured;
};

TEST_F(DebugOutputTest, LinesArriveWholeAsUtf8) {
  SetLastError(0x57);
  NKDbgPrintfW(u"Key open error: GetLastError returned 0x%x\r\n", GetLastError());
  NKDbgPrintfW(u"%s / %S \u00B0C\r\n", u"wide", "narrow");
  NKDbgPrintfW(nullptr);
  // Long lines are not cut.
  NKDbgPrintfW(u"<%s>\r\n", std::u16string(5000, u'\u00E9').c_str());
  ASSERT_EQ(captured.lines().size(), 3u);
  EXPECT_EQ(captured.lines()[0], "Key open error: GetLastError returned 0x57\r\n");
  EXPECT_EQ(captured.lines()[1], "wide / narrow \xC2\xB0" "C\r\n");
  std::string accents;
  for (int i = 0; i < 5000; ++i) accents += "\xC3\xA9";
  EXPECT_EQ(captured.lines()[2], "<" + accents + ">\r\n");
  // Printing does not disturb the caller's last error.
  EXPECT_EQ(GetLastError(), 0x57u);
}

TEST_F(DebugOutputTest, ThreadsDeliverWholeLines) {
  std::multiset<std::string> expected;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    for (int i = 0; i < 200; ++i) {
      expected.insert("thread " + std::to_string(t) + " line " + std::to_string(i) + " tail\r\n");
    }
    threads.emplace_back([t] {
      for (int i = 0; i < 200; ++i) NKDbgPrintfW(u"thread %d line %d %s\r\n", t, i, u"tail");
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<std::string> lines = captured.lines();
  EXPECT_EQ(std::multiset<std::string>(lines.begin(), lines.end()), expected);
}

TEST(TickCountTest, WrapsAtTwoToTheThirtyTwo) {
  quenta::setTickOffset(0);
  DWORD raw = GetTickCount();
  // Place the counter 30 ms before the wrap.
  quenta::setTickOffset(static_cast<DWORD>(0xFFFFFFFFu - 30u - raw));
  DWORD before = GetTickCount();
  EXPECT_GE(before, 0xFFFFFFFFu - 40u);
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  DWORD after = GetTickCount();
  quenta::setTickOffset(0);
  EXPECT_LT(after, before);        // wrapped
  DWORD elapsed = after - before;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 80u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(ClockTest, SystemTimeWithoutADeviceRootIsTheHostsClock) {
  SYSTEMTIME utc;
  struct timespec before, after;
  clock_gettime(CLOCK_REALTIME, &before);
  GetSystemTime(&utc);
  clock_gettime(CLOCK_REALTIME, &after);
  struct tm f;
  gmtime_r(&before.tv_sec, &f);
  // Unless the second turned over in between, every field matches gmtime.
  // (time() is a coarse clock that can lag a second boundary: not used.)
  if (before.tv_sec == after.tv_sec) {
    EXPECT_EQ(std::vector<int>({utc.wYear, utc.wMonth, utc.wDay, utc.wDayOfWeek, utc.wHour, utc.wMinute, utc.wSecond}),
              std::vector<int>({f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_wday, f.tm_hour, f.tm_min, f.tm_sec}));
  }
  EXPECT_LT(utc.wMilliseconds, 1000);
}

TEST(CriticalSectionTest, RecursiveForTheOwnerAndExclusive) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);  // the owner enters again without blocking
  std::atomic<bool> entered{false};
  std::thread other([&] {
    EnterCriticalSection(&section);
    entered = true;
    LeaveCriticalSection(&section);
  });
  LeaveCriticalSection(&section);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());  // still held once
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(entered.load());

  // Counting under the section from many threads loses nothing.
  long plain = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&section);
        ++plain;
        LeaveCriticalSection(&section);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  DeleteCriticalSection(&section);
  EXPECT_EQ(plain, 40000);
}

TEST(LastErrorTest, PerThread) {
  SetLastError(1234);
  DWORD seenInOther = 99;
  std::thread([&] { seenInOther = GetLastError(); SetLastError(5); }).join();
  EXPECT_EQ(seenInOther, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
