// A small ISAPI module that the host tests load in place of the real one. Each
// path exercises one part of the host's side of the control block; answers
// are plain text that the tests parse. Built twice: complete, and (with
// QUENTA_TEST_INCOMPLETE) without TerminateExtension, to test the host's
// refusal of a module that lacks an entry point.
#include <httpext.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

// Read during static initialisation, as the real module reads its error pages:
// the host must have set QUENTA_ROOT before loading the module.
const std::string rootAtLoad = std::getenv("QUENTA_ROOT") != nullptr ? std::getenv("QUENTA_ROOT") : "(unset)";

std::mutex rendezvousLock;
std::condition_variable rendezvousArrival;
int rendezvousArrived = 0;

std::string variable(EXTENSION_CONTROL_BLOCK* ecb, const char* name) {
  char buffer[512];
  DWORD size = sizeof(buffer);
  if (!ecb->GetServerVariable(ecb->ConnID, const_cast<char*>(name), buffer, &size)) return "!";
  return std::string(buffer, size > 0 ? size - 1 : 0);
}

long queryNumber(const std::string& query, const char* name, long fallback) {
  std::string key = std::string(name) + "=";
  size_t at = query.find(key);
  if (at == std::string::npos || (at > 0 && query[at - 1] != '&')) return fallback;
  return std::strtol(query.c_str() + at + key.size(), nullptr, 10);
}

bool sendHeader(EXTENSION_CONTROL_BLOCK* ecb, const char* status, const std::string& header, BOOL keep = TRUE) {
  HSE_SEND_HEADER_EX_INFO info;
  info.pszStatus = status;
  info.cchStatus = static_cast<DWORD>(std::strlen(status) + 1);  // counts the NUL, as on the device
  info.pszHeader = header.c_str();
  info.cchHeader = static_cast<DWORD>(header.size());
  info.fKeepConn = keep;
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr);
}

bool write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD size = static_cast<DWORD>(text.size());
  return ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &size, HSE_IO_SYNC) && size == text.size();
}

DWORD answer(EXTENSION_CONTROL_BLOCK* ecb, const std::string& body, const char* status = "200 OK") {
  std::string header = "Content-Length: " + std::to_string(body.size()) +
                       "\r\nContent-Type: text/plain\r\nX-Test-Module: yes\r\n\r\n";
  if (!sendHeader(ecb, status, header)) return HSE_STATUS_ERROR;
  if (!body.empty() && !write(ecb, body)) return HSE_STATUS_ERROR;
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

// Reads the whole body through ReadClient in pieces of at most `piece` bytes.
DWORD echo(EXTENSION_CONTROL_BLOCK* ecb, const std::string& path) {
  std::string query = ecb->lpszQueryString;
  long piece = queryNumber(query, "piece", 4096);
  if (piece < 1 || piece > (1 << 20)) piece = 4096;
  std::string buffer(static_cast<size_t>(piece), '\0');
  unsigned long long bytes = 0;
  unsigned reads = 0;
  uint32_t fnv = 2166136261u;
  std::string start;
  for (;;) {
    DWORD size = static_cast<DWORD>(piece);
    if (!ecb->ReadClient(ecb->ConnID, &buffer[0], &size)) return answer(ecb, "read failed\n");
    if (size == 0) break;
    if (size > static_cast<DWORD>(piece)) return answer(ecb, "read overflow\n");
    ++reads;
    bytes += size;
    for (DWORD i = 0; i < size; ++i) fnv = (fnv ^ static_cast<unsigned char>(buffer[i])) * 16777619u;
    if (start.size() < 64) start.append(buffer, 0, std::min<size_t>(size, 64 - start.size()));
  }
  char fnvText[16];
  std::snprintf(fnvText, sizeof(fnvText), "%08x", fnv);
  std::string text = "method=" + std::string(ecb->lpszMethod) + "\npath=" + path + "\nquery=" + query +
                     "\ncontent_type=" + ecb->lpszContentType + "\ntotal=" + std::to_string(ecb->cbTotalBytes) +
                     "\nreads=" + std::to_string(reads) + "\nbody_bytes=" + std::to_string(bytes) +
                     "\nbody_fnv=" + fnvText + "\nbody_start=" + start + "\n";
  return answer(ecb, text);
}

DWORD variables(EXTENSION_CONTROL_BLOCK* ecb) {
  const char* names[] = {"PATH_INFO", "QUERY_STRING", "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH",
                         "REMOTE_ADDR", "SERVER_PROTOCOL", "HTTP_X_TEST_HEADER", "HTTP_HOST", "NO_SUCH_VARIABLE"};
  std::string text;
  for (const char* name : names) text += std::string(name) + "=" + variable(ecb, name) + "\n";

  // Too small a buffer: FALSE, the size needed, and the buffer untouched.
  char small[4] = {'x', 'x', 'x', 'x'};
  DWORD size = 2;
  BOOL fitted = ecb->GetServerVariable(ecb->ConnID, const_cast<char*>("PATH_INFO"), small, &size);
  text += "small_result=" + std::to_string(fitted) + " needed=" + std::to_string(size) +
          " untouched=" + (std::memcmp(small, "xxxx", 4) == 0 ? "yes" : "no") + "\n";
  return answer(ecb, text);
}

// Host calls that must be refused, and a second header.
DWORD checks(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string failures;
  if (ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_DONE_WITH_SESSION, nullptr, nullptr, nullptr)) {
    failures += " done_with_session";
  }
  if (ecb->ServerSupportFunction(ecb->ConnID, 9999, nullptr, nullptr, nullptr)) failures += " request_9999";
  if (ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, nullptr, nullptr, nullptr)) {
    failures += " null_header_info";
  }
  if (ecb->cbSize != sizeof(EXTENSION_CONTROL_BLOCK)) failures += " cbSize";
  if (ecb->dwVersion != ((HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR)) failures += " dwVersion";
  if (ecb->lpbData == nullptr || ecb->cbAvailable != 0) failures += " preload";
  char stray[] = "stray";
  DWORD straySize = 5;
  if (ecb->WriteClient(ecb->ConnID, stray, &straySize, HSE_IO_ASYNC)) failures += " async_write";
  std::string body = failures.empty() ? "checks=ok\n" : "checks failed:" + failures + "\n";
  std::string header = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  if (!sendHeader(ecb, "200 OK", header)) return HSE_STATUS_ERROR;
  // A second header must be refused; nothing of it may reach the client.
  if (sendHeader(ecb, "500 Twice", "X-Twice: yes\r\n\r\n")) body[0] = 'C';
  write(ecb, body);
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

DWORD big(EXTENSION_CONTROL_BLOCK* ecb) {
  long long total = queryNumber(ecb->lpszQueryString, "n", 1 << 20);
  std::string header = "Content-Length: " + std::to_string(total) + "\r\nContent-Type: application/octet-stream\r\n\r\n";
  if (!sendHeader(ecb, "200 OK", header)) return HSE_STATUS_ERROR;
  std::string chunk(65536, '\0');
  long long sent = 0;
  while (sent < total) {
    size_t size = static_cast<size_t>(std::min<long long>(total - sent, static_cast<long long>(chunk.size())));
    for (size_t i = 0; i < size; ++i) chunk[i] = static_cast<char>('a' + (sent + static_cast<long long>(i)) % 26);
    if (!write(ecb, chunk.substr(0, size))) return HSE_STATUS_ERROR;
    sent += static_cast<long long>(size);
  }
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

// Waits until `n` requests have arrived (at most 10 s): only a host that runs
// requests side by side lets them all meet.
DWORD rendezvous(EXTENSION_CONTROL_BLOCK* ecb) {
  int wanted = static_cast<int>(queryNumber(ecb->lpszQueryString, "n", 8));
  std::unique_lock<std::mutex> lock(rendezvousLock);
  ++rendezvousArrived;
  rendezvousArrival.notify_all();
  bool met = rendezvousArrival.wait_for(lock, std::chrono::seconds(10),
                                        [wanted] { return rendezvousArrived >= wanted; });
  lock.unlock();
  return answer(ecb, met ? "together\n" : "alone\n");
}

// Leaves a mark under the device root when it starts, then takes its time, so
// that a test can stop the host while this request runs.
DWORD slow(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string mark = rootAtLoad + "/slow-started";
  if (FILE* file = std::fopen(mark.c_str(), "w")) std::fclose(file);
  long milliseconds = queryNumber(ecb->lpszQueryString, "ms", 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  return answer(ecb, "slow done\n");
}

}  // namespace

extern "C" ISAPI_EXPORT BOOL WINAPI GetExtensionVersion(HSE_VERSION_INFO* version) {
  if (std::getenv("QUENTA_TEST_REFUSE") != nullptr) return FALSE;
  version->dwExtensionVersion = 42;
  std::snprintf(version->lpszExtensionDesc, HSE_MAX_EXT_DLL_NAME_LEN, "  Quenta host test extension \r\n");
  return TRUE;
}

extern "C" ISAPI_EXPORT DWORD WINAPI HttpExtensionProc(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string path = variable(ecb, "PATH_INFO");
  if (path == "/vars") return variables(ecb);
  if (path == "/checks") return checks(ecb);
  if (path == "/big") return big(ecb);
  if (path == "/rendezvous") return rendezvous(ecb);
  if (path == "/slow") return slow(ecb);
  if (path == "/env") return answer(ecb, "root_at_load=" + rootAtLoad + "\n");
  if (path == "/status") {
    // A status other than 200, given with the terminator counted.
    return answer(ecb, "missing", "404 Not Found");
  }
  if (path == "/log") {
    const char text[] = "appended-by-test";
    DWORD size = sizeof(text);
    ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_APPEND_LOG_PARAMETER, const_cast<char*>(text), &size, nullptr);
    std::snprintf(ecb->lpszLogData, HSE_LOG_BUFFER_LEN, " logdata-field");
    return answer(ecb, "logged\n");
  }
  if (path == "/nolength") {
    if (!sendHeader(ecb, "200 OK", "Content-Type: text/plain\r\n\r\n")) return HSE_STATUS_ERROR;
    write(ecb, "no length here\n");
    return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
  }
  if (path == "/fail") return HSE_STATUS_ERROR;
  return echo(ecb, path);
}

#ifndef QUENTA_TEST_INCOMPLETE
// Leaves "terminated" under the device root with the flags it was given.
extern "C" ISAPI_EXPORT BOOL WINAPI TerminateExtension(DWORD flags) {
  std::string mark = rootAtLoad + "/terminated";
  if (FILE* file = std::fopen(mark.c_str(), "w")) {
    std::fprintf(file, "flags=%u\n", static_cast<unsigned>(flags));
    std::fclose(file);
  }
  return TRUE;
}
#endif
