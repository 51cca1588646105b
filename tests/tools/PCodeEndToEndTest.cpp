// The 74 parameter-code data files end to end: a device root laid out by
// quenta-machine, served by quenta-httpd on 127.0.0.1 with the real module.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <string>

#include "sqlbridge/SettingsStore.h"
#include "tests/host/HostTestSupport.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/tools/ToolRunner.h"

namespace {

class PCodeEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access(QUENTA_HTTPD, X_OK) != 0) GTEST_SKIP() << "quenta-httpd is not built yet: " << QUENTA_HTTPD;
  }
  void TearDown() override {
    if (port > 0) host.stop(SIGTERM, 20000);
  }

  void startServer() {
    ASSERT_TRUE(host.start({QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:0", "--module",
                            WEBQUENTA_MODULE}));
    port = host.waitForListening(20000);
    ASSERT_GT(port, 0) << host.errors();
  }

  std::string get(const std::string& path) {
    hosttest::HttpConnection connection;
    hosttest::HttpResponse response;
    if (!connection.open(port) || !connection.exchange(hosttest::request("GET", path), &response)) return "(none)";
    return response.status == 200 ? response.body : "(status " + std::to_string(response.status) + ")";
  }

  int machine(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--root", root.path()});
    ToolResult result = runTool(arguments, {"QUENTA_ROOT"});
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
    for (const auto& file : kExpectedPCodeFiles) {
      EXPECT_EQ(expectedPCodeText(file, value(file.code)), get(file.path)) << file.path;
    }
    WORD monitoring = value(666);
    ASSERT_NE(0, monitoring);
    EXPECT_EQ(expectedDiagnostics(monitoring, value(662), value(663), value(664)), get(kDiagnosticsPath));
  }

  hosttest::DeviceRoot root;
  hosttest::HostProcess host;
  int port = 0;
};

// Started without a database, the server keeps running while quenta-machine
// makes one beside it; every generator reads afresh each time.
TEST_F(PCodeEndToEnd, EveryPathFallsBackUntilInitThenShowsStoredValuesAndWrites) {
  startServer();
  for (const auto& file : kExpectedPCodeFiles) EXPECT_EQ(file.fallback, get(file.path)) << file.path;
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), get(kDiagnosticsPath));
  ASSERT_EQ(0, machine({"init", "--demo"}));
  expectStoredValues();
  ASSERT_EQ(0, machine({"settings", "set-pcode", "602", "4321"}));
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:4321};\n", get("/logs/TotalArcHours.js"));
}

}  // namespace
