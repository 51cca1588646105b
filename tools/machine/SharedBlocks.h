// What the status and mailbox groups share: the machine's named blocks opened
// the way its control and log processes open them, their mutexes, and a stop
// flag raised by SIGINT / SIGTERM for the commands that run until stopped.
#ifndef QUENTA_TOOLS_MACHINE_SHAREDBLOCKS_H_
#define QUENTA_TOOLS_MACHINE_SHAREDBLOCKS_H_

#include <windows.h>

#include <string>

#include "tools/machine/Commands.h"

namespace machine {

// A named mapping with its view and its named mutex, opened (and created
// zero-filled if missing) under the device root of the context.
class SharedBlock {
 public:
  SharedBlock() = default;
  ~SharedBlock();

  // False, with a message printed, when the root is missing or an object
  // cannot be opened.
  bool open(const Context& context, LPCWSTR mappingName, DWORD size, LPCWSTR mutexName);

  // Waits for the mutex. An abandoned mutex is taken (the caller now owns it)
  // with a note on stderr; false after the time-out or on failure.
  bool lock(DWORD milliseconds);
  void unlock();

  BYTE* data() { return view; }
  const std::string& mutexLabel() const { return mutexText; }

 private:
  HANDLE mapping = nullptr;
  BYTE* view = nullptr;
  HANDLE mutex = nullptr;
  std::string mutexText;

  SharedBlock(const SharedBlock&) = delete;
  SharedBlock& operator=(const SharedBlock&) = delete;
};

// SIGINT and SIGTERM raise the stop flag instead of ending the process.
void installStopHandlers();
bool stopRequested();
// Sleeps up to the given time; returns early (false) when a stop is requested.
bool sleepUnlessStopped(unsigned milliseconds);

// "--name N" / "--name=N" at argv[*index]; advances *index past it. A
// missing or out-of-range number prints a usage message and sets *bad.
bool numberOption(int argc, char** argv, int* index, const char* name, unsigned long min,
                  unsigned long max, unsigned long* value, bool* bad);

// `lock --ms N` of both groups: holds the mutex for N ms (a stop ends it early).
int holdMutexCommand(const Context& context, int argc, char** argv, LPCWSTR mappingName, DWORD size,
                     LPCWSTR mutexName);

}  // namespace machine

#endif  // QUENTA_TOOLS_MACHINE_SHAREDBLOCKS_H_
