// The parameter-code data files over real settings databases: every row's
// exact text with a value and without a database, and the same through the
// loaded module at the registry's paths.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>

#include "frame/Registry.h"
#include "js_vars/PCodeValues.h"
#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/support/FakeEcb.h"
#include "tests/support/TestRoot.h"

namespace {

// A device root whose QUENTA_ROOT is set while the test runs.
class PCodeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.path().empty());
    setenv("QUENTA_ROOT", root.path().c_str(), 1);
  }
  void TearDown() override { unsetenv("QUENTA_ROOT"); }

  // The settings database with every code of the files set to its distinct
  // value, then the given overrides.
  void makeDatabase(std::initializer_list<std::pair<WORD, WORD>> overrides = {}) {
    quenta::SettingsStore store;
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), true));
    ASSERT_TRUE(store.createSchema());
    for (const auto& file : kExpectedPCodeFiles) ASSERT_TRUE(store.putPCode(file.code, distinctValue(file.code), true));
    for (const auto& row : overrides) ASSERT_TRUE(store.putPCode(row.first, row.second, true));
  }

  static std::string produce(JSVariable* generator) {
    std::unique_ptr<SafeCString> text(generator->generate(SafeCString("")));
    return text ? std::string(text->c_str(), text->getLength()) : std::string("(null)");
  }

  static std::string produce(const char* path) {
    std::unique_ptr<JSVariable> generator(createPCodeValue(path));
    if (!generator) return "(no generator)";
    return produce(generator.get());
  }

  TestRoot root{false};
};

TEST_F(PCodeRoot, EveryRowShowsItsOwnParameter) {
  makeDatabase();
  ASSERT_EQ(73u, kExpectedPCodeFileCount);
  ASSERT_EQ(73u, kPCodeRowCount);
  for (const auto& file : kExpectedPCodeFiles) {
    EXPECT_EQ(expectedPCodeText(file, distinctValue(file.code)), produce(file.path)) << file.path;
  }
  EXPECT_EQ(0, SqlBridgeOpenViewCount());
}

TEST_F(PCodeRoot, EveryRowShowsItsFallbackWithoutADatabase) {
  for (const auto& file : kExpectedPCodeFiles) EXPECT_EQ(file.fallback, produce(file.path)) << file.path;
}

TEST_F(PCodeRoot, ZeroIsAValueAndTheFullWordIsNotNegative) {
  makeDatabase({{602, 0}, {600, 65535}});
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:0};\n", produce("/logs/TotalArcHours.js"));
  EXPECT_EQ("var TotalArcSeconds = {TotalArcSeconds:65535};\n", produce("/logs/TotalArcSeconds.js"));
}

TEST_F(PCodeRoot, AGeneratorReadsAfreshEveryTime) {
  makeDatabase({{602, 1}});
  std::unique_ptr<JSVariable> generator(createPCodeValue("/logs/TotalArcHours.js"));
  ASSERT_TRUE(generator);
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:1};\n", produce(generator.get()));
  {
    quenta::SettingsStore store;
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), false));
    ASSERT_TRUE(store.putPCode(602, 1234, true));
  }
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:1234};\n", produce(generator.get()));
  root.removeFile("settings.db");
  root.removeFile("settings.db-wal");
  root.removeFile("settings.db-shm");
  EXPECT_EQ("var TotalArcHours = 'TOTAL ARC HOURS UNAVAILABLE';\n", produce(generator.get()));
}

TEST_F(PCodeRoot, OnlyTheTablesPathsMakeGenerators) {
  EXPECT_EQ(nullptr, createPCodeValue(nullptr));
  EXPECT_EQ(nullptr, createPCodeValue("/logs/TotalArcHours.jsx"));
  EXPECT_EQ(nullptr, createPCodeValue("/logs/totalarchours.js"));
  EXPECT_EQ(nullptr, createPCodeValue(kDiagnosticsPath));
}

TEST_F(PCodeRoot, DiagnosticsReadTheNumbersOnlyWhileMonitoringIsOn) {
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(kDiagnosticsPath));
  ASSERT_TRUE(diagnostics);
  // No database: four zeros, never an UNAVAILABLE text.
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), produce(diagnostics.get()));
  makeDatabase({{666, 1}, {662, 2024}, {663, 17}, {664, 65535}});
  EXPECT_EQ(expectedDiagnostics(1, 2024, 17, 65535), produce(diagnostics.get()));
  {
    quenta::SettingsStore store;
    ASSERT_TRUE(store.open(quenta::SettingsStore::databasePath(root.path()), false));
    ASSERT_TRUE(store.putPCode(666, 0, true));
  }
  // The numbers are still stored, but not read, and not kept from before.
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), produce(diagnostics.get()));
}

TEST_F(PCodeRoot, TheRegistryServesEachPathWithItsGenerator) {
  std::set<std::string> paths;
  for (const auto& file : kExpectedPCodeFiles) paths.insert(file.path);
  int pcodeEntries = 0;
  for (const DataFileEntry& entry : kDataFiles) {
    if (std::strcmp(entry.path, kDiagnosticsPath) == 0) {
      EXPECT_EQ(&createWeldMonitorDiagnostics, entry.create);
    } else if (paths.count(entry.path) != 0) {
      EXPECT_EQ(&createPCodeValue, entry.create) << entry.path;
    }
    if (entry.create == &createPCodeValue) ++pcodeEntries;
  }
  EXPECT_EQ(73, pcodeEntries);
}

// Through the module as the web server loads it: all 74 paths.
TEST_F(PCodeRoot, TheLoadedModuleAnswersEveryPath) {
  makeDatabase({{666, 1}, {662, 7}, {663, 8}, {664, 9}});
  LoadedModule module(root.path());
  ASSERT_TRUE(module.ok()) << module.error();
  HSE_VERSION_INFO info;
  ASSERT_TRUE(module.getVersion(&info));
  int before = SqlBridgeOpenViewCount();
  for (const auto& file : kExpectedPCodeFiles) {
    FakeEcb ecb("GET", file.path);
    module.proc(ecb.ecb());
    // Rows that share a code show the value the code has now (666 was set above).
    WORD value = file.code == 666 ? 1 : distinctValue(file.code);
    EXPECT_EQ(expectedPCodeText(file, value), ecb.body) << file.path;
    EXPECT_NE(std::string::npos, ecb.header.find("Content-Type: text/javascript")) << file.path;
  }
  FakeEcb diagnostics("GET", kDiagnosticsPath);
  module.proc(diagnostics.ecb());
  EXPECT_EQ(expectedDiagnostics(1, 7, 8, 9), diagnostics.body);
  EXPECT_EQ(before, SqlBridgeOpenViewCount());
  module.terminate(HSE_TERM_MUST_UNLOAD);
}

}  // namespace
