// What the status and mailbox groups share: the machine's named blocks opened
// the way its control and log processes open them, their mutexes, and a stop
// flag raised by SIGINT / SIGTERM for the commands that run until stopped.
#ifndef QUENTA_TOOLS_MACHINE_SHAREDBLOCKS_H_
#define QUENTA_TOOLS_MACHINE_SHAREDBLOCKS_H_

#include <windows.h>

#include <string>

#include "links/SharedBlock.h"
#include "tools/machine/Commands.h"

namespace machine {

// Opens one of the machine's named blocks (created zero-filled if missing)
// under the context's device root. False, with a message printed, when the
// root is missing or an object cannot be opened.
bool openBlock(const Context& context, SharedBlock* block, LPCWSTR mappingName, DWORD size, LPCWSTR mutexName);
// Waits for the block's mutex. An abandoned mutex is taken over (the caller
// now owns it) with a note on stderr; false after the time-out or on failure.
bool lockBlock(SharedBlock& block, DWORD milliseconds, LPCWSTR mutexName);

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
