// JSFile: one data-file path of the registry. It lists its generators (not
// owned), keeps the text it produced last and the query that text was made
// for, and rebuilds when it has no text yet, when the query changed, or when a
// generator's refresh() asks for it.
//
// produce() writes `output`; the caller must hold lock() from produce() until
// it has taken its own copy of the text, so that no other thread rebuilds the
// file meanwhile. Nothing else in the object needs the lock.
#ifndef QUENTA_CORE_JSFILE_H_
#define QUENTA_CORE_JSFILE_H_

#include <windows.h>

#include "core/JSVariable.h"
#include "core/SafeString.h"

class JSFile {
 public:
  explicit JSFile(const SafeCString& path);
  virtual ~JSFile();

  virtual bool addVariable(JSVariable* variable);
  virtual bool matches(const SafeCString& requestPath);
  virtual bool needsRebuild(const SafeCString& query);
  virtual void clearOutput();
  virtual bool rebuild(const SafeCString& query);

  // Rebuilds if needed and returns the cached text, still owned by the file.
  SafeCString* produce(const SafeCString& query);

  void lock() { EnterCriticalSection(&guard); }
  void unlock() { LeaveCriticalSection(&guard); }

  const SafeCString& getPath() const { return path; }
  DWORD variableCount() const { return variableTotal; }

 private:
  // The registry lists one generator per file; a few more fit without any
  // allocation, so adding can only fail beyond kMaxVariables.
  static const DWORD kMaxVariables = 4;

  JSVariable* variables[kMaxVariables];
  DWORD variableTotal;
  SafeCString path;
  SafeCString output;
  DWORD lastProduced;
  SafeCString lastQuery;
  CRITICAL_SECTION guard;

  JSFile(const JSFile&) = delete;
  JSFile& operator=(const JSFile&) = delete;
};

#endif  // QUENTA_CORE_JSFILE_H_
