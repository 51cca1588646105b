// Reading parameter codes through the bridge, the views' lifetime, and
// several request threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/sqlbridge/BridgeTestSupport.h"

namespace {

const char16_t kView[] = u"WebQuentaISAPI_TotalArcHours_View";

TEST(GetPCode, ReadsStoredWordsWhateverTheirValue) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1234}, {101, 0}, {605, 65535}}));
  WORD value = 7;
  EXPECT_EQ(1, GetPCode(602, &value, kView));
  EXPECT_EQ(1234, value);
  // A stored 0 is a value read, not a failure.
  EXPECT_EQ(1, GetPCode(101, &value, kView));
  EXPECT_EQ(0, value);
  EXPECT_EQ(1, GetPCode(605, &value, kView));
  EXPECT_EQ(65535, value);
}

TEST(GetPCode, UnavailableLeavesTheValueAndCreatesNothing) {
  BridgeRoot root;
  WORD value = 77;
  // No database file yet: unavailable, and reading does not create one.
  EXPECT_EQ(0, GetPCode(602, &value, kView));
  EXPECT_FALSE(std::filesystem::exists(root.database()));
  ASSERT_TRUE(root.create({{602, 1234}}));
  EXPECT_EQ(0, GetPCode(999, &value, kView));
  EXPECT_EQ(77, value);
  EXPECT_EQ(0, GetPCode(602, nullptr, kView));
  unsetenv("QUENTA_ROOT");
  EXPECT_EQ(0, GetPCode(602, &value, kView));
  EXPECT_EQ(77, value);
}

TEST(Views, NoViewValuesAndForeignHandlesDoNothing) {
  int before = SqlBridgeOpenViewCount();
  ReleaseView(SQLBRIDGE_NO_RELEASE);
  CleanupView(SQLBRIDGE_NO_VIEW, SQLBRIDGE_NO_VIEW);
  int local = 0;
  ReleaseView(reinterpret_cast<DWORD_PTR>(&local));
  CleanupView(reinterpret_cast<DWORD_PTR>(&local), reinterpret_cast<DWORD_PTR>(&local));
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
  DWORD_PTR mapHandle = 0;
  EXPECT_EQ(nullptr, CreateView(nullptr, &mapHandle));
  EXPECT_EQ(SQLBRIDGE_NO_VIEW, mapHandle);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

TEST(Views, SetterViewIsZeroFilledAndOpenUntilCleanedUp) {
  int before = SqlBridgeOpenViewCount();
  DWORD_PTR first = SQLBRIDGE_NO_VIEW;
  DWORD_PTR second = SQLBRIDGE_NO_VIEW;
  unsigned char* a = static_cast<unsigned char*>(CreateView(u"SetPCodeView", &first));
  unsigned char* b = static_cast<unsigned char*>(CreateView(u"SetPCodeView", &second));
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_NE(a, b);
  EXPECT_NE(first, second);
  EXPECT_EQ(before + 2, SqlBridgeOpenViewCount());
  // Large enough for any record the system copies in, and all zero.
  for (int k = 0; k < 4096; ++k) ASSERT_EQ(0, a[k]) << k;
  std::memset(a, 0xAB, 4096);

  CleanupView(reinterpret_cast<DWORD_PTR>(a), first);
  EXPECT_EQ(before + 1, SqlBridgeOpenViewCount());
  // A second cleanup of the same view finds nothing to do.
  CleanupView(reinterpret_cast<DWORD_PTR>(a), first);
  EXPECT_EQ(before + 1, SqlBridgeOpenViewCount());
  // A lost map handle: the address still names the view.
  CleanupView(reinterpret_cast<DWORD_PTR>(b), SQLBRIDGE_NO_VIEW);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

// Request threads read and write their own codes while another connection
// (as the admin tool) writes beside them: every write lands, every read sees a
// whole value, every call has its journal row and no view stays open.
TEST(Concurrency, SeveralThreadsAndAnotherConnectionAtOnce) {
  BridgeRoot root;
  const int kThreads = 4;
  // Enough calls that a busy answer SQLite gives without waiting (about one
  // in 10,000 calls here) would show.
  const int kRounds = 2500;
  ASSERT_TRUE(root.create({{600, 0}, {601, 0}, {602, 0}, {603, 0}, {650, 0}}));
  int before = SqlBridgeOpenViewCount();
  std::atomic<int> failures(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures, t] {
      WORD code = static_cast<WORD>(600 + t);
      for (int round = 1; round <= kRounds; ++round) {
        WORD written = static_cast<WORD>(round * 10 + t);
        WORD record[2] = {written, code};
        int count = callSetter(u"SetPCodeView", record, sizeof record,
                               [&](DWORD_PTR*) { return SetPCode(code, written, u"SetPCodeView"); });
        WORD read = 0;
        if (count != 1 || GetPCode(code, &read, u"WebQuentaISAPI_TotalArcSeconds_View") != 1 || read != written) {
          ++failures;
        }
      }
    });
  }
  std::thread tool([&root, &failures] {
    quenta::SettingsStore store;
    if (!store.open(root.database(), false)) {
      ++failures;
      return;
    }
    for (int round = 1; round <= kRounds; ++round) {
      if (!store.putPCode(650, static_cast<WORD>(round), true)) ++failures;
    }
  });
  for (auto& thread : threads) thread.join();
  tool.join();
  EXPECT_EQ(0, failures.load());

  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  std::vector<quenta::JournalRow> journal;
  ASSERT_TRUE(store.readJournal(&journal));
  EXPECT_EQ(static_cast<size_t>(kThreads * kRounds), journal.size());
  for (const auto& row : journal) EXPECT_EQ(1, row.count);
  for (int t = 0; t < kThreads; ++t) {
    WORD value = 0;
    ASSERT_EQ(quenta::SettingsStore::kFound, store.getPCode(static_cast<WORD>(600 + t), &value));
    EXPECT_EQ(kRounds * 10 + t, value);
  }
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

}  // namespace
