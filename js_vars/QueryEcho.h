// QueryEcho ("/querytest.js"): echoes the request's query string as a quoted
// text, for checking what reaches the data files. It never reads the machine.
#ifndef QUENTA_JS_VARS_QUERYECHO_H_
#define QUENTA_JS_VARS_QUERYECHO_H_

#include "core/JSVariable.h"

class QueryEcho : public JSVariable {
 public:
  QueryEcho();
  SafeCString* getValue() override;
};

JSVariable* createQueryEcho(const void* row);

#endif  // QUENTA_JS_VARS_QUERYECHO_H_
