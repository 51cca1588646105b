// A database that is missing, replaced, not a database, or locked: readers and
// setters report 0, nothing crashes, and the bridge recovers by itself.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/sqlbridge/BridgeTestSupport.h"

namespace {

const char16_t kView[] = u"WebQuentaISAPI_TotalArcHours_View";

int read602() {
  WORD value = 0;
  return GetPCode(602, &value, kView) ? value : -1;
}

TEST(Faults, DatabaseRemovedAndMadeAgain) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  EXPECT_EQ(1, read602());
  root.removeDatabase();
  EXPECT_EQ(-1, read602());
  EXPECT_EQ(0, SetPCode(602, 5, u"SetPCodeView"));
  EXPECT_FALSE(std::filesystem::exists(root.database()));
  // A new file under the same name: the old connection must not be reused.
  ASSERT_TRUE(root.create({{602, 2}}));
  EXPECT_EQ(2, read602());
  EXPECT_EQ(1, SetPCode(602, 3, u"SetPCodeView"));
  EXPECT_EQ(3, read602());
}

TEST(Faults, FileThatIsNotADatabase) {
  BridgeRoot root;
  root.writeDatabaseBytes(std::string(8192, '\x5a'));
  EXPECT_EQ(-1, read602());
  EXPECT_EQ(0, SetPCode(602, 5, u"SetPCodeView"));
  ASSERT_TRUE(root.create({{602, 4}}) == false);  // SQLite refuses it too
  root.removeDatabase();
  ASSERT_TRUE(root.create({{602, 4}}));
  EXPECT_EQ(4, read602());
}

TEST(Faults, DatabaseDamagedWhileOpen) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 6}}));
  EXPECT_EQ(6, read602());
  // The header of the open file is overwritten in place (same file, same inode).
  {
    FILE* file = std::fopen(root.database().c_str(), "r+b");
    ASSERT_NE(nullptr, file);
    std::string garbage(100, '\x5a');
    std::fwrite(garbage.data(), 1, garbage.size(), file);
    std::fclose(file);
  }
  // Unavailable or the last good value, never a crash; then repaired, it recovers.
  int value = read602();
  EXPECT_TRUE(value == -1 || value == 6) << value;
  root.removeDatabase();
  ASSERT_TRUE(root.create({{602, 7}}));
  EXPECT_EQ(7, read602());
}

TEST(Faults, UnreadablePathAndEmptyFile) {
  BridgeRoot root;
  std::filesystem::create_directory(root.database());
  EXPECT_EQ(-1, read602());
  std::filesystem::remove(root.database());
  // An empty file is a database without tables: unavailable until the schema
  // is made in it, then read without a restart.
  root.writeDatabaseBytes("");
  EXPECT_EQ(-1, read602());
  EXPECT_EQ(0, SetPCode(602, 1, u"SetPCodeView"));
  ASSERT_TRUE(root.create({{602, 8}}));
  EXPECT_EQ(8, read602());
}

TEST(Faults, UnreadableFile) {
  if (geteuid() == 0) GTEST_SKIP() << "file permissions do not bind root";
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 9}}));
  std::filesystem::permissions(root.database(), std::filesystem::perms::none);
  EXPECT_EQ(-1, read602());
  std::filesystem::permissions(root.database(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(9, read602());
}

TEST(Faults, LockedDatabaseTimesOutThenRecovers) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 10}}));
  sqlite3* holder = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &holder));
  // Exclusive locking mode, taken before the bridge connects, keeps every
  // other connection out, readers included.
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;"
                                            "UPDATE pcode SET value = 11 WHERE code = 602;",
                                    nullptr, nullptr, nullptr));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(-1, read602());
  EXPECT_EQ(0, SetPCode(602, 12, u"SetPCodeView"));
  auto waited = std::chrono::steady_clock::now() - start;
  // The calls waited for the lock before giving up.
  EXPECT_GE(waited, std::chrono::milliseconds(quenta::SettingsStore::kBusyTimeoutMs));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr));
  sqlite3_close(holder);
  EXPECT_EQ(11, read602());
  EXPECT_EQ(1, SetPCode(602, 12, u"SetPCodeView"));
  EXPECT_EQ(12, read602());
}

TEST(Faults, AWriterHoldingTheLockStopsSettersNotReaders) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 10}}));
  EXPECT_EQ(10, read602());
  sqlite3* writer = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &writer));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(writer, "BEGIN IMMEDIATE; UPDATE pcode SET value = 11 WHERE code = 602;",
                                    nullptr, nullptr, nullptr));
  EXPECT_EQ(10, read602());  // the committed value, at once
  EXPECT_EQ(0, SetPCode(602, 12, u"SetPCodeView"));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(writer, "COMMIT", nullptr, nullptr, nullptr));
  sqlite3_close(writer);
  EXPECT_EQ(11, read602());
  EXPECT_EQ(1, SetPCode(602, 12, u"SetPCodeView"));
  EXPECT_EQ(12, read602());
  // The refused call left no journal row (the lock refused that too); the
  // accepted one did.
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  std::vector<quenta::JournalRow> journal;
  ASSERT_TRUE(store.readJournal(&journal));
  ASSERT_EQ(1u, journal.size());
  EXPECT_EQ(1, journal[0].count);
}

}  // namespace
