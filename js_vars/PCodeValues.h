// PCodeValue: the data files whose value is one machine parameter, read from
// the settings database by its parameter code. They differ only in the
// constants of their row in kPCodeRows (path, variable, code, member name and
// the text sent when the parameter cannot be read), so one class serves all
// 73 of them; each object keeps a reference to its row.
//
// WeldMonitorDiagnostics ("/welder-config/WeldMonitoringDiagnostics.js"):
// the weld-monitoring switch (666) and, only while it is on, the job, part and
// weld numbers (662, 663, 664), always as four members, never a fallback text.
//
// Each generation reads the database afresh: GetPCode, then ReleaseView and
// CleanupView with the no-view values. Neither class is safe for concurrent
// use; its JSFile serialises the requests for its path.
#ifndef QUENTA_JS_VARS_PCODEVALUES_H_
#define QUENTA_JS_VARS_PCODEVALUES_H_

#include <windows.h>

#include "core/JSVariable.h"

struct PCodeRow {
  int slot;  // its place in the data-file registry (1-based)
  const char* path;
  const char* variable;
  WORD code;
  const char* field;
  const char* fallback;  // single quotes included
};

extern const PCodeRow kPCodeRows[];
extern const DWORD kPCodeRowCount;

class PCodeValue : public JSVariable {
 public:
  explicit PCodeValue(const PCodeRow& row);
  SafeCString* getValue() override;

 private:
  int result;               // of the last GetPCode
  DWORD_PTR mapHandle;      // never set: the no-view values are passed on
  DWORD_PTR recordAddress;
  DWORD_PTR releaseHandle;
  WORD value;               // filled by GetPCode

  const PCodeRow& row;
  SafeWString viewName;     // "WebQuentaISAPI_" + variable + "_View"
  SafeCString field;
  SafeCString fallback;
};

class WeldMonitorDiagnostics : public JSVariable {
 public:
  WeldMonitorDiagnostics();
  SafeCString* getValue() override;

 private:
  // GetPCode into `target`, then the no-view ReleaseView and CleanupView.
  void read(WORD code, WORD* target);

  int result;
  DWORD_PTR mapHandle;
  DWORD_PTR recordAddress;
  DWORD_PTR releaseHandle;
  WORD VeyraEnabled;
  WORD JobID;
  WORD PartID;
  WORD WeldID;

  SafeWString viewName;
};

// Registry factories: `row` is a PCodeRow; the diagnostics file has none.
JSVariable* createPCodeValue(const void* row);
JSVariable* createWeldMonitorDiagnostics(const void* row);

#endif  // QUENTA_JS_VARS_PCODEVALUES_H_
