// The setters: what each one changes, that a missing row changes nothing, and
// that every call leaves exactly one journal row.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <future>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/sqlbridge/BridgeTestSupport.h"

namespace {

std::vector<quenta::JournalRow> journalOf(const BridgeRoot& root) {
  quenta::SettingsStore store;
  std::vector<quenta::JournalRow> rows;
  EXPECT_TRUE(store.open(root.database(), false));
  EXPECT_TRUE(store.readJournal(&rows));
  return rows;
}

int setPCode(WORD code, WORD value) {
  WORD record[2] = {value, code};  // pcode_only_struct
  return callSetter(u"SetPCodeView", record, sizeof record,
                    [&](DWORD_PTR*) { return SetPCode(code, value, u"SetPCodeView"); });
}

TEST(SetPCode, UpdatesTheRowThatReadsReturnAndJournalsTheCall) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  int before = SqlBridgeOpenViewCount();
  EXPECT_EQ(1, setPCode(602, 1234));
  WORD value = 0;
  EXPECT_EQ(1, GetPCode(602, &value, u"WebQuentaISAPI_TotalArcHours_View"));
  EXPECT_EQ(1234, value);

  auto journal = journalOf(root);
  ASSERT_EQ(1u, journal.size());
  EXPECT_EQ("SetPCode", journal[0].setter);
  EXPECT_EQ("SetPCodeView", journal[0].view);
  EXPECT_EQ("{\"pcode\":602,\"value\":1234}", journal[0].arguments);
  EXPECT_EQ("d2045a02", journal[0].record);  // 1234, 602 little-endian
  EXPECT_EQ(1, journal[0].count);
  EXPECT_TRUE(std::regex_match(journal[0].time, std::regex("\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z")))
      << journal[0].time;
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

TEST(SetPCode, AMissingRowIsNotCreatedButTheCallIsJournalled) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  EXPECT_EQ(0, setPCode(777, 5));
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  WORD value = 0;
  EXPECT_EQ(quenta::SettingsStore::kMissing, store.getPCode(777, &value));
  // Without a view the record is simply absent from the journal.
  EXPECT_EQ(1, SetPCode(602, 9, u"SetPCodeView"));
  auto journal = journalOf(root);
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ(0, journal[0].count);
  EXPECT_EQ("05000903", journal[0].record);
  EXPECT_EQ(1, journal[1].count);
  EXPECT_EQ("", journal[1].record);
}

TEST(SetPCode, NoWriteLandsWithoutItsJournalRow) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  EXPECT_EQ(1, setPCode(602, 2));
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open(root.database().c_str(), &db));
  ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "DROP TABLE journal", nullptr, nullptr, nullptr));
  sqlite3_close(db);
  // The update and its journal row are one transaction: without the journal
  // table the whole call is undone.
  EXPECT_EQ(0, setPCode(602, 3));
  WORD value = 0;
  EXPECT_EQ(1, GetPCode(602, &value, u"WebQuentaISAPI_TotalArcHours_View"));
  EXPECT_EQ(2, value);
}

TEST(SetPCode, ReadsTheCallingThreadsMostRecentView) {
  BridgeRoot root;
  ASSERT_TRUE(root.create({{602, 1}}));
  int before = SqlBridgeOpenViewCount();
  DWORD_PTR olderHandle = SQLBRIDGE_NO_VIEW;
  void* older = CreateView(u"SetPCodeView", &olderHandle);
  WORD olderRecord[2] = {1111, 602};
  std::memcpy(older, olderRecord, sizeof olderRecord);
  // Another thread's view of the same name, newer and open meanwhile, is not
  // this thread's record.
  std::promise<void> opened;
  std::promise<void> done;
  std::thread other([&] {
    DWORD_PTR handle = SQLBRIDGE_NO_VIEW;
    void* view = CreateView(u"SetPCodeView", &handle);
    WORD record[2] = {4444, 602};
    std::memcpy(view, record, sizeof record);
    opened.set_value();
    done.get_future().wait();
    CleanupView(reinterpret_cast<DWORD_PTR>(view), handle);
  });
  opened.get_future().wait();
  EXPECT_EQ(1, setPCode(602, 2222));  // a newer view of this thread: 2222
  EXPECT_EQ(1, SetPCode(602, 1111, u"SetPCodeView"));  // only the older one is left open here
  done.set_value();
  other.join();
  auto journal = journalOf(root);
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ("ae085a02", journal[0].record);
  EXPECT_EQ("57045a02", journal[1].record);
  EXPECT_EQ(before + 1, SqlBridgeOpenViewCount());
  CleanupView(reinterpret_cast<DWORD_PTR>(older), olderHandle);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

int setGunLoad(WORD side, WORD length, WORD load) {
  WORD record[3] = {side, length, load};  // gun_load_struct
  return callSetter(u"SetGunLoadView", record, sizeof record,
                    [&](DWORD_PTR* release) { return SetGunLoad(record, u"SetGunLoadView", release); });
}

TEST(SetGunLoad, UpdatesLengthAndLoadOfTheSidesBank) {
  BridgeRoot root;
  ASSERT_TRUE(root.create());
  EXPECT_EQ(1, setGunLoad(2, 20, 140));
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  quenta::BankConfigRow bank;
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(2, &bank));
  EXPECT_EQ(31, bank.errorEnables);
  EXPECT_EQ(20, bank.gunLdLen);
  EXPECT_EQ(140, bank.gunLdWFS);
  EXPECT_EQ(0, bank.encoderLock);
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(1, &bank));
  EXPECT_EQ(15, bank.gunLdLen);
  EXPECT_EQ(100, bank.gunLdWFS);

  EXPECT_EQ(0, setGunLoad(3, 1, 1));  // no third feeder
  // Without its view the setter has no record to write.
  DWORD_PTR release = 99;
  WORD record[3] = {1, 5, 5};
  EXPECT_EQ(0, SetGunLoad(record, u"SetGunLoadView", &release));
  EXPECT_EQ(SQLBRIDGE_NO_RELEASE, release);
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(1, &bank));
  EXPECT_EQ(15, bank.gunLdLen);

  auto journal = journalOf(root);
  ASSERT_EQ(3u, journal.size());
  EXPECT_EQ("SetGunLoad", journal[0].setter);
  EXPECT_EQ("{\"side\":2}", journal[0].arguments);
  EXPECT_EQ("020014008c00", journal[0].record);
  EXPECT_EQ(1, journal[0].count);
  EXPECT_EQ("{\"side\":3}", journal[1].arguments);
  EXPECT_EQ(0, journal[1].count);
  EXPECT_EQ("", journal[2].record);
  EXPECT_EQ(0, journal[2].count);
}

// The 284-byte system-log text record as the forms fill it.
std::vector<unsigned char> systemLogRecord(const std::u16string& text, WORD kind) {
  std::vector<unsigned char> record(284, 0);
  const WORD words[] = {2024, 3, 4, 7, 8, 15, 0, 250, 1, 1, 0, kind};
  for (int k = 0; k < 12; ++k) {
    record[2 * k] = static_cast<unsigned char>(words[k] & 0xFF);
    record[2 * k + 1] = static_cast<unsigned char>(words[k] >> 8);
  }
  for (size_t k = 0; k < text.size() && 24 + 2 * k + 1 < record.size(); ++k) {
    record[24 + 2 * k] = static_cast<unsigned char>(text[k] & 0xFF);
    record[24 + 2 * k + 1] = static_cast<unsigned char>(text[k] >> 8);
  }
  return record;
}

TEST(SetSystemLog, AppendsOneLogRowFromTheRecord) {
  BridgeRoot root;
  ASSERT_TRUE(root.create());
  int before = SqlBridgeOpenViewCount();
  auto record = systemLogRecord(u"Short Term Weld Data Reset. \u00b0C", 7);
  const char16_t* view = u"SetSystemLogShortTermDataResetView";
  EXPECT_EQ(1, callSetter(view, record.data(), record.size(),
                          [&](DWORD_PTR* release) { return SetSystemLog(view, release); }));
  // A text that fills all 130 characters has no terminator in the record.
  auto full = systemLogRecord(std::u16string(140, u'x'), 9);
  EXPECT_EQ(1, callSetter(u"SetSystemLogWebChangeView", full.data(), full.size(),
                          [&](DWORD_PTR* release) { return SetSystemLog(u"SetSystemLogWebChangeView", release); }));

  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(root.database(), false));
  std::vector<quenta::SystemLogRow> log;
  ASSERT_TRUE(store.readSystemLog(&log));
  ASSERT_EQ(2u, log.size());
  EXPECT_EQ(2024, log[0].time.wYear);
  EXPECT_EQ(3, log[0].time.wMonth);
  EXPECT_EQ(4, log[0].time.wDayOfWeek);
  EXPECT_EQ(7, log[0].time.wDay);
  EXPECT_EQ(8, log[0].time.wHour);
  EXPECT_EQ(15, log[0].time.wMinute);
  EXPECT_EQ(250, log[0].time.wMilliseconds);
  EXPECT_EQ(1, log[0].first);
  EXPECT_EQ(1, log[0].second);
  EXPECT_EQ(0, log[0].third);
  EXPECT_EQ(7, log[0].eventType);
  EXPECT_EQ("Short Term Weld Data Reset. \xc2\xb0" "C", log[0].description);
  EXPECT_EQ(std::string(130, 'x'), log[1].description);

  std::vector<quenta::JournalRow> journal;
  ASSERT_TRUE(store.readJournal(&journal));
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ("SetSystemLog", journal[0].setter);
  EXPECT_EQ("SetSystemLogShortTermDataResetView", journal[0].view);
  EXPECT_EQ(568u, journal[0].record.size());
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
}

}  // namespace
