// quenta-httpd: loads the ISAPI module and serves it over HTTP/1.1 (see
// docs/host.md). Start order matters: QUENTA_ROOT is set before the module is
// loaded (its static objects read error pages from the card), and
// GetExtensionVersion runs before the first connection is accepted.
#include <httpext.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <sys/resource.h>
#include <string>

#include "host/AccessLog.h"
#include "host/HostOptions.h"
#include "host/HttpServer.h"
#include "host/IsapiModule.h"
#include <RotatingLog.h>

namespace {

std::string trimmed(const char* text, size_t limit) {
  size_t length = strnlen(text, limit);
  size_t start = 0;
  while (start < length && static_cast<unsigned char>(text[start]) <= ' ') ++start;
  while (length > start && static_cast<unsigned char>(text[length - 1]) <= ' ') --length;
  return std::string(text + start, length - start);
}

int fail(const std::string& message) {
  std::fprintf(stderr, "quenta-httpd: %s\n", message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  quenta::HostOptions options;
  std::string error;
  switch (quenta::parseHostOptions(argc, argv, &options, &error)) {
    case quenta::ParseOutcome::Help:
      quenta::printUsage(stdout);
      return 0;
    case quenta::ParseOutcome::Bad:
      std::fprintf(stderr, "quenta-httpd: %s\n\n", error.c_str());
      quenta::printUsage(stderr);
      return 2;
    case quenta::ParseOutcome::Run:
      break;
  }

  // SIGINT and SIGTERM are taken by sigwait below; they are blocked before any
  // thread exists (the module's or the server's) so that every thread inherits
  // the mask and none of them is interrupted by them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  quenta::AccessLog accessLog;
  if (!accessLog.open(options.accessLogPath, &error)) return fail(error);

  // The module's debug output (the platform layer's QUENTA_DEBUG_LOG): the
  // file or "-" asked for, else the variable as the caller set it, else none,
  // as on the device when no debugger is attached.
  const char* inherited = getenv("QUENTA_DEBUG_LOG");
  std::string debugLog = options.debugLogPath;
  if (debugLog.empty()) debugLog = inherited != nullptr && *inherited != 0 ? inherited : "/dev/null";
  if (debugLog != "-") {
    quenta::RotatingLog probe;
    if (!probe.open(debugLog, &error)) return fail("debug log: " + error);
  }
  setenv("QUENTA_DEBUG_LOG", debugLog.c_str(), 1);

  // Every open connection holds a descriptor.
  rlimit files;
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  if (setenv("QUENTA_ROOT", options.root.c_str(), 1) != 0) return fail("cannot set QUENTA_ROOT");
  quenta::IsapiModule module;
  if (!module.load(options.modulePath, &error)) return fail(error);

  HSE_VERSION_INFO version;
  std::memset(&version, 0, sizeof(version));
  if (!module.getExtensionVersion(&version)) {
    return fail("module " + options.modulePath + " refused to load (GetExtensionVersion returned FALSE)");
  }
  // The version is printed as the module gives it: not every module composes
  // it from major and minor numbers.
  std::printf("quenta-httpd: module %s: %s (version %u)\n", options.modulePath.c_str(),
              trimmed(version.lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN).c_str(),
              static_cast<unsigned>(version.dwExtensionVersion));

  int port = 0;
  {
    quenta::HttpServer server(options, module, accessLog);
    if (!server.start(&error, &port)) {
      module.terminateExtension(HSE_TERM_MUST_UNLOAD);
      return fail(error);
    }
    std::printf("quenta-httpd: listening on http://%s:%d\n", options.listenAddress.c_str(), port);
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    std::printf("quenta-httpd: %s received, stopping\n", signal == SIGINT ? "SIGINT" : "SIGTERM");
    std::fflush(stdout);
    server.stop();  // stops accepting and lets running requests finish
  }

  // With HSE_TERM_MUST_UNLOAD the module cannot refuse; its answer is ignored.
  module.terminateExtension(HSE_TERM_MUST_UNLOAD);
  module.unload();
  std::printf("quenta-httpd: stopped\n");
  std::fflush(stdout);
  return 0;
}
