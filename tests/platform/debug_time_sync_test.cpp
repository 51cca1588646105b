// Debug output through the sink, the tick counter across its wrap, the clock,
// critical sections and the interlocked counters.
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <windows.h>

namespace {

struct CapturedLines {
  std::mutex lock;
  std::vector<std::string> lines;
};

void capture(const char* line, void* context) {
  CapturedLines* captured = static_cast<CapturedLines*>(context);
  std::lock_guard<std::mutex> guard(captured->lock);
  captured->lines.push_back(line);
}

// What a library's static constructor sees of the platform: it runs before
// main and before any test, with no device root set.
struct StaticStartCheck {
  StaticStartCheck() {
    unsetenv("QUENTA_ROOT");
    SetLastError(0);
    HANDLE file = CreateFileW(u"\\MMCMemory\\www\\wwwpub\\404.htm", GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    openFailedCleanly = file == INVALID_HANDLE_VALUE && GetLastError() == static_cast<DWORD>(ERROR_PATH_NOT_FOUND);
    quenta::setDebugSink(capture, &lines);
    NKDbgPrintfW(u"WebQuenta: %s\r\n", u"static start");
    quenta::setDebugSink(nullptr, nullptr);
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    LeaveCriticalSection(&section);
  }
  bool openFailedCleanly = false;
  CapturedLines lines;
  CRITICAL_SECTION section;
};
StaticStartCheck staticStart;

TEST(StaticStartTest, PlatformWorksBeforeMain) {
  EXPECT_TRUE(staticStart.openFailedCleanly);
  ASSERT_EQ(staticStart.lines.lines.size(), 1u);
  EXPECT_EQ(staticStart.lines.lines[0], "WebQuenta: static start\r\n");
}

class DebugOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { quenta::setDebugSink(capture, &captured); }
  void TearDown() override { quenta::setDebugSink(nullptr, nullptr); }
  CapturedLines captured;
};

TEST_F(DebugOutputTest, LinesArriveFormattedAsUtf8) {
  SetLastError(0x57);
  NKDbgPrintfW(u"Key open error: GetLastError returned 0x%x\r\n", GetLastError());
  NKDbgPrintfW(u"UPDATED %i pcode_only_struct records at recordID %i\r\n", 1, 602);
  NKDbgPrintfW(u"%s / %S \u00B0C\r\n", u"wide", "narrow");
  OutputDebugStringW(u"plain \u20AC\n");
  NKDbgPrintfW(nullptr);
  OutputDebugStringW(nullptr);
  ASSERT_EQ(captured.lines.size(), 4u);
  EXPECT_EQ(captured.lines[0], "Key open error: GetLastError returned 0x57\r\n");
  EXPECT_EQ(captured.lines[1], "UPDATED 1 pcode_only_struct records at recordID 602\r\n");
  EXPECT_EQ(captured.lines[2], "wide / narrow \xC2\xB0" "C\r\n");
  EXPECT_EQ(captured.lines[3], "plain \xE2\x82\xAC\n");
  // Printing does not disturb the caller's last error.
  EXPECT_EQ(GetLastError(), 0x57u);
}

TEST_F(DebugOutputTest, LongLinesAreNotCut) {
  std::u16string long_text(5000, u'\u00E9');
  NKDbgPrintfW(u"<%s>\r\n", long_text.c_str());
  ASSERT_EQ(captured.lines.size(), 1u);
  EXPECT_EQ(captured.lines[0].size(), 2u + 2 * 5000u + 2u);
  EXPECT_EQ(captured.lines[0].substr(0, 3), "<\xC3\xA9");
  EXPECT_EQ(captured.lines[0].substr(captured.lines[0].size() - 3), ">\r\n");
}

TEST_F(DebugOutputTest, ThreadsDeliverWholeLines) {
  constexpr int kThreads = 6;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) NKDbgPrintfW(u"thread %d line %d %s\r\n", t, i, u"tail");
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(captured.lines.size(), static_cast<size_t>(kThreads * kLines));
  std::set<std::string> distinct(captured.lines.begin(), captured.lines.end());
  EXPECT_EQ(distinct.size(), captured.lines.size());
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kLines; i += 37) {
      EXPECT_EQ(distinct.count("thread " + std::to_string(t) + " line " + std::to_string(i) + " tail\r\n"), 1u);
    }
  }
}

TEST(TickCountTest, WrapsAtTwoToTheThirtyTwo) {
  quenta::setTickOffset(0);
  DWORD raw = GetTickCount();
  // Place the counter 30 ms before the wrap.
  quenta::setTickOffset(static_cast<DWORD>(0xFFFFFFFFu - 30u - raw));
  DWORD before = GetTickCount();
  EXPECT_GE(before, 0xFFFFFFFFu - 40u);
  Sleep(80);
  DWORD after = GetTickCount();
  quenta::setTickOffset(0);
  EXPECT_LT(after, before);  // wrapped
  DWORD elapsed = after - before;  // unsigned difference survives the wrap
  EXPECT_GE(elapsed, 80u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(ClockTest, SystemTimeMatchesTheCalendar) {
  SYSTEMTIME utc;
  time_t before = time(nullptr);
  GetSystemTime(&utc);
  time_t after = time(nullptr);
  struct tm fields;
  gmtime_r(&before, &fields);
  // Unless the second turned over in between, every field matches gmtime.
  if (before == after) {
    EXPECT_EQ(utc.wYear, fields.tm_year + 1900);
    EXPECT_EQ(utc.wMonth, fields.tm_mon + 1);
    EXPECT_EQ(utc.wDay, fields.tm_mday);
    EXPECT_EQ(utc.wDayOfWeek, fields.tm_wday);  // 0 = Sunday
    EXPECT_EQ(utc.wHour, fields.tm_hour);
    EXPECT_EQ(utc.wMinute, fields.tm_min);
    EXPECT_EQ(utc.wSecond, fields.tm_sec);
  }
  EXPECT_LT(utc.wMilliseconds, 1000);

  // Local time follows TZ; a fixed zone five hours west of UTC shows it.
  const char* oldZone = getenv("TZ");
  std::string saved = oldZone != nullptr ? oldZone : "";
  setenv("TZ", "EST5", 1);
  SYSTEMTIME local;
  GetSystemTime(&utc);
  GetLocalTime(&local);
  if (oldZone != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
  int utcMinutes = utc.wHour * 60 + utc.wMinute;
  int localMinutes = local.wHour * 60 + local.wMinute;
  int difference = ((utcMinutes - localMinutes) % 1440 + 1440) % 1440;
  // 300 minutes, or 301 if the minute turned between the calls.
  EXPECT_TRUE(difference == 300 || difference == 299) << difference;
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
  Sleep(50);
  EXPECT_FALSE(entered.load());  // still held once
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(entered.load());

  // Counting under the section from many threads loses nothing.
  long plain = 0;
  LONG volatile interlocked = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 10000; ++i) {
        EnterCriticalSection(&section);
        ++plain;
        LeaveCriticalSection(&section);
        InterlockedIncrement(&interlocked);
        InterlockedIncrement(&interlocked);
        InterlockedDecrement(&interlocked);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  DeleteCriticalSection(&section);
  EXPECT_EQ(plain, 40000);
  EXPECT_EQ(interlocked, 40000);
  LONG value = 5;
  EXPECT_EQ(InterlockedIncrement(&value), 6);
  EXPECT_EQ(InterlockedDecrement(&value), 5);
}

TEST(LastErrorTest, PerThread) {
  SetLastError(1234);
  DWORD seenInOther = 99;
  std::thread other([&] {
    seenInOther = GetLastError();
    SetLastError(5);
  });
  other.join();
  EXPECT_EQ(seenInOther, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
}

}  // namespace
