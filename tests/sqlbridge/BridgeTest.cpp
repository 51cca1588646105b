// The settings database library over real SQLite files: reads, views, setters
// and their journal, bad or locked databases, several threads at once.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "sqlbridge/BridgeConnection.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "sqlbridge/Views.h"
#include "tests/platform/TempRoot.h"

namespace fs = std::filesystem;

namespace {

const char16_t kView[] = u"WebQuentaISAPI_TotalArcHours_View";
const char16_t kTorch[] = u"WebQuentaISAPI_TorchData_View";

// An empty device root named by QUENTA_ROOT while it lives.
class BridgeRoot : public TempRoot {
 public:
  std::string database() const { return quenta::SettingsStore::databasePath(path()); }

  // settings.db as `quenta-machine init` makes it: schema, codes, both banks.
  bool create(std::initializer_list<std::pair<WORD, WORD>> pcodes = {}) const {
    quenta::SettingsStore store;
    bool ok = store.open(database(), true) && store.createSchema();
    for (const auto& row : pcodes) ok = ok && store.putPCode(row.first, row.second, true);
    quenta::BankConfigRow bank;
    bank.errorEnables = 31;
    for (WORD id : {1, 2}) {
      bank.bankConfigID = id;
      bank.gunLdLen = id == 1 ? 15 : 12;
      bank.gunLdWFS = id == 1 ? 100 : 90;
      ok = ok && store.putBankConfig(bank, true);
    }
    return ok;
  }
  void removeDatabase() const {
    for (const char* suffix : {"", "-wal", "-shm"}) removeFile(std::string("settings.db") + suffix);
  }
  std::vector<quenta::JournalRow> journal() const {
    quenta::SettingsStore store;
    std::vector<quenta::JournalRow> rows;
    EXPECT_TRUE(store.open(database(), false) && store.readJournal(&rows));
    return rows;
  }
};

int read602() {
  WORD value = 0;
  return GetPCode(602, &value, kView) ? value : -1;
}

// A read once the bridge looks at the file again: a read may still see a
// replaced file for kReadCheckPeriod after the last look.
int read602Fresh() {
  std::this_thread::sleep_for(sqlbridge::kReadCheckPeriod + std::chrono::milliseconds(1));
  return read602();
}

// A setter's call as the module makes it.
int callSetter(const char16_t* view, const void* record, size_t size, const std::function<int(DWORD_PTR*)>& call) {
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  void* buffer = CreateView(view, &mapHandle);
  if (buffer == nullptr) return -1;
  std::memcpy(buffer, record, size);
  DWORD_PTR releaseHandle = SQLBRIDGE_NO_RELEASE;
  int count = call(&releaseHandle);
  ReleaseView(releaseHandle);
  CleanupView(reinterpret_cast<DWORD_PTR>(buffer), mapHandle);
  return count;
}

int setPCode(WORD code, WORD value) {
  WORD record[2] = {value, code};  // pcode_only_struct
  return callSetter(u"SetPCodeView", record, sizeof record,
                    [&](DWORD_PTR*) { return SetPCode(code, value, u"SetPCodeView"); });
}

TEST(GetPCode, ReadsEveryWordAndLeavesTheValueWhenUnavailable) {
  BridgeRoot root;
  WORD value = 77;
  // No database yet: unavailable, and neither reading nor writing makes one.
  EXPECT_EQ(0, GetPCode(602, &value, kView));
  EXPECT_EQ(0, SetPCode(602, 5, u"SetPCodeView"));
  EXPECT_FALSE(fs::exists(root.database()));
  // A stored 0 is a value read, not a failure; 65535 is the whole word.
  ASSERT_TRUE(root.create({{602, 1234}, {101, 0}, {605, 65535}}));
  for (auto row : {std::pair<WORD, int>{602, 1234}, {101, 0}, {605, 65535}}) {
    EXPECT_EQ(1, GetPCode(row.first, &value, kView));
    EXPECT_EQ(row.second, value) << row.first;
  }
  value = 77;
  EXPECT_EQ(0, GetPCode(999, &value, kView));
  EXPECT_EQ(0, GetPCode(602, nullptr, kView));
  unsetenv("QUENTA_ROOT");
  EXPECT_EQ(0, GetPCode(602, &value, kView));
  EXPECT_EQ(77, value);
}

// A connection gives a value it read again without asking SQLite, so every
// commit, by any connection, must end that: here another connection's, its
// own, and a writer's beside a reader. Inside its own open transaction a
// connection sees its own writes.
TEST(GetPCode, AValueReadIsReadAgainOnceAnyoneCommits) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}, {650, 0}}));
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  auto read = [&store](WORD code) {
    WORD value = 0;
    return store.getPCode(code, &value) == quenta::SettingsStore::kFound ? value : -1;
  };
  EXPECT_EQ(1, read(602));
  EXPECT_EQ(1, read(602));
  EXPECT_EQ(-1, read(777));
  sqlite3* other = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &other));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "UPDATE pcode SET value = 2 WHERE code = 602; INSERT INTO pcode "
                                           "VALUES (777, 7)", nullptr, nullptr, nullptr));
  EXPECT_EQ(2, read(602));
  EXPECT_EQ(7, read(777));

  ASSERT_TRUE(store.begin());
  EXPECT_EQ(1, store.updatePCode(602, 3));
  EXPECT_EQ(3, read(602));
  store.rollback();
  EXPECT_EQ(2, read(602));
  EXPECT_EQ(1, store.updatePCode(602, 4));
  EXPECT_EQ(4, read(602));

  // The writer commits as fast as it can; the reader never sees a value go
  // back, and sees the last one once the writer is done.
  const int kWrites = 1000;
  std::atomic<bool> writing(true);
  std::thread writer([&] {
    for (int k = 1; k <= kWrites; ++k) {
      std::string sql = "UPDATE pcode SET value = " + std::to_string(k) + " WHERE code = 650";
      sqlite3_exec(other, sql.c_str(), nullptr, nullptr, nullptr);
    }
    writing = false;
  });
  int last = 0, backwards = 0;
  while (writing) {
    int now = read(650);
    backwards += now < last;
    last = now;
  }
  writer.join();
  EXPECT_EQ(0, backwards);
  EXPECT_EQ(kWrites, read(650));
  sqlite3_close(other);
}

TEST(Views, SetterViewsAreZeroFilledAndOpenUntilCleanedUp) {
  int before = SqlBridgeOpenViewCount();
  // The no-view values, foreign addresses and a missing name do nothing.
  int local = 0;
  DWORD_PTR foreign = reinterpret_cast<DWORD_PTR>(&local), first = 0, second = SQLBRIDGE_NO_VIEW;
  ReleaseView(SQLBRIDGE_NO_RELEASE);
  CleanupView(SQLBRIDGE_NO_VIEW, SQLBRIDGE_NO_VIEW);
  ReleaseView(foreign);
  CleanupView(foreign, foreign);
  EXPECT_EQ(nullptr, CreateView(nullptr, &first));
  EXPECT_EQ(SQLBRIDGE_NO_VIEW, first);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());

  auto* a = static_cast<unsigned char*>(CreateView(u"SetPCodeView", &first));
  auto* b = static_cast<unsigned char*>(CreateView(u"SetPCodeView", &second));
  ASSERT_TRUE(a != nullptr && b != nullptr && a != b && first != second);
  EXPECT_EQ(before + 2, SqlBridgeOpenViewCount());
  // Large enough for any record the system copies in, and all zero.
  EXPECT_EQ(std::vector<unsigned char>(4096, 0), std::vector<unsigned char>(a, a + 4096));
  std::memset(a, 0xAB, 4096);
  CleanupView(reinterpret_cast<DWORD_PTR>(a), first);
  EXPECT_EQ(before + 1, SqlBridgeOpenViewCount());
  CleanupView(reinterpret_cast<DWORD_PTR>(a), first);  // already gone
  EXPECT_EQ(before + 1, SqlBridgeOpenViewCount());
  // A lost map handle: the address still names the view.
  CleanupView(reinterpret_cast<DWORD_PTR>(b), SQLBRIDGE_NO_VIEW);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

// Records a reader publishes come back in the caller's view, whole, back to
// back, zero-filled beyond; each handle ends only its own kind of entry.
TEST(ReaderViews, PublishedRecordsComeBackWhole) {
  int before = sqlbridge::openViewCount();
  for (size_t size : {size_t{18}, 3 * sqlbridge::kMinViewBytes + 7}) {
    SCOPED_TRACE(size);
    std::vector<unsigned char> records(size);
    for (size_t k = 0; k < size; ++k) records[k] = static_cast<unsigned char>(k * 7 + 1);
    DWORD_PTR release = SQLBRIDGE_NO_RELEASE;
    ASSERT_TRUE(sqlbridge::publishRecords(kTorch, records.data(), size, &release));
    EXPECT_NE(SQLBRIDGE_NO_RELEASE, release);
    DWORD_PTR map = SQLBRIDGE_NO_VIEW;
    auto* view = static_cast<unsigned char*>(sqlbridge::createView(kTorch, &map));
    ASSERT_NE(nullptr, view);
    records.resize(std::max(size, sqlbridge::kMinViewBytes), 0);
    EXPECT_TRUE(std::equal(records.begin(), records.end(), view));
    EXPECT_EQ(before + 2, sqlbridge::openViewCount());
    sqlbridge::cleanupView(release, release);
    sqlbridge::releaseView(map);
    EXPECT_EQ(before + 2, sqlbridge::openViewCount());
    sqlbridge::releaseView(release);
    EXPECT_EQ(before + 1, sqlbridge::openViewCount());
    sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
    EXPECT_EQ(before, sqlbridge::openViewCount());
  }
}

TEST(ReaderViews, ARepeatedReadReplacesItsRecordsAndOtherThreadsKeepTheirs) {
  int before = sqlbridge::openViewCount();
  const unsigned char first[2] = {1, 1}, second[2] = {2, 2};
  DWORD_PTR release1 = SQLBRIDGE_NO_RELEASE, release2 = SQLBRIDGE_NO_RELEASE, otherRelease = SQLBRIDGE_NO_RELEASE;
  ASSERT_TRUE(sqlbridge::publishRecords(kTorch, first, 2, &release1));
  ASSERT_TRUE(sqlbridge::publishRecords(kTorch, second, 2, &release2));
  EXPECT_EQ(before + 1, sqlbridge::openViewCount());
  // Newer records of another thread under the same name are not this thread's.
  std::thread([&] { sqlbridge::publishRecords(kTorch, first, 2, &otherRelease); }).join();
  DWORD_PTR map = SQLBRIDGE_NO_VIEW;
  auto* view = static_cast<unsigned char*>(sqlbridge::createView(kTorch, &map));
  ASSERT_NE(nullptr, view);
  EXPECT_EQ(2, view[0]);
  sqlbridge::releaseView(release1);  // already replaced: nothing happens
  sqlbridge::releaseView(release2);
  sqlbridge::releaseView(otherRelease);
  sqlbridge::cleanupView(reinterpret_cast<DWORD_PTR>(view), map);
  EXPECT_EQ(before, sqlbridge::openViewCount());
}

// Every call leaves exactly one journal row; a missing row is not created.
TEST(SetPCode, UpdatesAnExistingRowAndJournalsEveryCall) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  int before = SqlBridgeOpenViewCount();
  EXPECT_EQ(1, setPCode(602, 1234));
  EXPECT_EQ(1234, read602());
  EXPECT_EQ(0, setPCode(777, 5));
  WORD value = 0;
  EXPECT_EQ(0, GetPCode(777, &value, kView));
  EXPECT_EQ(1, SetPCode(602, 9, u"SetPCodeView"));  // no view: no record in the journal
  EXPECT_EQ(before, SqlBridgeOpenViewCount());

  auto journal = root.journal();
  ASSERT_EQ(3u, journal.size());
  EXPECT_EQ("SetPCode SetPCodeView {\"pcode\":602,\"value\":1234}",
            journal[0].setter + " " + journal[0].view + " " + journal[0].arguments);
  const char* records[] = {"d2045a02", "05000903", ""};  // little-endian words
  for (size_t k = 0; k < 3; ++k) {
    EXPECT_EQ(records[k] + std::string(k == 1 ? "/0" : "/1"), journal[k].record + "/" + std::to_string(journal[k].count))
        << k;
  }

  // The update and its journal row are one transaction: without the journal
  // table the whole call is undone.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "DROP TABLE journal", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  EXPECT_EQ(0, setPCode(602, 3));
  EXPECT_EQ(9, read602());
}

TEST(SetPCode, ReadsTheCallingThreadsMostRecentView) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  int before = SqlBridgeOpenViewCount();
  auto openView = [](WORD value, DWORD_PTR* handle) {
    void* view = CreateView(u"SetPCodeView", handle);
    WORD record[2] = {value, 602};
    std::memcpy(view, record, sizeof record);
    return reinterpret_cast<DWORD_PTR>(view);
  };
  DWORD_PTR olderHandle = SQLBRIDGE_NO_VIEW;
  DWORD_PTR older = openView(1111, &olderHandle);
  // Another thread's view of the same name, newer and open meanwhile.
  std::promise<void> opened, done;
  std::thread other([&] {
    DWORD_PTR handle = SQLBRIDGE_NO_VIEW;
    DWORD_PTR view = openView(4444, &handle);
    opened.set_value();
    done.get_future().wait();
    CleanupView(view, handle);
  });
  opened.get_future().wait();
  EXPECT_EQ(1, setPCode(602, 2222));                   // this thread's newer view
  EXPECT_EQ(1, SetPCode(602, 1111, u"SetPCodeView"));  // then its older one
  done.set_value();
  other.join();
  auto journal = root.journal();
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ("ae085a02", journal[0].record);
  EXPECT_EQ("57045a02", journal[1].record);
  CleanupView(older, olderHandle);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

int setGunLoad(WORD side, WORD length, WORD load) {
  WORD record[3] = {side, length, load};  // gun_load_struct
  return callSetter(u"SetGunLoadView", record, sizeof record,
                    [&](DWORD_PTR* release) { return SetGunLoad(record, u"SetGunLoadView", release); });
}

TEST(SetGunLoad, UpdatesLengthAndLoadOfTheSidesBankOnly) {
  BridgeRoot root;
  ASSERT_TRUE(root.create());
  EXPECT_EQ(1, setGunLoad(2, 20, 140));
  EXPECT_EQ(0, setGunLoad(3, 1, 1));  // no third feeder
  // Without its view the setter has no record to write.
  DWORD_PTR release = 99;
  WORD record[3] = {1, 5, 5};
  EXPECT_EQ(0, SetGunLoad(record, u"SetGunLoadView", &release));
  EXPECT_EQ(SQLBRIDGE_NO_RELEASE, release);

  quenta::SettingsStore store;
  quenta::BankConfigRow bank;
  ASSERT_TRUE(store.open(root.database(), false));
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(2, &bank));
  EXPECT_EQ((std::vector<int>{31, 20, 140, 0}),
            (std::vector<int>{bank.errorEnables, bank.gunLdLen, bank.gunLdWFS, bank.encoderLock}));
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(1, &bank));
  EXPECT_EQ((std::vector<int>{15, 100}), (std::vector<int>{bank.gunLdLen, bank.gunLdWFS}));
  EXPECT_EQ(3u, root.journal().size());
}

TEST(SetSystemLog, AppendsOneLogRowFromTheRecord) {
  BridgeRoot root;
  ASSERT_TRUE(root.create());
  int before = SqlBridgeOpenViewCount();
  // The second text fills all 130 characters: no terminator in the record.
  const std::u16string texts[] = {u"Short Term Weld Data Reset. \u00b0C", std::u16string(140, u'x')};
  const char16_t* views[] = {u"SetSystemLogShortTermDataResetView", u"SetSystemLogWebChangeView"};
  // The 284-byte record as the forms fill it: time, three words, kind, text.
  const WORD words[] = {2024, 3, 4, 7, 8, 15, 0, 250, 1, 1, 0, 7};
  for (int k = 0; k < 2; ++k) {
    std::vector<unsigned char> record(284, 0);
    std::memcpy(record.data(), words, sizeof words);
    std::memcpy(&record[24], texts[k].data(), std::min<size_t>(2 * texts[k].size(), 260));
    EXPECT_EQ(1, callSetter(views[k], record.data(), record.size(),
                            [&](DWORD_PTR* release) { return SetSystemLog(views[k], release); }));
  }
  EXPECT_EQ(before, SqlBridgeOpenViewCount());

  quenta::SettingsStore store;
  std::vector<quenta::SystemLogRow> log;
  ASSERT_TRUE(store.open(root.database(), false) && store.readSystemLog(&log));
  ASSERT_EQ(2u, log.size());
  const SYSTEMTIME& t = log[0].time;
  EXPECT_EQ((std::vector<int>{2024, 3, 4, 7, 8, 15, 0, 250, 1, 1, 0, 7}),
            (std::vector<int>{t.wYear, t.wMonth, t.wDayOfWeek, t.wDay, t.wHour, t.wMinute, t.wSecond,
                              t.wMilliseconds, log[0].first, log[0].second, log[0].third, log[0].eventType}));
  EXPECT_EQ("Short Term Weld Data Reset. \xc2\xb0" "C", log[0].description);
  EXPECT_EQ(std::string(130, 'x'), log[1].description);
}

// A database that goes missing or bad under an open connection: reads are
// unavailable (damaged in place: perhaps the last good value), setters count
// 0 and make no file, nothing crashes, and a good file under the same name is
// used at once by setters and once the bridge looks again by readers.
TEST(Faults, BadDatabasesAreUnavailableUntilReplaced) {
  BridgeRoot root;
  struct Case {
    const char* name;
    std::function<void()> spoil;
    bool damagedInPlace;  // may still read the last good value
    bool createWorks;      // making the schema needs no removal first
  };
  const Case cases[] = {
      {"removed", [&] { root.removeDatabase(); }, false, true},
      {"not a database", [&] { root.removeDatabase(); root.writeFile("settings.db", std::string(8192, 'Z')); }, false,
       false},
      {"a folder", [&] { root.removeDatabase(); fs::create_directory(root.database()); }, false, false},
      {"empty", [&] { root.removeDatabase(); root.writeFile("settings.db", ""); }, false, true},
      {"header overwritten", [&] {
         std::fstream(root.database(), std::ios::in | std::ios::out | std::ios::binary) << std::string(100, 'Z');
       }, true, false},
  };
  ASSERT_TRUE(root.create({{602, 1}}));
  int good = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(good, read602());
    c.spoil();
    if (!c.damagedInPlace) {
      // A setter looks at the file first, however recent the last read.
      bool existed = fs::exists(root.database());
      EXPECT_EQ(0, SetPCode(602, 5, u"SetPCodeView"));
      EXPECT_EQ(existed, fs::exists(root.database()));
    }
    int value = read602Fresh();
    EXPECT_TRUE(value == -1 || (c.damagedInPlace && value == good)) << value;
    good += 10;
    bool repaired = root.create({{602, static_cast<WORD>(good)}});
    EXPECT_TRUE(repaired || !c.createWorks);
    if (!repaired) {
      root.removeDatabase();
      ASSERT_TRUE(root.create({{602, static_cast<WORD>(good)}}));
    }
    EXPECT_EQ(good, read602Fresh());
    EXPECT_EQ(1, SetPCode(602, static_cast<WORD>(++good), u"SetPCodeView"));
  }
  EXPECT_EQ(good, read602());
}

// Another connection in exclusive mode (taken before the bridge connects)
// keeps reads and writes out until the busy wait ends; one holding only the
// write lock stops setters, and their journal rows, but not readers. Both
// recover when it lets go.
TEST(Faults, LocksHeldByAnotherConnection) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 10}}));
  const char* locks[] = {"PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE;", "BEGIN IMMEDIATE;"};
  for (int k = 0; k < 2; ++k) {
    SCOPED_TRACE(locks[k]);
    int stored = 10 + 2 * k;
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &holder));
    std::string sql = locks[k] + ("UPDATE pcode SET value = " + std::to_string(stored + 1) + " WHERE code = 602;");
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, sql.c_str(), nullptr, nullptr, nullptr));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(k == 0 ? -1 : stored, read602());
    EXPECT_EQ(0, SetPCode(602, 99, u"SetPCodeView"));
    EXPECT_GE(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(quenta::SettingsStore::kBusyTimeoutMs));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "COMMIT", nullptr, nullptr, nullptr));
    sqlite3_close(holder);
    EXPECT_EQ(stored + 1, read602());
    EXPECT_EQ(1, SetPCode(602, static_cast<WORD>(stored + 2), u"SetPCodeView"));
    EXPECT_EQ(stored + 2, read602());
  }
  auto journal = root.journal();
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ(2, journal[0].count + journal[1].count);
}

// Request threads read and write their own codes while another connection
// (as the admin tool) writes beside them: every write lands, every read sees a
// whole value, every call has its journal row and no view stays open.
TEST(Concurrency, SeveralThreadsAndAnotherConnectionAtOnce) {
  BridgeRoot root;
  // Enough calls that a busy answer SQLite gives without waiting (about one
  // in 10,000 calls here) would show.
  const int kThreads = 4, kRounds = 2500;
  ASSERT_TRUE(root.create({{600, 0}, {601, 0}, {602, 0}, {603, 0}, {650, 0}}));
  int before = SqlBridgeOpenViewCount();
  std::atomic<int> failures(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&failures, t] {
      WORD code = static_cast<WORD>(600 + t);
      for (int round = 1; round <= kRounds; ++round) {
        WORD written = static_cast<WORD>(round * 10 + t);
        WORD read = 0;
        failures += setPCode(code, written) != 1 || GetPCode(code, &read, kView) != 1 || read != written;
      }
    });
  }
  std::thread tool([&root, &failures] {
    quenta::SettingsStore store;
    bool opened = store.open(root.database(), false);
    for (int round = 1; round <= kRounds; ++round) failures += !opened || !store.putPCode(650, WORD(round), true);
  });
  for (auto& thread : threads) thread.join();
  tool.join();
  EXPECT_EQ(0, failures.load());

  auto journal = root.journal();
  EXPECT_EQ(size_t(kThreads * kRounds), journal.size());
  for (const auto& row : journal) ASSERT_EQ(1, row.count);
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  for (int t = 0; t < kThreads; ++t) {
    WORD value = 0;
    ASSERT_EQ(quenta::SettingsStore::kFound, store.getPCode(static_cast<WORD>(600 + t), &value));
    EXPECT_EQ(kRounds * 10 + t, value);
  }
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

}  // namespace
