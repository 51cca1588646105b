#include "js_vars/QueryEcho.h"

#include <new>

QueryEcho::QueryEcho() : JSVariable(SafeCString("QueryEcho")) {}

SafeCString* QueryEcho::getValue() {
  // The whole query, still URL-encoded and unescaped inside the quotes.
  return new (std::nothrow) SafeCString(quote(parameters));
}

JSVariable* createQueryEcho(const void*) { return new (std::nothrow) QueryEcho(); }
