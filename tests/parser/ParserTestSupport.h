// Helpers for the multipart parser tests: bodies laid out as browsers and curl
// send them, one parse through FakeEcb with chosen read sizes.
#ifndef QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_
#define QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_

#include <QuentaPlatform.h>

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/PostParser.h"
#include "tests/support/DebugCapture.h"
#include "tests/support/FakeEcb.h"

namespace parsertest {

using ::DebugCapture;

typedef std::vector<std::pair<std::string, std::string>> FieldValues;

inline std::string contentTypeFor(const std::string& boundary) { return "multipart/form-data; boundary=" + boundary; }

// One part, without its leading delimiter.
inline std::string plainPart(const std::string& name, const std::string& value) {
  return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
}
inline std::string filePart(const std::string& name, const std::string& fileName, const std::string& type,
                            const std::string& content) {
  return "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
         "\"\r\nContent-Type: " + type + "\r\n\r\n" + content;
}

inline std::string body(const std::string& boundary, const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += "--" + boundary + "\r\n" + part + "\r\n";
  return text + "--" + boundary + "--\r\n";
}
inline std::string plainBody(const std::string& boundary, const FieldValues& values) {
  std::vector<std::string> parts;
  for (const auto& value : values) parts.push_back(plainPart(value.first, value.second));
  return body(boundary, parts);
}

// Plain fields of the given names, each accepting maxLength bytes.
class Fields {
 public:
  explicit Fields(const std::vector<std::string>& names, DWORD maxLength = 15) {
    for (const std::string& name : names) list.append(new FormField(SafeCString(name.c_str()), maxLength));
  }
  Fields& file(const std::string& name, const char16_t* directory, DWORD maxLength) {
    list.append(new FormField(SafeCString(name.c_str()), SafeWString(directory), SafeWString(u""), maxLength));
    return *this;
  }
  const FormFieldList& get() const { return list; }

 private:
  FormFieldList list;
};

struct ParseResult {
  bool ok = false;
  HRESULT error = 0;
  std::map<std::string, std::string> values;  // file parts: "FILE" + content-type class
  std::string serverLog;
  int reads = 0;
};

// `preloaded` bytes handed over up front, the rest read `readSize` at a time;
// `tweak` may change the request first.
inline ParseResult parseBody(const std::string& boundary, const std::string& text, const Fields& fields,
                             DWORD readSize = 65536, DWORD preloaded = 0,
                             const std::function<void(FakeEcb&)>& tweak = nullptr) {
  FakeEcb fake("POST", "/form");
  fake.setBody(contentTypeFor(boundary), text, preloaded, readSize);
  if (tweak) tweak(fake);
  ParseResult result;
  MimePartMap parts;
  PostParser parser(fake.ecb(), fields.get());
  result.ok = parser.parse(parts);
  result.error = parser.getError();
  for (DWORD k = 0; k < parts.count(); ++k) {
    const MimePart* part = parts.partAt(k);
    if (part == nullptr) continue;
    std::string value = part->value.c_str() ? std::string(part->value.c_str(), part->value.getLength()) : "";
    const FileMimePart* file = dynamic_cast<const FileMimePart*>(part);
    if (file != nullptr) value += std::to_string(file->contentType);
    result.values[parts.keyAt(k)->c_str()] = value;
  }
  result.serverLog = fake.log;
  result.reads = fake.readCalls;
  return result;
}

}  // namespace parsertest

#endif  // QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_
