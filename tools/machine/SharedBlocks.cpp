#include "tools/machine/SharedBlocks.h"

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QuentaPlatform.h>

namespace machine {

namespace {

volatile sig_atomic_t stopFlag = 0;

void onStopSignal(int) { stopFlag = 1; }

std::string errorText(const char* what, DWORD error) {
  char text[160];
  std::snprintf(text, sizeof text, "%s failed (error %lu)", what, static_cast<unsigned long>(error));
  return text;
}

}  // namespace

bool openBlock(const Context& context, SharedBlock* block, LPCWSTR mappingName, DWORD size, LPCWSTR mutexName) {
  if (context.root.empty()) {
    complain(kExitUsage, "no device root: give --root DIR or set QUENTA_ROOT");
    return false;
  }
  struct stat info;
  if (stat(context.root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    complain(kExitFailure, "device root " + context.root + " is not a directory");
    return false;
  }
  // The platform layer names its shared objects after the device root.
  setenv("QUENTA_ROOT", context.root.c_str(), 1);
  if (!block->open(mappingName, size, mutexName)) {
    std::string what = "opening the shared block " + quenta::narrow(mappingName) + " and its mutex " +
                       quenta::narrow(mutexName);
    complain(kExitFailure, errorText(what.c_str(), GetLastError()));
    return false;
  }
  return true;
}

bool lockBlock(SharedBlock& block, DWORD milliseconds, LPCWSTR mutexName) {
  if (!block.lock(milliseconds, true)) return false;
  if (block.wasAbandoned()) {
    std::fprintf(stderr, "quenta-machine: %s was abandoned by a process that died holding it; taken over\n",
                 quenta::narrow(mutexName).c_str());
  }
  return true;
}

void installStopHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a sleep is cut short by the signal.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return stopFlag != 0; }

bool sleepUnlessStopped(unsigned milliseconds) {
  struct timespec left;
  left.tv_sec = milliseconds / 1000;
  left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (!stopRequested()) {
    if (nanosleep(&left, &left) == 0) return true;
    if (errno != EINTR) return true;
  }
  return false;
}

bool numberOption(int argc, char** argv, int* index, const char* name, unsigned long min,
                  unsigned long max, unsigned long* value, bool* bad) {
  std::string arg = argv[*index];
  std::string option = std::string("--") + name;
  std::string text;
  if (arg == option) {
    if (*index + 1 >= argc) {
      complain(kExitUsage, option + " needs a number");
      *bad = true;
      return true;
    }
    text = argv[*index + 1];
    *index += 2;
  } else if (arg.compare(0, option.size() + 1, option + "=") == 0) {
    text = arg.substr(option.size() + 1);
    *index += 1;
  } else {
    return false;
  }
  if (!parseNumber(text, max, value) || *value < min) {
    complain(kExitUsage, option + " takes a number from " + std::to_string(min) + " to " + std::to_string(max) +
                             ", not '" + text + "'");
    *bad = true;
  }
  return true;
}

int holdMutexCommand(const Context& context, int argc, char** argv, LPCWSTR mappingName, DWORD size,
                     LPCWSTR mutexName) {
  unsigned long milliseconds = 0;
  bool haveTime = false;
  for (int index = 1; index < argc;) {
    bool bad = false;
    if (numberOption(argc, argv, &index, "ms", 0, 3600000, &milliseconds, &bad)) {
      if (bad) return kExitUsage;
      haveTime = true;
      continue;
    }
    return complain(kExitUsage, std::string("lock: unknown argument '") + argv[index] + "' (see --help)");
  }
  if (!haveTime) return complain(kExitUsage, "lock needs --ms N");
  SharedBlock block;
  if (!openBlock(context, &block, mappingName, size, mutexName)) return kExitFailure;
  installStopHandlers();
  // Whoever holds it now is waited for as long as it takes (Ctrl-C gives up).
  while (!lockBlock(block, 500, mutexName)) {
    if (stopRequested()) return kExitFailure;
  }
  std::printf("holding %s for %lu ms\n", quenta::narrow(mutexName).c_str(), milliseconds);
  std::fflush(stdout);
  bool completed = sleepUnlessStopped(static_cast<unsigned>(milliseconds));
  block.unlock();
  std::printf("released %s%s\n", quenta::narrow(mutexName).c_str(), completed ? "" : " early (stopped)");
  return kExitOk;
}

}  // namespace machine
