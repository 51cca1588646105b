// DIOCommunication ("/DIOCommunication.js"): whether the digital I/O module
// (an ADAM-6050 on the machine's network) answers, and what its inputs and
// outputs read: {Connection:1,Inputs:i,Outputs:o}, or {Connection:0} when it
// cannot be reached. A read that fails shows as Inputs:9999 or Outputs:99.
//
// The module's address a.b.c.d is held in two parameters: 648 = a*256 + b,
// 647 = c*256 + d. The module is asked afresh on every request (refresh() is
// always true), through one ADAMbridge connection that the request opens and
// closes. Not safe for concurrent use; its JSFile serialises the requests.
#ifndef QUENTA_JS_VARS_DIOCOMMUNICATION_H_
#define QUENTA_JS_VARS_DIOCOMMUNICATION_H_

#include <windows.h>

#include "core/JSVariable.h"

class DIOCommunication : public JSVariable {
 public:
  DIOCommunication();
  SafeCString* getValue() override;

 private:
  // GetPCode into `target`, then ReleaseView and CleanupView with the no-view values.
  void read(WORD code, WORD* target);
  // name:value, the value in decimal.
  static SafeCString member(const char* name, int value);

  int result;  // of the last GetPCode
  DWORD_PTR mapHandle;
  DWORD_PTR recordAddress;
  DWORD_PTR releaseHandle;
  // Only GetPCode writes them; a read that fails leaves the previous words.
  WORD addressHigh;
  WORD addressLow;

  SafeWString viewName;
};

JSVariable* createDIOCommunication(const void* row);

#endif  // QUENTA_JS_VARS_DIOCOMMUNICATION_H_
