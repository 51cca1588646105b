// HttpExtensionProc for GET of every record data file, in process, through
// the control-block double, over a temporary device root with the demo
// records, both banks' configuration (and a system log of 500 entries, the most one answer carries):
// the frame, the reader through SQLite (the thread's cached connection and
// statements), the packing, the formatting and the answer. One benchmark per
// file, named after its variable.
#include <benchmark/benchmark.h>
#include <httpext.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "js_vars/RecordValues.h"
#include "sqlbridge/RecordReaders.h"
#include "sqlbridge/SettingsStore.h"
#include "tests/support/FakeEcb.h"

extern "C" BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer);
extern "C" DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
extern "C" BOOL WINAPI TerminateExtension(DWORD dwFlags);

namespace {

struct Setup {
  Setup() {
    char pattern[] = "/tmp/quenta-bench-records-XXXXXX";
    if (mkdtemp(pattern) != nullptr) root = pattern;
    quenta::SettingsStore store;
    ok = store.open(quenta::SettingsStore::databasePath(root), true) && store.createSchema() &&
         quenta::RecordTables::storeDemo(store) && store.putBankConfig({1, 31, 15, 100, 0}, true) &&
         store.putBankConfig({2, 31, 12, 90, 0}, true);
    // The demo's 300 log entries and 200 more.
    quenta::SystemLogRow row;
    row.time = {2024, 12, 2, 31, 14, 5, 9, 0};
    row.eventType = 8;
    row.description = "Parameter changed from the web page";
    for (int k = 0; ok && k < 200; ++k) ok = store.appendSystemLog(row);
    setenv("QUENTA_ROOT", root.c_str(), 1);
    HSE_VERSION_INFO info;
    GetExtensionVersion(&info);
  }
  ~Setup() {
    TerminateExtension(HSE_TERM_MUST_UNLOAD);
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
  }
  std::string root;
  bool ok = false;
};

void request(benchmark::State& state, const RecordRow* row, Setup* setup) {
  if (!setup->ok) {
    state.SkipWithError("could not make the demo settings database");
    return;
  }
  FakeEcb ecb("GET", row->path);
  for (auto _ : state) {
    ecb.reset();
    HttpExtensionProc(ecb.ecb());
    benchmark::DoNotOptimize(ecb.body.data());
  }
  // Data, not the fallback text.
  if (ecb.body.compare(0, 6 + std::strlen(row->variable), std::string("var ") + row->variable + " {") == 0 ||
      ecb.body.find(" = {") == std::string::npos) {
    state.SkipWithError(("unexpected answer: " + ecb.body.substr(0, 80)).c_str());
  }
  state.counters["bytes"] = static_cast<double>(ecb.body.size());
}

}  // namespace

int main(int argc, char** argv) {
  Setup setup;
  for (const RecordRow& row : kRecordRows) {
    benchmark::RegisterBenchmark(row.variable, request, &row, &setup);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
