// JSVariable: the base of every data-file generator. A generator produces one
// JavaScript declaration, "var " + name + " = " + value + ";\n"; the concrete
// class supplies only the value text through getValue().
//
// JSArrayVariable: the base of generators whose value is "new Array(a,b,...)".
//
// A generator is not safe for concurrent use: `parameters` holds the request's
// query while getValue runs. The JSFile that lists it serialises its use.
#ifndef QUENTA_CORE_JSVARIABLE_H_
#define QUENTA_CORE_JSVARIABLE_H_

#include "core/SafeString.h"

// Shared pieces from which generators compose their values.
extern const SafeCString JS_QUOTE;        // '
extern const SafeCString JS_EMPTY_QUOTE;  // ''
extern const SafeCString JS_ZERO;         // 0
extern const SafeCString JS_ONE;          // 1
extern const SafeCString JS_DAYS;         // " Days "
extern const SafeCString JS_COLON;        // :
extern const SafeCString JS_COMMA;        // ,
extern const SafeCString JS_SPACE;        // " "
extern const SafeCString JS_OPEN_BRACE;   // {
extern const SafeCString JS_CLOSE_BRACE;  // }
extern const SafeCString JS_AMPERSAND;    // &
extern const SafeCString JS_EQUALS;       // =

class JSVariable {
 public:
  explicit JSVariable(const SafeCString& name);
  // The registry deletes generators through this base.
  virtual ~JSVariable();

  // True when the data file must be rebuilt before it is sent.
  virtual bool refresh();
  // A new string holding only the value text; the caller owns it. Null only
  // when not even that string could be allocated.
  virtual SafeCString* getValue() = 0;

  // declaration + getValue() + ";\n", with `parameters` = query while
  // getValue runs. The caller owns the result: null when getValue returned
  // null; a value whose status is already negative comes back unwrapped, so
  // the file stops there (JSFile::rebuild).
  SafeCString* generate(const SafeCString& query);

  const SafeCString& getName() const { return name; }

 protected:
  // Looks `key` up in the query (plain substring search) and copies the text
  // between its "=" and the next "&" into out, not URL-decoded. A null out only
  // tests for presence.
  bool getParameter(const SafeCString& key, SafeCString* out);
  static SafeCString quote(const SafeCString& text);
  static SafeCString pair(const SafeCString& a, const SafeCString& b);

  SafeCString parameters;

 private:
  SafeCString name;
  SafeCString declaration;

  JSVariable(const JSVariable&) = delete;
  JSVariable& operator=(const JSVariable&) = delete;
};

class JSArrayVariable : public JSVariable {
 public:
  explicit JSArrayVariable(const SafeCString& name);

  SafeCString* getValue() override;
  virtual DWORD count();
  // A new element text for each index below count(); getValue deletes it.
  virtual SafeCString* element(DWORD index);
};

#endif  // QUENTA_CORE_JSVARIABLE_H_
