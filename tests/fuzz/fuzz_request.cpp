// libFuzzer target: whole requests through the host's control block
// (IsapiRequest) into the module's HttpExtensionProc, over a device root with
// the card and a settings database. Input (and the seeds in request-corpus/):
// byte 0 picks the body's read size, byte 1 how the body ends (whole, short of
// its declared length, or longer than declared); then NUL-separated fields:
// method, path, query ("-" for none), then header name and value pairs up to
// an empty name; the rest is the body.
#include <stdlib.h>

#include <QuentaPlatform.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/ClientConnection.h"
#include "host/IsapiModule.h"
#include "host/IsapiRequest.h"
#include "sqlbridge/SettingsStore.h"

namespace {

std::string scratchRoot;
quenta::IsapiModule* module = nullptr;

// The body arrives in pieces of the chosen size; the answer is kept whole.
class FuzzConnection : public quenta::ClientConnection {
 public:
  FuzzConnection(const char* body, size_t size, size_t piece) : body_(body), left_(size), piece_(piece) {}
  int read(void* buffer, size_t size) override {
    size_t n = size < piece_ ? size : piece_;
    if (n > left_) n = left_;
    std::memcpy(buffer, body_, n);
    body_ += n;
    left_ -= n;
    return static_cast<int>(n);
  }
  int write(const void* data, size_t size) override {
    answer.append(static_cast<const char*>(data), size);
    return static_cast<int>(size);
  }
  void closeAfterAnswer() override {}
  std::string answer;

 private:
  const char* body_;
  size_t left_;
  size_t piece_;
};

// The next NUL-terminated field, or the rest when there is no NUL.
std::string nextField(const char** at, const char* end) {
  const char* nul = static_cast<const char*>(std::memchr(*at, 0, static_cast<size_t>(end - *at)));
  const char* stop = nul != nullptr ? nul : end;
  std::string field(*at, stop);
  *at = nul != nullptr ? nul + 1 : end;
  return field;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // On tmpfs when there is one: every form post commits to the database.
  char pattern[] = "/dev/shm/quenta-fuzz-request-XXXXXX";
  char fallback[] = "/tmp/quenta-fuzz-request-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) made = mkdtemp(fallback);
  if (made == nullptr) abort();
  scratchRoot = made;
  std::string wwwpub = scratchRoot + "/MMCMemory/www/wwwpub";
  std::filesystem::create_directories(wwwpub);
  std::filesystem::create_directories(scratchRoot + "/Temp");
  std::filesystem::copy(QUENTA_CARD_DIR, wwwpub, std::filesystem::copy_options::recursive);
  quenta::SettingsStore store;
  if (!store.open(quenta::SettingsStore::databasePath(scratchRoot), true) || !store.createSchema()) abort();
  setenv("QUENTA_ROOT", made, 1);
  quenta::setDebugSink([](const char*, void*) {}, nullptr);
  atexit([]() {
    quenta::removeNamedObjects(nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(scratchRoot, ignored);
  });
  module = new quenta::IsapiModule();
  std::string error;
  HSE_VERSION_INFO version;
  if (!module->load(WEBQUENTA_FUZZ_MODULE, &error) || !module->getExtensionVersion(&version)) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static const size_t kPieces[] = {1, 3, 64, 1000, 65536};
  size_t piece = kPieces[data[0] % (sizeof kPieces / sizeof kPieces[0])];
  uint8_t endChoice = data[1];
  const char* at = reinterpret_cast<const char*>(data + 2);
  const char* end = reinterpret_cast<const char*>(data + size);

  std::string method = nextField(&at, end);
  std::string path = nextField(&at, end);
  std::string query = nextField(&at, end);
  std::vector<std::string> texts;
  while (at < end && texts.size() < 2 * quenta::RequestHead::kMaxHeaders) {
    std::string name = nextField(&at, end);
    if (name.empty()) break;
    texts.push_back(name);
    texts.push_back(nextField(&at, end));
  }
  std::string body(at, end);

  quenta::RequestHead head;
  head.method = method.c_str();
  head.path = path.c_str();
  head.query = query == "-" ? nullptr : query.c_str();
  head.httpVersion = "1.1";
  head.remoteAddress = "127.0.0.1";
  head.serverPort = 80;
  for (size_t i = 0; i + 1 < texts.size(); i += 2) {
    head.headers[head.headerCount++] = {texts[i].c_str(), texts[i + 1].c_str()};
  }
  // Declared as sent, longer (the client went away), or shorter (the rest
  // belongs to a next request the module must not read).
  long long declared = static_cast<long long>(body.size());
  if (endChoice % 3 == 1) declared += 1 + endChoice;
  if (endChoice % 3 == 2) declared = declared * (endChoice / 3) / 85;
  head.contentLength = body.empty() && endChoice % 3 == 0 ? -1 : declared;

  FuzzConnection connection(body.data(), body.size() < static_cast<size_t>(declared) ? body.size() : declared, piece);
  quenta::IsapiRequest request(connection, head, scratchRoot + "/MMCMemory/www/wwwpub");
  int status = request.run(module->httpExtensionProc);
  // Whatever came in, an answer went out, starting with a status line.
  if (status < 100 || status > 999 || connection.answer.compare(0, 9, "HTTP/1.1 ") != 0) abort();
  return 0;
}
