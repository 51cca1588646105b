#include "core/JSVariable.h"

#include <new>

// Built during static initialisation, before the server loads the module, and
// never changed afterwards.
const SafeCString JS_QUOTE("'");
const SafeCString JS_EMPTY_QUOTE("''");
const SafeCString JS_ZERO("0");
const SafeCString JS_ONE("1");
const SafeCString JS_DAYS(" Days ");
const SafeCString JS_COLON(":");
const SafeCString JS_COMMA(",");
const SafeCString JS_SPACE(" ");
const SafeCString JS_OPEN_BRACE("{");
const SafeCString JS_CLOSE_BRACE("}");
const SafeCString JS_AMPERSAND("&");
const SafeCString JS_EQUALS("=");

namespace {

const char kDeclarationStart[] = "var ";
const char kDeclarationEnd[] = " = ";
const char kStatementEnd[] = ";\n";
const char kArrayStart[] = "new Array(";
const char kArrayEnd[] = ")";

}  // namespace

JSVariable::JSVariable(const SafeCString& name)
    : name(name),
      declaration(SafeCString(kDeclarationStart) + name + SafeCString(kDeclarationEnd)) {}

JSVariable::~JSVariable() {}

bool JSVariable::refresh() {
  return true;
}

SafeCString* JSVariable::generate(const SafeCString& query) {
  parameters = query;
  SafeCString* value = getValue();
  if (parameters.getLength() > 0) {
    parameters.erase(0, parameters.getLength());
  }
  // Not even the value string could be made: nothing to wrap.
  if (value == nullptr) {
    return nullptr;
  }
  // A value that already failed is passed on as it is, so that the file
  // stops there instead of sending a declaration around a broken value.
  if (value->getStatus() >= 0) {
    value->insert(declaration, 0);
  }
  if (value->getStatus() >= 0) {
    value->append(kStatementEnd, sizeof(kStatementEnd) - 1);
  }
  return value;
}

bool JSVariable::getParameter(const SafeCString& key, SafeCString* out) {
  int keyAt = parameters.find(key, 0);
  if (keyAt < 0) {
    return false;
  }
  if (out == nullptr) {
    return true;
  }
  int equalsAt = parameters.find(JS_EQUALS, static_cast<DWORD>(keyAt));
  if (equalsAt < 0) {
    return false;
  }
  DWORD valueStart = static_cast<DWORD>(equalsAt) + 1;
  int ampersandAt = parameters.find(JS_AMPERSAND, valueStart);
  DWORD valueEnd = ampersandAt < 0 ? parameters.getLength() : static_cast<DWORD>(ampersandAt);
  // Not URL-decoded: generators compare the raw text.
  SafeCString value = parameters.substring(valueStart, valueEnd);
  if (value.getStatus() < 0) {
    return false;
  }
  *out = value;
  return out->getStatus() >= 0;
}

// Nothing inside the text is escaped: the pages rely on exactly these bytes.
SafeCString JSVariable::quote(const SafeCString& text) {
  return JS_QUOTE + text + JS_QUOTE;
}

SafeCString JSVariable::pair(const SafeCString& a, const SafeCString& b) {
  return a + JS_COLON + b;
}

JSArrayVariable::JSArrayVariable(const SafeCString& name) : JSVariable(name) {}

DWORD JSArrayVariable::count() {
  return 0;
}

SafeCString* JSArrayVariable::element(DWORD index) {
  return nullptr;
}

SafeCString* JSArrayVariable::getValue() {
  SafeCString* value = new (std::nothrow) SafeCString(kArrayStart);
  if (value == nullptr) {
    return nullptr;
  }
  DWORD total = count();
  for (DWORD index = 0; index < total && value->getStatus() >= 0; ++index) {
    SafeCString* item = element(index);
    if (item == nullptr) {
      // An element that could not be made leaves no array worth sending.
      delete value;
      return nullptr;
    }
    value->append(*item);
    delete item;
    value->append(JS_COMMA);
  }
  if (value->getStatus() < 0) {
    return value;
  }
  if (total > 0) {
    // The trailing comma becomes the closing parenthesis.
    (*value)[-1] = kArrayEnd[0];
  } else {
    value->append(kArrayEnd, sizeof(kArrayEnd) - 1);
  }
  return value;
}
