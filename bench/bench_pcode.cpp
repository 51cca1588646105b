// HttpExtensionProc for GET "/logs/TotalArcHours.js" in process, through the
// control-block double, over a demo settings database in a temporary device
// root: the frame, one parameter read through the settings database (SQLite,
// the request thread's cached connection and statement) and the answer.
// Beside it: the same file without a database (the fallback text) and the
// bare GetPCode call.
#include <benchmark/benchmark.h>
#include <httpext.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "sqlbridge/SettingsStore.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/support/FakeEcb.h"

extern "C" BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer);
extern "C" DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
extern "C" BOOL WINAPI TerminateExtension(DWORD dwFlags);

namespace {

// Two device roots, one with a demo settings database and one without; the
// module is loaded once, as the server loads it.
struct Setup {
  Setup() {
    char pattern[] = "/tmp/quenta-bench-pcode-XXXXXX";
    if (mkdtemp(pattern) != nullptr) base = pattern;
    demoRoot = base + "/demo";
    emptyRoot = base + "/empty";
    std::filesystem::create_directories(demoRoot);
    std::filesystem::create_directories(emptyRoot);
    quenta::SettingsStore store;
    ok = store.open(quenta::SettingsStore::databasePath(demoRoot), true) && store.createSchema() &&
         store.putPCode(602, 1234, true);
    setenv("QUENTA_ROOT", demoRoot.c_str(), 1);
    HSE_VERSION_INFO info;
    GetExtensionVersion(&info);
  }
  ~Setup() {
    TerminateExtension(HSE_TERM_MUST_UNLOAD);
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }
  std::string base;
  std::string demoRoot;
  std::string emptyRoot;
  bool ok = false;
};

Setup& setup() {
  static Setup instance;
  return instance;
}

void request(benchmark::State& state, const std::string& root, const std::string& expected) {
  if (!setup().ok) {
    state.SkipWithError("could not make the demo settings database");
    return;
  }
  setenv("QUENTA_ROOT", root.c_str(), 1);
  FakeEcb ecb("GET", "/logs/TotalArcHours.js");
  for (auto _ : state) {
    ecb.reset();
    HttpExtensionProc(ecb.ecb());
    benchmark::DoNotOptimize(ecb.body.data());
  }
  if (ecb.body != expected) state.SkipWithError(("unexpected answer: " + ecb.body).c_str());
  state.SetItemsProcessed(state.iterations());
}

void BM_TotalArcHours(benchmark::State& state) {
  request(state, setup().demoRoot, "var TotalArcHours = {TotalArcHours:1234};\n");
}
BENCHMARK(BM_TotalArcHours);

void BM_TotalArcHoursWithoutDatabase(benchmark::State& state) {
  request(state, setup().emptyRoot, "var TotalArcHours = 'TOTAL ARC HOURS UNAVAILABLE';\n");
}
BENCHMARK(BM_TotalArcHoursWithoutDatabase);

void BM_GetPCode(benchmark::State& state) {
  setup();
  setenv("QUENTA_ROOT", setup().demoRoot.c_str(), 1);
  WORD value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(GetPCode(602, &value, u"WebQuentaISAPI_TotalArcHours_View"));
  }
  if (value != 1234) state.SkipWithError("GetPCode did not read 1234");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetPCode);

}  // namespace

BENCHMARK_MAIN();
