// HttpExtensionProc for GET "/querytest.js" in process, through the control
// block double: the cost of the frame, one data-file rebuild and the copy that
// is sent. The HTTP figures beside a static file come from bench/http_bench.sh.
#include <benchmark/benchmark.h>
#include <httpext.h>

#include "tests/support/FakeEcb.h"

extern "C" BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* pVer);
extern "C" DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb);
extern "C" BOOL WINAPI TerminateExtension(DWORD dwFlags);

namespace {

struct Module {
  Module() {
    HSE_VERSION_INFO info;
    GetExtensionVersion(&info);
  }
  ~Module() { TerminateExtension(HSE_TERM_MUST_UNLOAD); }
};

// Loaded once for every benchmark of the program, as the server loads it once.
void loadModule() { static Module module; }

void BM_QueryEcho(benchmark::State& state) {
  loadModule();
  FakeEcb ecb("GET", "/querytest.js", "a=1&b=2");
  for (auto _ : state) {
    ecb.reset();
    if (HttpExtensionProc(ecb.ecb()) != HSE_STATUS_SUCCESS_AND_KEEP_CONN) state.SkipWithError("request failed");
    benchmark::DoNotOptimize(ecb.body.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QueryEcho);

void BM_UnregisteredPath(benchmark::State& state) {
  loadModule();
  FakeEcb ecb("GET", "/no/such/file.js");
  for (auto _ : state) {
    ecb.reset();
    HttpExtensionProc(ecb.ecb());
    benchmark::DoNotOptimize(ecb.body.data());
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UnregisteredPath);

}  // namespace

BENCHMARK_MAIN();
