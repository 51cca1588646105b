// The Linux side of the platform layer: what the host, the tools and the tests
// need to know about how device services are mapped onto this machine. The
// module itself never includes this header.
#ifndef QUENTA_PLATFORM_QUENTAPLATFORM_H_
#define QUENTA_PLATFORM_QUENTAPLATFORM_H_

#include <string>

#include <windows.h>

namespace quenta {

// Without a sink, debug lines go to stderr, or are appended to the file that
// the environment variable QUENTA_DEBUG_LOG names (read on every line).
// Receives each line of the debug output, already converted to UTF-8 and with
// its line ending as the caller wrote it. nullptr restores stderr.
typedef void (*DebugSink)(const char* utf8Line, void* context);
// The sink may be called from several threads at once; once setDebugSink
// returns, the previous sink is no longer running. A sink must not call
// setDebugSink itself.
void setDebugSink(DebugSink sink, void* context);

// Test hook: a constant added to GetTickCount, so that tests can place the
// counter just before its wrap at 2^32. 0 (the default) means none.
void setTickOffset(DWORD offset);

// The device root: QUENTA_ROOT, read on every call (tests change it).
// Empty when the variable is not set.
std::string deviceRoot();

// Maps a device path such as u"\\Temp\\a.bin" to a path under the device root.
// False for a path that would leave the root (a ".." component), or when no
// root is set.
bool toHostPath(LPCWSTR devicePath, std::string* hostPath);

// Removes every named mapping and mutex of the current device root (they
// otherwise outlive the processes that made them, like files). Only for when
// no process of that root is running: a process that still has an object open
// keeps the old one while new openers get a fresh, zero-filled one. False, with
// a reason in *error (may be null), when there is no root or an object could
// not be removed.
bool removeNamedObjects(std::string* error);

// The registry store of the current root (winreg.h) as .reg text, for the
// admin commands. False, with a reason in *error, when there is no root.
bool exportRegistry(std::string* text, std::string* error);
// Merges .reg text into the store. The whole text is checked before anything
// is written, and then written at once: a text with any wrong line changes
// nothing, and *error names the line.
bool importRegistry(const std::string& text, std::string* error);
// Test hook: called by every registry write after the new file is on disk and
// before it replaces the store. nullptr removes it.
void setRegistryWriteHook(void (*hook)());

// UTF-8 <-> UTF-16 for the host and tools (no code page limits).
std::u16string widen(const std::string& utf8);
std::string narrow(const std::u16string& utf16);

}  // namespace quenta

#endif  // QUENTA_PLATFORM_QUENTAPLATFORM_H_
