// libFuzzer target: random multipart bodies, read sizes and server behaviour,
// through the control-block double into PostParser::parse. Input (and the
// seeds in corpus/): byte 0 picks the read size, byte 1 how much of the body
// is preloaded, byte 2 the end of the body (declared longer than sent, or a
// failing read); then the boundary up to the first line feed (at most 70
// bytes); the rest is the body.
#include <stdlib.h>

#include <QuentaPlatform.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/FormField.h"
#include "core/MimePart.h"
#include "core/PostParser.h"
#include "tests/support/FakeEcb.h"

namespace {
std::string scratchRoot;
FormFieldList* declaredFields = nullptr;
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char pattern[] = "/tmp/quenta-fuzz-XXXXXX";
  if (mkdtemp(pattern) == nullptr) abort();
  scratchRoot = pattern;
  atexit([]() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchRoot, ignored);
  });
  std::filesystem::create_directories(scratchRoot + "/Temp");
  setenv("QUENTA_ROOT", pattern, 1);
  quenta::setDebugSink([](const char*, void*) {}, nullptr);
  declaredFields = new FormFieldList();
  for (const char* name : {"a", "b", "field", "resetsubmit", "are_time"}) {
    declaredFields->append(new FormField(SafeCString(name), 15));
  }
  declaredFields->append(new FormField(SafeCString("long"), 100000));
  declaredFields->append(new FormField(SafeCString("f"), SafeWString(u"\\Temp"), SafeWString(u""), 4096));
  declaredFields->append(new FormField(SafeCString("file"), SafeWString(u"\\Temp\\"), SafeWString(u""), 1000000));
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  static const DWORD kReadSizes[] = {1, 2, 3, 5, 7, 16, 64, 100, 1000, 4096, 9999, 65536};
  DWORD readSize = kReadSizes[data[0] % (sizeof kReadSizes / sizeof kReadSizes[0])];
  uint8_t preloadChoice = data[1], endChoice = data[2];
  const char* rest = reinterpret_cast<const char*>(data + 3);
  size_t restSize = size - 3;
  const void* newline = std::memchr(rest, '\n', restSize < 71 ? restSize : 71);
  size_t boundaryLength = newline ? static_cast<size_t>(static_cast<const char*>(newline) - rest) : 2;
  if (boundaryLength > restSize) boundaryLength = restSize;
  std::string boundary(rest, boundaryLength);
  size_t bodyStart = newline ? boundaryLength + 1 : boundaryLength;
  std::string body(rest + bodyStart, restSize - bodyStart);

  FakeEcb fake("POST", "/form");
  DWORD preloaded = static_cast<DWORD>(body.size() * preloadChoice / 255);
  fake.setBody("multipart/form-data; boundary=" + boundary, body, preloaded, readSize);
  if (endChoice % 4 == 1) fake.setDeclaredLength(static_cast<DWORD>(body.size() + 1 + endChoice));  // client gone
  if (endChoice % 4 == 2) fake.failReadAfter = endChoice / 4;  // the connection fails
  if (endChoice % 4 == 3) {
    fake.zeroReadAtEnd = false;
    fake.setDeclaredLength(static_cast<DWORD>(body.size() + 7));
  }
  MimePartMap parts;
  PostParser parser(fake.ecb(), *declaredFields);
  bool ok = parser.parse(parts);
  // A parse that reports success never holds more than the body gave it.
  if (ok) {
    for (DWORD k = 0; k < parts.count(); ++k) {
      const MimePart* part = parts.partAt(k);
      if (part == nullptr || part->value.getLength() > body.size()) abort();
    }
  }
  return 0;
}
