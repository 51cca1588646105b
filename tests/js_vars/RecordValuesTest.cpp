// The record data files over the real settings database: records loaded as
// packed bytes through the library's reader table, the exact var line out.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "js_vars/RecordValues.h"
#include "sqlbridge/RecordReaders.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/support/AllocFailure.h"
#include "tests/platform/TempRoot.h"

namespace {

// A packed record, built field by field (little-endian, zero-filled).
struct Record {
  explicit Record(size_t stride) : bytes(stride, '\0') {}
  Record& w(size_t at, unsigned v) { return put(at, v, 2); }
  Record& d(size_t at, unsigned v) { return put(at, v, 4); }
  Record& s(size_t at, const std::string& text) { return bytes.replace(at, text.size(), text), *this; }
  Record& u(size_t at, const std::u16string& text) {
    for (size_t k = 0; k < text.size(); ++k) put(at + 2 * k, text[k], 2);
    return *this;
  }
  Record& t(size_t at, unsigned y, unsigned mo, unsigned day, unsigned h, unsigned mi, unsigned sec) {
    const unsigned words[] = {y, mo, 0, day, h, mi, sec, 0};
    for (size_t k = 0; k < 8; ++k) put(at + 2 * k, words[k], 2);
    return *this;
  }
  Record& put(size_t at, unsigned v, size_t n) {
    for (size_t k = 0; k < n; ++k) bytes[at + k] = static_cast<char>((v >> (8 * k)) & 0xFF);
    return *this;
  }
  std::string bytes;
};

const RecordRow& row(const std::string& variable) {
  for (const RecordRow& r : kRecordRows) {
    if (variable == r.variable) return r;
  }
  ADD_FAILURE() << "no row " << variable;
  return kRecordRows.front();
}

class RecordValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), true) && store.createSchema());
  }

  void load(const RecordRow& r, std::vector<long long> keys, const std::vector<Record>& records) {
    const quenta::RecordReader* reader = quenta::RecordTables::find(r.reader.name);
    ASSERT_NE(nullptr, reader);
    std::string bytes, error;
    for (const Record& record : records) bytes += record.bytes;
    ASSERT_TRUE(quenta::RecordTables::load(store, *reader, keys.data(), bytes, &error)) << error;
  }

  static std::string produce(const RecordRow& r, const char* query) {
    RecordValue generator(r);
    std::unique_ptr<SafeCString> text(generator.generate(SafeCString(query)));
    return text ? std::string(text->c_str(), text->getLength()) : "(null)";
  }

  TempRoot root;
  quenta::SettingsStore store;
};

struct Case {
  const char* variable;
  std::vector<long long> keys;
  std::vector<Record> records;
  const char* query;
  const char* expected;
};

// One case per kind of record and member: objects and lists, words, 32-bit
// values as %f and signed, texts cut at their field, wide texts, the stamps.
TEST_F(RecordValues, EachKindOfRecordGivesItsExactLine) {
  const std::string full24(24, 'x');
  const Case cases[] = {
      {"WeldSequenceState", {3}, {Record(64).w(0, 7).w(12, 245).w(30, 300).w(58, 65535).w(62, 100).w(4, 9)}, "weldNumber=3",
       "var WeldSequenceState = {time:65535,minTime:0,maxTime:100,volts:245,minVolts:0,maxVolts:0,WFS:300,minWFS:0,"
       "maxWFS:0,arcAdjust:0,minArcAdjust:0,maxArcAdjust:0,inductance:0,minInductance:0,maxInductance:0,arcControl:0,"
       "minArcControl:0,maxArcControl:0,current:0,minCurrent:0,maxCurrent:0,seq_ID:7};\n"},
      {"ProgramTriggerDataWithPreflowTimeB", {1}, {Record(72).w(0, 1).w(2, 2).w(4, 3).w(6, 4).w(8, 5).w(12, 6).w(18, 9).w(66, 10).w(70, 12)}, "",
       "var ProgramTriggerDataWithPreflowTimeB = {sequencer:1,TDS:2,DS:3,TPS:4,time:10,seq_ID:5,min_time:0,max_time:12,"
       "smart_enables:6,tbd_enables:0,simple_enables:0,manual_enables:9};\n"},
      {"CraterEnables", {1}, {Record(10).w(0, 18).w(2, 3).w(8, 1)}, "",
       "var CraterEnables = {seq_ID:18,smart_enables:3,tbd_enables:0,simple_enables:0,manual_enables:1};\n"},
      {"BankConfigBankTwo", {2}, {Record(12).w(4, 31).w(6, 15).w(8, 100).w(10, 1)}, "",
       "var BankConfigBankTwo = {errorEnables:31,gunLdLen:15,gunLdWFS:100,encoderLock:1,bankConfigID:1};\n"},
      // Two records of a single-record file: the first only.
      {"WeldCableConfig", {1}, {Record(38).w(0, 1).s(6, std::string(20, 'T')).w(36, 8), Record(38).w(0, 1).w(2, 9)}, "",
       "var WeldCableConfig = {bankNumber:1,torchID:0,torchResistance:0,torchName:'TTTTTTTTTTTTTTTTTTTT',studOrSense:0,"
       "positiveLength:0,positiveSize:0,negativeLength:0,negativeSize:0,secondaryResistance:8};\n"},
      {"ProcessSetupWebPageGases", {}, {Record(38).w(0, 3).s(2, "C25"), Record(38).w(0, 4)}, "",
       "var ProcessSetupWebPageGases = {gasIDs:[3,4],gases:['C25','']};\n"},
      {"AIMBoardSettings", {}, {Record(26).d(0, 1).d(4, 4294967295u).w(12, 255).w(24, 1)}, "",
       "var AIMBoardSettings = {robotIPAddr:1.000000,robotMask:4294967295.000000,robotGateway:0.000000,robotMAC0:255,"
       "robotMAC1:0,robotMAC2:0,robotMAC3:0,robotMAC4:0,robotMAC5:0,robotStaticDynamic:1};\n"},
      {"SoftwarePartNumber", {}, {Record(4).d(0, 7), Record(4).d(0, 2147483648u)}, "",
       "var SoftwarePartNumber = {Number:[7,-2147483648]};\n"},
      // A wide text that fills its field, ending in half a surrogate pair.
      {"ErrorList", {}, {Record(102).w(0, 5).u(2, std::u16string(49, u'\u00e9') + u"\xd83d")}, "",
       "var ErrorList = {ID:[5],Description:['"},
      {"VeyraCoreInfo", {1}, {Record(802).u(2, u"Core \u2713")}, "", "var VeyraCoreInfo = {Value:['Core \xe2\x9c\x93']};\n"},
      {"AllCustomPrograms", {1}, {Record(70).w(0, 9).s(2, "Lab").s(50, "MIG").t(34, 2024, 12, 31, 9, 5, 7)}, "",
       "var AllCustomPrograms = {comboId:[9],authors:['Lab'],shortNames:['MIG'],times:['9:05:07 12/31/24']};\n"},
      {"HaldenSystemLog", {}, {Record(284).t(0, 2024, 1, 2, 9, 5, 7).w(22, 8).u(24, u"Wire \u00fcber")}, "",
       "var HaldenSystemLog = {types:[8],times:['1/02/2024  9:05:07'],systemDescription:['Wire \xc3\xbc" "ber']};\n"},
      {"ErrorLogNoBlob", {}, {Record(24).t(0, 2024, 12, 31, 14, 5, 9).w(22, 5)}, "",
       "var ErrorLogNoBlob = {types:[5],times:['12/31/2024 14:05:09']};\n"},
      {"AutoCalDoneLog", {}, {Record(24).t(0, 2024, 12, 31, 14, 5, 9).w(22, 30)}, "",
       "var AutoCalDoneLog = {types:[30],times:['12/31/24 14:05:09']};\n"},
      {"SecondaryLogNoBlob", {}, {Record(40).t(0, 2024, 12, 31, 14, 5, 9).d(16, 1234).d(36, 1)}, "",
       "var SecondaryLogNoBlob = {measuredTorchVolts:[1234.000000],measuredTorchResist:[0.000000],"
       "measuredSecVolts:[0.000000],measuredSecAmps:[0.000000],measuredSecResist:[0.000000],measuredPassFail:[1.000000],"
       "times:['12/31/2024 14:05:09']};\n"},
      {"SpoolData", {1}, {Record(28).w(0, 1).w(2, 1).w(4, 60).t(12, 2024, 3, 7, 8, 15, 0)}, "",
       "var SpoolData = {spoolWeight:[60],spoolBank:[1],spoolID:[1],poundsUsed:[0],poundsLeft:[0],warningLevel:[0],"
       "spoolDate:['3/07/2024 8:15:00']};\n"},
      // A zero date is refused by the platform: its text stays empty.
      {"WelderInformation", {}, {Record(58).s(0, full24.substr(0, 10)).s(10, "Cell 4")}, "",
       "var WelderInformation = {assetNumber:'xxxxxxxxxx',physicalLocation:'Cell 4',serviceDate:' 0:00:00'};\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.variable);
    const RecordRow& r = row(c.variable);
    load(r, c.keys, c.records);
    std::string text = produce(r, c.query);
    EXPECT_EQ(0u, text.find(c.expected)) << text;
    if (std::strcmp(c.variable, "ErrorList") == 0) {
      // 49 two-byte characters, the lone half as U+FFFD, then "']};\n".
      EXPECT_EQ(std::string(c.expected).size() + 98 + 3 + 5, text.size()) << text;
    } else {
      EXPECT_EQ(c.expected, text);
    }
  }
  EXPECT_EQ(0, SqlBridgeOpenViewCount());
}

// The keys: absent gives the row's default, a value that does not convert
// gives toInt's 0, 16-bit keys keep their low bits, the trigger mode comes
// from "th" before "fourt"; a key with no records gives the fallback.
TEST_F(RecordValues, KeysSelectTheirRecordsAndNoRecordsGiveTheFallback) {
  const RecordRow& enables = row("StartEnables");
  const RecordRow& bank = row("BankConfigBankTwo");
  const RecordRow& config = row("WeldConfigIDA");
  for (long long key : {0, 1, 3}) load(enables, {key}, {Record(10).w(0, 100 + static_cast<unsigned>(key))});
  for (long long key : {1, 2}) load(bank, {key}, {Record(12).w(4, static_cast<unsigned>(key))});
  for (long long mode : {0, 1, 2}) load(config, {5, 0, 1, mode}, {Record(2).w(0, 40 + static_cast<unsigned>(mode))});
  const struct {
    const RecordRow& row;
    const char* query;
    const char* starts;
  } cases[] = {
      {enables, "", "var StartEnables = {seq_ID:101,"},
      {enables, "weldNumber=3", "var StartEnables = {seq_ID:103,"},
      {enables, "weldNumber=abc", "var StartEnables = {seq_ID:100,"},
      {enables, "weldNumber=65539", "var StartEnables = 'START ENABLES UNAVAILABLE';\n"},
      {bank, "", "var BankConfigBankTwo = {errorEnables:2,"},
      {bank, "BankConfigID=65537", "var BankConfigBankTwo = {errorEnables:1,"},
      {config, "tps=5&dualschedule=1", "var WeldConfigIDA = {weldConfigID:[40]}"},
      {config, "tps=5&dualschedule=1&fourt=1", "var WeldConfigIDA = {weldConfigID:[42]}"},
      {config, "tps=5&dualschedule=1&fourt=1&th=1", "var WeldConfigIDA = {weldConfigID:[41]}"},
      {config, "tps=6&dualschedule=1", "var WeldConfigIDA = 'WELD CONFIG ID A UNAVAILABLE';\n"},
  };
  for (const auto& c : cases) {
    std::string text = produce(c.row, c.query);
    EXPECT_EQ(0u, text.find(c.starts)) << c.query << ": " << text;
  }
  EXPECT_EQ(0, SqlBridgeOpenViewCount());
}

// Every allocation of a generation fails in turn: no crash, no leak, and the
// views are always given back.
TEST_F(RecordValues, NoAllocationFailureLeaksOrKeepsAView) {
  const RecordRow& log = row("HaldenSystemLog");
  load(log, {}, {Record(284).t(0, 2024, 1, 2, 9, 5, 7).w(22, 8).u(24, u"Gas flow low"),
                 Record(284).t(0, 2024, 1, 3, 10, 0, 0).w(22, 1).u(24, u"Power on")});
  RecordValue generator(log);
  unsigned long runs = AllocFailure::failEachAllocation([&](unsigned long) {
    delete generator.generate(SafeCString(""));
    EXPECT_EQ(0, SqlBridgeOpenViewCount());
  });
  EXPECT_GE(runs, 3u);  // at least the view's, the text's and the answer's
}

}  // namespace
