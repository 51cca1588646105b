// The module's side of the system-log ring, against a block shared with a
// forked stand-in for the log process.
#include <cstring>
#include <utility>

#include <gtest/gtest.h>

#include "links/DbLogMailbox.h"
#include "tests/platform/TempRoot.h"

namespace {

class DbLogMailboxTest : public ::testing::Test {
 protected:
  DbLogMailboxTest() : block(u"DB_LOG_DATA", 516) {}
  void SetUp() override {
    ASSERT_NE(block.data(), nullptr);
    ASSERT_TRUE(mailbox.open());
  }
  WORD word(int offset) { return dbLogWord(block.data(), offset); }
  void setHeadAndTail(WORD head, WORD tail) {
    setDbLogWord(block.data(), DB_LOG_HEAD_OFFSET, head);
    setDbLogWord(block.data(), DB_LOG_TAIL_OFFSET, tail);
  }
  WORD head() { return word(DB_LOG_HEAD_OFFSET); }
  WORD tail() { return word(DB_LOG_TAIL_OFFSET); }
  void expectSlot(int slot, WORD code, WORD arg1, WORD arg2, WORD arg3) {
    SCOPED_TRACE(slot);
    EXPECT_EQ(word(DB_LOG_CODE_OFFSET + 2 * slot), code);
    EXPECT_EQ(word(DB_LOG_ARG1_OFFSET + 2 * slot), arg1);
    EXPECT_EQ(word(DB_LOG_ARG2_OFFSET + 2 * slot), arg2);
    EXPECT_EQ(word(DB_LOG_ARG3_OFFSET + 2 * slot), arg3);
  }
  // Posts while another process holds the mailbox mutex (or died holding it).
  bool postWhileLockedElsewhere(bool die) {
    Signal locked, release;
    pid_t holder = holdMutex(u"DB_LOG_MMF_MUTEX", &locked, &release, die);
    EXPECT_TRUE(locked.await());
    int dead = die ? exitCode(holder) : 0;  // a dying holder is gone before the post
    bool posted = mailbox.post(8, 602, 1, 0);
    release.raise();
    EXPECT_EQ(die ? dead : exitCode(holder), 0);
    return posted;
  }

  TempRoot root;
  MappedBlock block;
  DbLogMailbox mailbox;
};

TEST_F(DbLogMailboxTest, PostFillsTheHeadSlotLittleEndianAndWrapsFrom63ToZero) {
  EXPECT_TRUE(mailbox.post(8, 602, 1, 0));
  EXPECT_TRUE(mailbox.post(17, 0x1234, 1, 3));
  expectSlot(0, 8, 602, 1, 0);
  expectSlot(1, 17, 0x1234, 1, 3);
  EXPECT_EQ(block.data()[DB_LOG_ARG1_OFFSET + 2], 0x34);  // low byte first
  EXPECT_EQ(std::make_pair(head(), tail()), std::make_pair(WORD{2}, WORD{0}));

  setHeadAndTail(63, 5);
  EXPECT_TRUE(mailbox.post(11, 40, 4, 0));
  expectSlot(63, 11, 40, 4, 0);
  EXPECT_EQ(std::make_pair(head(), tail()), std::make_pair(WORD{0}, WORD{5}));
  EXPECT_TRUE(mailbox.post(3, 9, 1, 0));
  expectSlot(0, 3, 9, 1, 0);
  EXPECT_EQ(head(), 1);

  // A corrupt head stays inside the ring.
  setHeadAndTail(200, 0);
  EXPECT_TRUE(mailbox.post(31, 5, 1, 0));
  expectSlot(200 & 63, 31, 5, 1, 0);
  EXPECT_EQ(head(), (200 & 63) + 1);
}

TEST_F(DbLogMailboxTest, FullRingDropsTheNewestAndChangesNothing) {
  setHeadAndTail(4, 5);
  BYTE before[516];
  memcpy(before, block.data(), sizeof before);
  EXPECT_FALSE(mailbox.post(8, 602, 1, 0));
  // Head just behind the tail: 63 events wait, and a 64th would make the ring read as empty.
  EXPECT_EQ(memcmp(before, block.data(), sizeof before), 0);
}

TEST_F(DbLogMailboxTest, LockHeldLongerThanThreeSecondsLosesTheEvent) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(postWhileLockedElsewhere(false));
  long long waited = millisecondsSince(start);
  EXPECT_GE(waited, 2990);
  EXPECT_LT(waited, 4500);
  EXPECT_EQ(head(), 0);
  EXPECT_EQ(word(0), 0);
}

TEST_F(DbLogMailboxTest, AbandonedLockLosesTheEventButNotTheMailbox) {
  EXPECT_FALSE(postWhileLockedElsewhere(true));
  EXPECT_EQ(head(), 0);
  // The mutex was handed back: the log process and later posts get in.
  EXPECT_EQ(mutexIsFree(u"DB_LOG_MMF_MUTEX"), 0);
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
