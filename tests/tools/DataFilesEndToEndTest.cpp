// The database-backed data files end to end (the parameter codes, the
// diagnostics and the records): a device root laid out by quenta-machine,
// served by quenta-httpd on 127.0.0.1 with the real module.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>

#include "sqlbridge/SettingsStore.h"
#include "tests/host/HostTestSupport.h"
#include "js_vars/RecordValues.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/tools/ToolRunner.h"

namespace {

class DataFilesEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, access(QUENTA_HTTPD, X_OK)) << "quenta-httpd is not built: " << QUENTA_HTTPD;
  }
  void TearDown() override {
    if (port > 0) {
      EXPECT_EQ(0, host.stop(SIGTERM, 20000));
      // The module's debug output is off unless asked for.
      EXPECT_EQ(std::string::npos, host.errors().find("WebQuenta:")) << host.errors();
    }
  }

  std::string get(const std::string& path) { return hosttest::get(port, path); }

  int machine(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), {"--root", root.path()});
    ToolResult result = runTool(arguments, {"QUENTA_ROOT"}, input);
    EXPECT_EQ(0, result.exitCode) << result.err;
    return result.exitCode;
  }

  // Every file against the values stored now.
  void expectStoredValues() {
    quenta::SettingsStore store;
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), false));
    auto value = [&store](WORD code) {
      WORD word = 0;
      EXPECT_EQ(quenta::SettingsStore::kFound, store.getPCode(code, &word)) << code;
      return word;
    };
    for (DWORD k = 0; k < kPCodeRowCount; ++k) {
      EXPECT_EQ(expectedPCodeText(kPCodeRows[k], value(kPCodeRows[k].code)), get(kPCodeRows[k].path));
    }
    WORD monitoring = value(666);
    ASSERT_NE(0, monitoring);
    EXPECT_EQ(expectedDiagnostics(monitoring, value(662), value(663), value(664)), get(diagnosticsPath()));
  }

  hosttest::DeviceRoot root;
  hosttest::HostProcess host;
  int port = 0;
};

std::string unavailable(const char* variable, const char* fallback) {
  return std::string("var ") + variable + " = " + fallback + ";\n";
}

// Started without a database, the server keeps running while quenta-machine
// makes one beside it; every generator reads afresh each time. On the demo
// root every record file answers data, and a record loaded with `settings
// load` is on the page at once.
TEST_F(DataFilesEndToEnd, EveryPathFallsBackUntilInitThenShowsStoredValuesAndRecords) {
  port = host.serve(QUENTA_HTTPD, root.path(), WEBQUENTA_MODULE);
  ASSERT_GT(port, 0) << host.errors();
  for (DWORD k = 0; k < kPCodeRowCount; ++k) {
    EXPECT_EQ(unavailable(kPCodeRows[k].variable, kPCodeRows[k].fallback), get(kPCodeRows[k].path));
  }
  for (const RecordRow& row : kRecordRows) EXPECT_EQ(unavailable(row.variable, row.fallback), get(row.path));
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), get(diagnosticsPath()));
  ASSERT_EQ(0, machine({"init", "--demo"}));
  expectStoredValues();
  for (const RecordRow& row : kRecordRows) {
    std::string text = get(row.path);
    EXPECT_EQ(0u, text.find(std::string("var ") + row.variable + " = {" + row.members[0].name + ":")) << text;
  }
  ASSERT_EQ(0, machine({"settings", "set-pcode", "602", "4321"}));
  // The module's answer leaves the server byte for byte.
  hosttest::HttpConnection connection;
  hosttest::HttpResponse response;
  ASSERT_TRUE(connection.open(port));
  ASSERT_TRUE(connection.exchange(hosttest::request("GET", "/logs/TotalArcHours.js"), &response));
  const std::string cache = "Cache-Control: max-age=0, no-cache, no-store, must-revalidate\r\n";
  EXPECT_EQ("HTTP/1.1 200 OK\r\n" + cache + "Content-Length: 42\r\nContent-Type: text/javascript\r\n" + cache +
                "\r\nvar TotalArcHours = {TotalArcHours:4321};\n",
            response.raw);
  ASSERT_EQ(0, machine({"settings", "load", "GetRobotMfgAll"}, "{\"robotName\":\"None\",\"robotSelected\":1}\n"));
  EXPECT_EQ("var RobotMfgAll = {robotName:['None'],robotID:[0],robotSelected:[1]};\n",
            get("/robot-config/RobotMfgAll.js"));
}

}  // namespace
