// The system debug output: one call, one line, written to stderr in a single
// write() so that lines from different threads never interleave, or handed to
// the sink a test installed.
#include <pthread.h>
#include <stdlib.h>

#include <cstdarg>
#include <new>

#include <QuentaPlatform.h>
#include <RotatingLog.h>
#include <windows.h>

#include "PlatformInternal.h"
#include "WideFormat.h"

namespace quenta {
namespace {

// Readers are the lines being delivered, the writer is setDebugSink, so a sink
// is never replaced while a line is inside it. Constant-initialised.
pthread_rwlock_t sinkLock = PTHREAD_RWLOCK_INITIALIZER;
DebugSink currentSink = nullptr;
void* currentContext = nullptr;
// Guards the choice of the file QUENTA_DEBUG_LOG names.
pthread_mutex_t fileLock = PTHREAD_MUTEX_INITIALIZER;

// Made on first use: module objects write debug lines while they are built.
RotatingLog& debugFile() {
  static RotatingLog file;
  return file;
}

// Lines up to this many units are handled on the stack.
constexpr size_t kLocalUnits = 512;

void deliver(const char* text, size_t length) {
  pthread_rwlock_rdlock(&sinkLock);
  if (currentSink != nullptr) {
    currentSink(text, currentContext);
  } else {
    // QUENTA_DEBUG_LOG names a file that collects the lines instead of stderr
    // ("-" is stderr too): it reaches every copy of this layer (the module,
    // the host, a test that loads the module with dlopen) and every process.
    // The file stays open until the variable names another, and rotates at
    // its size cap.
    const char* logPath = getenv("QUENTA_DEBUG_LOG");
    if (logPath == nullptr || *logPath == 0) logPath = "-";
    pthread_mutex_lock(&fileLock);
    RotatingLog& file = debugFile();
    if (file.path() != logPath && !file.open(logPath, nullptr)) file.open("-", nullptr);
    file.write(text, length);
    pthread_mutex_unlock(&fileLock);
  }
  pthread_rwlock_unlock(&sinkLock);
}

// Converts a wide line to UTF-8 and delivers it; lone surrogates become U+FFFD.
void emitLine(const char16_t* line, size_t length) {
  char local[3 * kLocalUnits + 1];
  char* text = local;
  // At most 3 bytes per unit: a pair of units makes 4 bytes.
  size_t capacity = 3 * length + 1;
  if (capacity > sizeof local) {
    text = new (std::nothrow) char[capacity];
    if (text == nullptr) {
      text = local;
      capacity = sizeof local;
    }
  }
  size_t produced = 0;
  size_t position = 0;
  while (position < length) {
    char32_t codePoint;
    bool valid;
    size_t used = decodeUtf16(line + position, length - position, &codePoint, &valid);
    char bytes[4];
    size_t count = encodeUtf8(codePoint, bytes);
    if (produced + count >= capacity) break;  // only without memory for a long line
    for (size_t i = 0; i < count; ++i) text[produced + i] = bytes[i];
    produced += count;
    position += used;
  }
  text[produced] = 0;
  deliver(text, produced);
  if (text != local) delete[] text;
}

}  // namespace

void setDebugSink(DebugSink sink, void* context) {
  pthread_rwlock_wrlock(&sinkLock);
  currentSink = sink;
  currentContext = context;
  pthread_rwlock_unlock(&sinkLock);
}

}  // namespace quenta

extern "C" {

void WINAPIV NKDbgPrintfW(LPCWSTR lpszFmt, ...) {
  if (lpszFmt == nullptr) return;
  char16_t local[quenta::kLocalUnits];
  va_list args;
  va_start(args, lpszFmt);
  va_list again;
  va_copy(again, args);
  size_t length = quenta::formatText(local, quenta::kLocalUnits, lpszFmt, args);
  char16_t* line = local;
  if (length >= quenta::kLocalUnits) {
    char16_t* large = new (std::nothrow) char16_t[length + 1];
    if (large != nullptr) {
      quenta::formatText(large, length + 1, lpszFmt, again);
      line = large;
    } else {
      length = quenta::kLocalUnits - 1;  // cut short rather than lost
    }
  }
  va_end(again);
  va_end(args);
  quenta::emitLine(line, length);
  if (line != local) delete[] line;
}

}  // extern "C"
