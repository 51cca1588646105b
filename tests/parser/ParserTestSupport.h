// Helpers for the multipart parser tests: multipart bodies as browsers and curl
// lay them out, one parse of a body through FakeEcb with chosen read sizes,
// and a capture of the debug output.
#ifndef QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_
#define QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_

#include <QuentaPlatform.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/PostParser.h"
#include "tests/support/FakeEcb.h"

namespace parsertest {

// Collects the debug lines while it lives (or only counts them when quiet).
class DebugCapture {
 public:
  explicit DebugCapture(bool keepLines = true) : keep(keepLines) { quenta::setDebugSink(&DebugCapture::sink, this); }
  ~DebugCapture() { quenta::setDebugSink(nullptr, nullptr); }

  std::vector<std::string> lines() {
    std::lock_guard<std::mutex> hold(guard);
    return kept;
  }
  bool contains(const std::string& line) {
    std::lock_guard<std::mutex> hold(guard);
    for (const std::string& kept_line : kept) {
      if (kept_line == line) return true;
    }
    return false;
  }
  void clear() {
    std::lock_guard<std::mutex> hold(guard);
    kept.clear();
  }

 private:
  static void sink(const char* line, void* context) {
    DebugCapture* self = static_cast<DebugCapture*>(context);
    if (!self->keep) return;
    std::lock_guard<std::mutex> hold(self->guard);
    self->kept.push_back(line);
  }
  bool keep;
  std::mutex guard;
  std::vector<std::string> kept;
};

typedef std::vector<std::pair<std::string, std::string>> FieldValues;

inline std::string contentTypeFor(const std::string& boundary) {
  return "multipart/form-data; boundary=" + boundary;
}

// One plain part, without its leading delimiter.
inline std::string plainPart(const std::string& name, const std::string& value) {
  return "Content-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value;
}

inline std::string filePart(const std::string& name, const std::string& fileName, const std::string& type,
                            const std::string& content) {
  return "Content-Disposition: form-data; name=\"" + name + "\"; filename=\"" + fileName +
         "\"\r\nContent-Type: " + type + "\r\n\r\n" + content;
}

// Parts joined with "\r\n--" + boundary, as every client sends them.
inline std::string body(const std::string& boundary, const std::vector<std::string>& parts, bool closed = true) {
  std::string text;
  for (const std::string& part : parts) text += "--" + boundary + "\r\n" + part + "\r\n";
  if (closed) text += "--" + boundary + "--\r\n";
  return text;
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
  // Plain parts by name; file parts show as "FILE".
  std::map<std::string, std::string> values;
  std::string serverLog;
  int reads = 0;
};

// Parses `text` with the body preloaded up to `preloaded` bytes and the rest
// read `readSize` bytes at a time.
inline ParseResult parseBody(const std::string& boundaryOrContentType, const std::string& text, const Fields& fields,
                             DWORD readSize = 65536, DWORD preloaded = 0, bool rawContentType = false) {
  FakeEcb fake("POST", "/form");
  fake.setBody(rawContentType ? boundaryOrContentType : contentTypeFor(boundaryOrContentType), text, preloaded,
               readSize);
  ParseResult result;
  MimePartMap parts;
  PostParser parser(fake.ecb(), fields.get());
  result.ok = parser.parse(parts);
  result.error = parser.getError();
  for (DWORD k = 0; k < parts.count(); ++k) {
    const MimePart* part = parts.partAt(k);
    if (part == nullptr) continue;
    const char* text = part->value.c_str();
    result.values[parts.keyAt(k)->c_str()] = text ? std::string(text, part->value.getLength()) : std::string();
  }
  result.serverLog = fake.log;
  result.reads = fake.readCalls;
  return result;
}

}  // namespace parsertest

#endif  // QUENTA_TESTS_PARSER_PARSERTESTSUPPORT_H_
