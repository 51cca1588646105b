// quenta-machine: laying out a device root, the demo settings, reading and
// writing parameter codes, refusing bad input, and the journal as JSON.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class MachineTool : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quenta-machine-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    base = pattern;
    root = base + "/device";
  }
  void TearDown() override {
    unsetenv("QUENTA_ROOT");
    std::error_code ignored;
    fs::remove_all(base, ignored);
  }

  ToolResult machine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--root", root});
    return runTool(arguments, {"QUENTA_ROOT"});
  }

  std::string database() const { return root + "/settings.db"; }

  std::string base;
  std::string root;
};

TEST_F(MachineTool, InitLaysOutTheDeviceRoot) {
  ToolResult init = machine({"init"});
  ASSERT_EQ(0, init.exitCode) << init.err;
  // The card's files, byte for byte, under the web root.
  int files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(CARD_DIR)) {
    if (!entry.is_regular_file()) continue;
    fs::path copy = fs::path(root) / "MMCMemory/www/wwwpub" / fs::relative(entry.path(), CARD_DIR);
    EXPECT_EQ(readFile(entry.path()), readFile(copy)) << copy;
    ++files;
  }
  EXPECT_GT(files, 0);
  EXPECT_TRUE(fs::is_directory(root + "/Temp"));

  // The schema the documentation describes, in WAL mode, and no values yet.
  sqlite3* db = nullptr;
  ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(database().c_str(), &db, SQLITE_OPEN_READONLY, nullptr));
  std::set<std::string> tables;
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'", -1, &stmt, nullptr);
  while (sqlite3_step(stmt) == SQLITE_ROW) tables.insert(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  for (const char* table : {"pcode", "bank_config", "system_log", "journal"}) EXPECT_EQ(1u, tables.count(table)) << table;
  sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &stmt, nullptr);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
  EXPECT_STREQ("wal", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
  sqlite3_finalize(stmt);
  sqlite3_prepare_v2(db, "SELECT count(*) FROM pcode", -1, &stmt, nullptr);
  ASSERT_EQ(SQLITE_ROW, sqlite3_step(stmt));
  EXPECT_EQ(0, sqlite3_column_int(stmt, 0));
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

TEST_F(MachineTool, DemoHasEveryCodeTheModuleReadsOrItsFormsWrite) {
  ToolResult init = machine({"init", "--demo"});
  ASSERT_EQ(0, init.exitCode) << init.err;
  quenta::SettingsStore store;
  ASSERT_TRUE(store.open(database(), false));
  std::set<WORD> codes = {149, 649, 662, 663, 664, 671, 732};
  for (const auto& file : kExpectedPCodeFiles) codes.insert(file.code);
  for (WORD code : codes) {
    WORD value = 0;
    EXPECT_EQ(quenta::SettingsStore::kFound, store.getPCode(code, &value)) << code;
  }
  WORD monitoring = 0;
  ASSERT_EQ(quenta::SettingsStore::kFound, store.getPCode(666, &monitoring));
  EXPECT_NE(0, monitoring) << "the demo shows the weld-monitoring numbers";
  for (WORD bank : {1, 2}) {
    quenta::BankConfigRow row;
    EXPECT_EQ(quenta::SettingsStore::kFound, store.getBankConfig(bank, &row)) << bank;
  }
}

TEST_F(MachineTool, SetThenGetAndInitKeepsWhatIsStored) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  EXPECT_EQ(0, machine({"settings", "set-pcode", "602", "4321"}).exitCode);
  EXPECT_EQ(0, machine({"settings", "set-pcode", "5000", "65535"}).exitCode);  // a new code
  ToolResult get = machine({"settings", "get-pcode", "602"});
  EXPECT_EQ(0, get.exitCode);
  EXPECT_EQ("4321\n", get.out);
  EXPECT_EQ("65535\n", machine({"settings", "get-pcode", "5000"}).out);
  // The module sees the value at once.
  setenv("QUENTA_ROOT", root.c_str(), 1);
  WORD value = 0;
  EXPECT_EQ(1, GetPCode(602, &value, u"WebQuentaISAPI_TotalArcHours_View"));
  EXPECT_EQ(4321, value);
  // Laying out the root again keeps every value.
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  EXPECT_EQ("4321\n", machine({"settings", "get-pcode", "602"}).out);
  ToolResult list = machine({"settings", "list-pcodes"});
  EXPECT_EQ(0, list.exitCode);
  EXPECT_NE(std::string::npos, list.out.find("\n602 4321\n"));
  EXPECT_NE(std::string::npos, list.out.find("\n5000 65535\n"));
}

TEST_F(MachineTool, RefusesBadInputWithoutWriting) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"settings", "get-pcode", "0"}, "out of range"},
      {{"settings", "get-pcode", "65536"}, "out of range"},
      {{"settings", "get-pcode", "-1"}, "not a decimal number"},
      {{"settings", "get-pcode", "602x"}, "not a decimal number"},
      {{"settings", "set-pcode", "602", "65536"}, "does not fit 16 bits"},
      {{"settings", "set-pcode", "602", "99999999999999999999"}, "does not fit 16 bits"},
      {{"settings", "set-pcode", "602", "-5"}, "not a decimal number"},
      {{"settings", "set-pcode", "70000", "1"}, "out of range"},
      {{"settings", "set-pcode", "602"}, "takes CODE and VALUE"},
      {{"settings", "frobnicate"}, "unknown settings command"},
      {{"reboot"}, "unknown command group"},
      {{"init", "--card", "/nonexistent/card"}, "not a directory"},
  };
  for (const Case& c : cases) {
    ToolResult result = machine(c.arguments);
    EXPECT_EQ(2, result.exitCode) << c.arguments.back();
    EXPECT_NE(std::string::npos, result.err.find(c.message)) << result.err;
  }
  EXPECT_EQ("1234\n", machine({"settings", "get-pcode", "602"}).out);
}

TEST_F(MachineTool, RootFromTheEnvironmentAndMissingPieces) {
  ToolResult noRoot = runTool({"settings", "get-pcode", "602"}, {"QUENTA_ROOT"});
  EXPECT_EQ(2, noRoot.exitCode);
  EXPECT_NE(std::string::npos, noRoot.err.find("no device root"));
  fs::create_directories(root);
  ToolResult noDatabase = runTool({"settings", "get-pcode", "602"}, {"QUENTA_ROOT=" + root});
  EXPECT_EQ(1, noDatabase.exitCode);
  EXPECT_NE(std::string::npos, noDatabase.err.find("no settings database"));
  EXPECT_FALSE(fs::exists(database()));
  ASSERT_EQ(0, runTool({"init", "--demo"}, {"QUENTA_ROOT=" + root}).exitCode);
  EXPECT_EQ("1234\n", runTool({"settings", "get-pcode", "602"}, {"QUENTA_ROOT=" + root}).out);
  ToolResult missing = machine({"settings", "get-pcode", "9999"});
  EXPECT_EQ(1, missing.exitCode);
  EXPECT_NE(std::string::npos, missing.err.find("not stored"));
}

TEST_F(MachineTool, EveryCommandHasHelp) {
  const std::vector<std::vector<std::string>> commands = {
      {"--help"},
      {"init", "--help"},
      {"settings", "--help"},
      {"settings", "get-pcode", "--help"},
      {"settings", "set-pcode", "--help"},
      {"settings", "list-pcodes", "--help"},
      {"settings", "journal", "--help"},
  };
  for (const auto& command : commands) {
    ToolResult help = runTool(command, {"QUENTA_ROOT"});
    EXPECT_EQ(0, help.exitCode) << command[0];
    EXPECT_EQ(0u, help.out.find("usage: quenta-machine")) << help.out;
  }
  ToolResult bare = runTool({}, {"QUENTA_ROOT"});
  EXPECT_EQ(2, bare.exitCode);
  EXPECT_NE(std::string::npos, bare.err.find("usage:"));
}

TEST_F(MachineTool, JournalPrintsOneJsonObjectPerSetterCall) {
  ASSERT_EQ(0, machine({"init", "--demo"}).exitCode);
  ToolResult empty = machine({"settings", "journal"});
  EXPECT_EQ(0, empty.exitCode);
  EXPECT_EQ("", empty.out);

  setenv("QUENTA_ROOT", root.c_str(), 1);
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
  std::regex expected("\\{\"id\":1," + time +
                      ",\"setter\":\"SetPCode\",\"view\":\"SetPCodeView\",\"arguments\":\\{\"pcode\":602,"
                      "\"value\":1234\\},\"record\":\"d2045a02\",\"count\":1\\}\n"
                      "\\{\"id\":2," + time +
                      ",\"setter\":\"SetPCode\",\"view\":\"SetPCodeView\",\"arguments\":\\{\"pcode\":9999,"
                      "\"value\":1\\},\"record\":\"d2045a02\",\"count\":0\\}\n");
  EXPECT_TRUE(std::regex_match(journal.out, expected)) << journal.out;
}

TEST_F(MachineTool, InitCopiesAGivenCard) {
  fs::create_directories(base + "/card/setup");
  std::ofstream(base + "/card/setup/page.html") << "<p>page</p>";
  ToolResult init = machine({"init", "--card", base + "/card"});
  ASSERT_EQ(0, init.exitCode) << init.err;
  EXPECT_EQ("<p>page</p>", readFile(root + "/MMCMemory/www/wwwpub/setup/page.html"));
}

}  // namespace
