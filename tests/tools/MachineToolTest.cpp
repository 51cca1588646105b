// quenta-machine: laying out a device root, the demo settings, reading and
// writing parameter codes, refusing bad input, and the journal as JSON.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <set>
#include <string>

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

  ToolResult machine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--root", root.path()});
    return runTool(arguments, {"QUENTA_ROOT"});
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
    for (const auto& file : kExpectedPCodeFiles) codes.insert(file.code);
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

}  // namespace
