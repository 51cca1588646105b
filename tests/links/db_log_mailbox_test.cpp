// The module's side of the system-log ring, against a block shared with a
// forked stand-in for the log process.
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "links/DbLogMailbox.h"
#include "tests/links/LinkTestSupport.h"

namespace {

class DbLogMailboxTest : public ::testing::Test {
 protected:
  DbLogMailboxTest() : block(u"DB_LOG_DATA", 516) {}
  void SetUp() override {
    ASSERT_NE(block.data(), nullptr);
    ASSERT_TRUE(mailbox.open());
  }
  WORD word(int offset) { return static_cast<WORD>(block.data()[offset] | (block.data()[offset + 1] << 8)); }
  void setWord(int offset, WORD value) {
    block.data()[offset] = static_cast<BYTE>(value);
    block.data()[offset + 1] = static_cast<BYTE>(value >> 8);
  }
  WORD head() { return word(512); }
  WORD tail() { return word(514); }
  void expectSlot(int slot, WORD code, WORD arg1, WORD arg2, WORD arg3) {
    EXPECT_EQ(word(2 * slot), code) << "slot " << slot;
    EXPECT_EQ(word(128 + 2 * slot), arg1) << "slot " << slot;
    EXPECT_EQ(word(256 + 2 * slot), arg2) << "slot " << slot;
    EXPECT_EQ(word(384 + 2 * slot), arg3) << "slot " << slot;
  }

  LinkRoot root;
  SharedBlock block;
  DbLogMailbox mailbox;
};

TEST_F(DbLogMailboxTest, PostFillsTheHeadSlotLittleEndianAndAdvancesHead) {
  EXPECT_TRUE(mailbox.post(8, 602, 1, 0));
  EXPECT_TRUE(mailbox.post(17, 0x1234, 1, 3));
  expectSlot(0, 8, 602, 1, 0);
  expectSlot(1, 17, 0x1234, 1, 3);
  EXPECT_EQ(block.data()[128 + 2], 0x34);  // low byte first
  EXPECT_EQ(head(), 2);
  EXPECT_EQ(tail(), 0);
}

TEST_F(DbLogMailboxTest, HeadWrapsFrom63ToZero) {
  setWord(512, 63);
  setWord(514, 5);
  EXPECT_TRUE(mailbox.post(11, 40, 4, 0));
  expectSlot(63, 11, 40, 4, 0);
  EXPECT_EQ(head(), 0);
  EXPECT_EQ(tail(), 5);
  EXPECT_TRUE(mailbox.post(3, 9, 1, 0));
  expectSlot(0, 3, 9, 1, 0);
  EXPECT_EQ(head(), 1);
}

TEST_F(DbLogMailboxTest, FullRingDropsTheNewestAndChangesNothing) {
  setWord(512, 4);
  setWord(514, 5);
  BYTE before[516];
  memcpy(before, block.data(), sizeof before);
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
  EXPECT_EQ(memcmp(before, block.data(), sizeof before), 0);

  // From empty, 63 events fit and the 64th is dropped.
  setWord(512, 10);
  setWord(514, 10);
  for (WORD i = 0; i < 63; ++i) ASSERT_TRUE(mailbox.post(23, i, 1, 0)) << i;
  EXPECT_EQ(head(), 9);
  EXPECT_FALSE(mailbox.post(23, 999, 1, 0));
  EXPECT_EQ(head(), 9);
  expectSlot(8, 23, 62, 1, 0);  // the last one that fitted, in slot (10 + 62) & 63
  EXPECT_EQ(tail(), 10);
}

TEST_F(DbLogMailboxTest, CorruptHeadStaysInsideTheRing) {
  setWord(512, 200);
  setWord(514, 0);
  EXPECT_TRUE(mailbox.post(31, 5, 1, 0));
  expectSlot(200 & 63, 31, 5, 1, 0);
  EXPECT_EQ(head(), (200 & 63) + 1);
}

TEST_F(DbLogMailboxTest, ConcurrentPostsFromThreadsAllLand) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([this, t] {
      DbLogMailbox own;  // each handler has its own
      own.open();
      for (int i = 0; i < 20; ++i) own.post(static_cast<WORD>(t + 1), static_cast<WORD>(i), 1, 0);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(head(), 60);
  int counts[4] = {0, 0, 0, 0};
  WORD next[4] = {0, 0, 0, 0};
  for (int slot = 0; slot < 60; ++slot) {
    WORD code = word(2 * slot);
    ASSERT_TRUE(code >= 1 && code <= 3);
    // Each thread's events keep their order.
    EXPECT_EQ(word(128 + 2 * slot), next[code]++);
    ++counts[code];
  }
  EXPECT_EQ(counts[1], 20);
  EXPECT_EQ(counts[2], 20);
  EXPECT_EQ(counts[3], 20);
}

TEST_F(DbLogMailboxTest, LockHeldLongerThanThreeSecondsLosesTheEvent) {
  Signal locked, release;
  pid_t holder = holdMutex(u"DB_LOG_MMF_MUTEX", &locked, &release, false);
  ASSERT_TRUE(locked.await());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
  long long waited = millisecondsSince(start);
  EXPECT_GE(waited, 2990);
  EXPECT_LT(waited, 4500);
  release.raise();
  EXPECT_EQ(exitCode(holder), 0);
  EXPECT_EQ(head(), 0);
  EXPECT_EQ(word(0), 0);
}

TEST_F(DbLogMailboxTest, AbandonedLockLosesTheEventButNotTheMailbox) {
  Signal locked, unused;
  pid_t holder = holdMutex(u"DB_LOG_MMF_MUTEX", &locked, &unused, true);
  ASSERT_TRUE(locked.await());
  ASSERT_EQ(exitCode(holder), 0);
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
  EXPECT_EQ(head(), 0);
  // The mutex was handed back: the log process and later posts get in.
  pid_t reader = forkChild([] {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, u"DB_LOG_MMF_MUTEX");
    if (mutex == nullptr || WaitForSingleObject(mutex, 0) != WAIT_OBJECT_0) return 1;
    return ReleaseMutex(mutex) ? 0 : 2;
  });
  EXPECT_EQ(exitCode(reader), 0);
  EXPECT_TRUE(mailbox.post(8, 602, 1, 0));
  EXPECT_EQ(head(), 1);
}

TEST(DbLogMailboxUnopened, PostsNothing) {
  DbLogMailbox mailbox;
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
  unsetenv("QUENTA_ROOT");
  EXPECT_FALSE(mailbox.open());
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
}

}  // namespace
