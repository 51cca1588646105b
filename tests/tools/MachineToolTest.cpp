// quenta-machine: laying out a device root, the demo settings, reading and
// writing parameter codes, refusing bad input, and the journal as JSON.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "sqlbridge/RecordReaders.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/support/TestRoot.h"
#include "tests/tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

class MachineTool : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("QUENTA_ROOT"); }

  ToolResult machine(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), {"--root", root.path()});
    return runTool(arguments, {"QUENTA_ROOT"}, input);
  }
  std::string database() const { return root.path() + "/settings.db"; }

  TestRoot root{false};
};

TEST_F(MachineTool, InitLaysOutTheDeviceRoot) {
  ToolResult init = machine({"init"});
  ASSERT_EQ(0, init.exitCode) << init.err;
  // The card's files, byte for byte, under the web root.
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(TestRoot::cardDir())) {
    if (!entry.is_regular_file()) continue;
    std::string copy = "MMCMemory/www/wwwpub/" + fs::relative(entry.path(), TestRoot::cardDir()).string();
    EXPECT_EQ(root.readFile(entry.path().string()), root.readFile(copy)) << copy;
    ++files;
  }
  EXPECT_GT(files, 0);
  EXPECT_TRUE(fs::is_directory(root.path() + "/Temp"));
  // The documented tables, without values, in WAL mode (header byte 18: 2).
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(database(), false));
  std::vector<std::pair<WORD, WORD>> pcodes;
  std::vector<quenta::SystemLogRow> log;
  std::vector<quenta::JournalRow> journal;
  quenta::BankConfigRow bank;
  EXPECT_TRUE(store.listPCodes(&pcodes) && pcodes.empty() && store.readSystemLog(&log) && log.empty() &&
              store.readJournal(&journal) && journal.empty());
  EXPECT_NE(quenta::SettingsStore::kFailed, store.getBankConfig(1, &bank));
  EXPECT_EQ(2, root.readFile("settings.db").at(18));

  // A card given by the user is copied instead, into a root made for it.
  TestRoot card(false);
  card.writeFile("setup/page.html", "<p>page</p>");
  TestRoot other(false);
  ASSERT_EQ(0, runTool({"--root", other.path() + "/new", "init", "--card", card.path()}, {"QUENTA_ROOT"}).exitCode);
  EXPECT_EQ("<p>page</p>", other.readFile("new/MMCMemory/www/wwwpub/setup/page.html"));
}

TEST_F(MachineTool, DemoHoldsEveryCodeReadOrWrittenAndInitKeepsWhatIsStored) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  {
    quenta::SettingsStore store;
    ASSERT_TRUE(store.open(database(), false));
    std::set<WORD> codes = {149, 649, 662, 663, 664, 671, 732};  // the forms' own
    for (DWORD k = 0; k < kPCodeRowCount; ++k) codes.insert(kPCodeRows[k].code);
    WORD value = 0;
    for (WORD code : codes) EXPECT_EQ(quenta::SettingsStore::kFound, store.getPCode(code, &value)) << code;
    ASSERT_EQ(quenta::SettingsStore::kFound, store.getPCode(666, &value));
    EXPECT_NE(0, value) << "the demo shows the weld-monitoring numbers";
    quenta::BankConfigRow row;
    for (WORD bank : {1, 2}) EXPECT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(bank, &row)) << bank;
  }
  EXPECT_EQ(0, machine({"settings", "set-pcode", "602", "4321"}).exitCode);
  EXPECT_EQ(0, machine({"settings", "set-pcode", "5000", "65535"}).exitCode);  // a new code
  EXPECT_EQ("4321\n", machine({"settings", "get-pcode", "602"}).out);
  EXPECT_EQ("65535\n", machine({"settings", "get-pcode", "5000"}).out);
  // Laying out the root again keeps every value.
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  std::string list = machine({"settings", "list-pcodes"}).out;
  EXPECT_NE(std::string::npos, list.find("\n602 4321\n"));
  EXPECT_NE(std::string::npos, list.find("\n5000 65535\n"));
}

// Bad input refused, with nothing written.
TEST_F(MachineTool, RefusesBadInputWithoutWriting) {
  const std::string fromEnvironment = "QUENTA_ROOT=" + root.path();
  ToolResult noRoot = runTool({"settings", "get-pcode", "602"}, {"QUENTA_ROOT"});
  EXPECT_EQ(2, noRoot.exitCode);
  EXPECT_NE(std::string::npos, noRoot.err.find("no device root"));
  ToolResult noDatabase = runTool({"settings", "get-pcode", "602"}, {fromEnvironment});
  EXPECT_EQ(1, noDatabase.exitCode);
  EXPECT_NE(std::string::npos, noDatabase.err.find("no settings database"));
  EXPECT_FALSE(fs::exists(database()));
  ASSERT_EQ(0, runTool({"init", "--demo"}, {fromEnvironment}).exitCode);

  const struct {
    std::vector<std::string> arguments;
    int exitCode;
    const char* message;
  } cases[] = {
      {{"settings", "set-pcode", "--help"}, 0, "usage: quenta-machine"},  // help, not a write
      {{}, 2, "usage:"},
      {{"settings", "get-pcode", "0"}, 2, "out of range"},
      {{"settings", "get-pcode", "65536"}, 2, "out of range"},
      {{"settings", "get-pcode", "-1"}, 2, "not a decimal number"},
      {{"settings", "get-pcode", "602x"}, 2, "not a decimal number"},
      {{"settings", "get-pcode", "9999"}, 1, "not stored"},
      {{"settings", "set-pcode", "602", "65536"}, 2, "does not fit 16 bits"},
      {{"settings", "set-pcode", "602", "99999999999999999999"}, 2, "does not fit 16 bits"},
      {{"settings", "set-pcode", "602", "-5"}, 2, "not a decimal number"},
      {{"settings", "set-pcode", "70000", "1"}, 2, "out of range"},
      {{"settings", "set-pcode", "602"}, 2, "takes CODE and VALUE"},
      {{"settings", "frobnicate"}, 2, "unknown settings command"},
      {{"reboot"}, 2, "unknown command group"},
      {{"init", "--card", "/nonexistent/card"}, 2, "not a directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? std::string("(none)") : c.arguments.front() + " " + c.arguments.back());
    ToolResult result = machine(c.arguments);
    EXPECT_EQ(c.exitCode, result.exitCode);
    if (c.exitCode == 0) {
      EXPECT_EQ(0u, result.out.find(c.message)) << result.out;
    } else {
      EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
    }
  }
  EXPECT_EQ("1234\n", runTool({"settings", "get-pcode", "602"}, {fromEnvironment}).out);
}

TEST_F(MachineTool, JournalPrintsOneJsonObjectPerSetterCall) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  EXPECT_EQ("", machine({"settings", "journal"}).out);

  setenv("QUENTA_ROOT", root.path().c_str(), 1);
  DWORD_PTR mapHandle = SQLBRIDGE_NO_VIEW;
  void* view = CreateView(u"SetPCodeView", &mapHandle);
  WORD record[2] = {1234, 602};
  std::memcpy(view, record, sizeof record);
  EXPECT_EQ(1, SetPCode(602, 1234, u"SetPCodeView"));
  EXPECT_EQ(0, SetPCode(9999, 1, u"SetPCodeView"));
  CleanupView(reinterpret_cast<DWORD_PTR>(view), mapHandle);

  ToolResult journal = machine({"settings", "journal"});
  EXPECT_EQ(0, journal.exitCode) << journal.err;
  const std::string time = "\"time\":\"\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z\"";
  auto row = [&](int id, const std::string& arguments, int count) {
    return "\\{\"id\":" + std::to_string(id) + "," + time +
           ",\"setter\":\"SetPCode\",\"view\":\"SetPCodeView\",\"arguments\":\\{" + arguments +
           "\\},\"record\":\"d2045a02\",\"count\":" + std::to_string(count) + "\\}\n";
  };
  std::regex expected(row(1, "\"pcode\":602,\"value\":1234", 1) + row(2, "\"pcode\":9999,\"value\":1", 0));
  EXPECT_TRUE(std::regex_match(journal.out, expected)) << journal.out;
}

// For every reader: dump the demo's records, load them back, and dump again
// (the same lines); then load a changed copy and see it. Keys are the demo's.
TEST_F(MachineTool, DumpOfWhatLoadTookGivesTheSameRecordsForEveryReader) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  std::string readers = machine({"settings", "readers"}).out;
  for (const quenta::RecordReader& reader : quenta::RecordTables::readers()) {
    SCOPED_TRACE(reader.name);
    EXPECT_NE(std::string::npos, readers.find(std::string("{\"reader\":\"") + reader.name + "\""));
    std::vector<std::string> command = {"settings", "dump", reader.name};
    // The demo's keys: program and bank 1, the all-zero trigger set-up, the
    // first combination.
    for (size_t k = 0; k < reader.keys.size(); ++k) {
      bool zero = reader.keys.size() == 4 || std::strcmp(reader.keys[k], "metric") == 0;
      command.push_back(zero ? "0" : "1");
    }
    ToolResult first = machine(command);
    ASSERT_EQ(0, first.exitCode) << first.err;
    EXPECT_FALSE(first.out.empty()) << "the demo has no records for " << reader.name;
    std::vector<std::string> load = command;
    load[1] = "load";
    ToolResult loaded = machine(load, first.out);
    ASSERT_EQ(0, loaded.exitCode) << loaded.err;
    EXPECT_EQ(first.out, machine(command).out);
  }
  // A log answers its newest 500 entries, oldest first: 3 more than that
  // (after the demo's) leave the first 3 of them out.
  std::string entries;
  for (int k = 1; k <= 503; ++k) entries += "{\"types\":" + std::to_string(k) + "}\n";
  ASSERT_EQ(0, machine({"settings", "load", "GetErrorLogNoBlob"}, machine({"settings", "dump", "GetErrorLogNoBlob"}).out +
                                                                    entries).exitCode);
  std::string newest = machine({"settings", "dump", "GetErrorLogNoBlob"}).out;
  EXPECT_EQ(500, std::count(newest.begin(), newest.end(), '\n'));
  EXPECT_EQ(0u, newest.find("{\"types\":4,"));
  EXPECT_EQ(std::string::npos, newest.find("{\"types\":3,"));
  EXPECT_EQ(newest.rfind('\n', newest.size() - 2) + 1, newest.rfind("{\"types\":503,"));
  ASSERT_EQ(0, machine({"settings", "load", "GetWeldCableConfig", "2"},
                       "{\"torchName\":\"T\u00e9\",\"negativeSize\":65535}\n").exitCode);
  EXPECT_EQ(0u, machine({"settings", "dump", "GetWeldCableConfig", "2"})
                    .out.find("{\"bankNumber\":2,\"torchID\":0,\"torchResistance\":0,\"torchName\":\"T\xc3\xa9\","));
}

// A load that cannot be taken whole is refused whole.
TEST_F(MachineTool, LoadRefusesBadRecordsWithoutWriting) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  const std::string before = machine({"settings", "dump", "GetTorchData"}).out;
  const struct {
    std::vector<std::string> arguments;
    const char* input;
    const char* message;
  } cases[] = {
      {{"GetTorchData"}, "{\"torchID\":1}\n{\"raw\":\"0100\"}\n", "a raw record of 2 bytes"},
      {{"GetTorchData"}, "{\"raw\":\"zz\"}\n", "hex string"},
      {{"GetTorchData"}, "{\"torchID\":1,\"colour\":2}\n", "unknown member 'colour'"},
      {{"GetTorchData"}, "{\"torchID\":65536}\n", "out of range"},
      {{"GetTorchData"}, "{\"torchName\":\"a name longer than twenty\"}\n", "out of range"},
      {{"GetTorchData"}, "{\"torchName\":5}\n", "takes a string"},
      {{"GetTorchData"}, "torchID=1\n", "not a JSON object"},
      {{"GetTorchData", "1"}, "", "takes 0 key(s), not 1"},
      {{"GetWebSpoolData"}, "", "takes 1 key(s), not 0"},
      {{"GetWebSpoolData", "x"}, "", "not a 32-bit number"},
      {{"GetSpools"}, "", "unknown reader"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> command = {"settings", "load"};
    command.insert(command.end(), c.arguments.begin(), c.arguments.end());
    ToolResult result = machine(command, c.input);
    EXPECT_EQ(2, result.exitCode) << c.input;
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
  }
  EXPECT_EQ(before, machine({"settings", "dump", "GetTorchData"}).out);
}

}  // namespace
