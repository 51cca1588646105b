// A small ISAPI module that the host tests load in place of the real one; its
// answers are plain "name=value" lines. Built twice: complete, and (with
// QUENTA_TEST_INCOMPLETE) without TerminateExtension.
#include <httpext.h>

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

long queryNumber(EXTENSION_CONTROL_BLOCK* ecb, const char* name, long fallback) {
  std::string query = ecb->lpszQueryString;
  std::string key = std::string(name) + "=";
  size_t at = query.find(key);
  if (at == std::string::npos || (at > 0 && query[at - 1] != '&')) return fallback;
  return std::strtol(query.c_str() + at + key.size(), nullptr, 10);
}

bool sendHeader(EXTENSION_CONTROL_BLOCK* ecb, const char* status, const std::string& header) {
  HSE_SEND_HEADER_EX_INFO info;
  info.pszStatus = status;
  info.cchStatus = static_cast<DWORD>(std::strlen(status) + 1);  // counts the NUL, as on the device
  info.pszHeader = header.c_str();
  info.cchHeader = static_cast<DWORD>(header.size());
  info.fKeepConn = TRUE;
  return ecb->ServerSupportFunction(ecb->ConnID, HSE_REQ_SEND_RESPONSE_HEADER_EX, &info, nullptr, nullptr);
}

bool write(EXTENSION_CONTROL_BLOCK* ecb, const std::string& text) {
  DWORD size = static_cast<DWORD>(text.size());
  return ecb->WriteClient(ecb->ConnID, const_cast<char*>(text.data()), &size, HSE_IO_SYNC) && size == text.size();
}

DWORD answer(EXTENSION_CONTROL_BLOCK* ecb, const std::string& body, const char* status = "200 OK") {
  std::string header = "Content-Length: " + std::to_string(body.size()) +
                       "\r\nContent-Type: text/plain\r\nX-Test-Module: yes\r\n\r\n";
  if (!sendHeader(ecb, status, header) || (!body.empty() && !write(ecb, body))) return HSE_STATUS_ERROR;
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

// Reads the whole body through ReadClient in pieces of at most `piece` bytes;
// answers it as it came for /mirror, else what it saw of the request.
DWORD echo(EXTENSION_CONTROL_BLOCK* ecb, const std::string& path) {
  DWORD piece = static_cast<DWORD>(queryNumber(ecb, "piece", 4096));
  std::string body;
  DWORD size;
  do {
    size_t at = body.size();
    body.resize(at + piece);
    size = piece;
    if (!ecb->ReadClient(ecb->ConnID, &body[at], &size)) return answer(ecb, "read failed\n");
    if (size > piece) return answer(ecb, "read overflow\n");
    body.resize(at + size);
  } while (size > 0);
  if (path == "/mirror") return answer(ecb, body);
  std::string text = "method=" + std::string(ecb->lpszMethod) + "\npath=" + path + "\nquery=" +
                     ecb->lpszQueryString + "\ncontent_type=" + ecb->lpszContentType +
                     "\ntotal=" + std::to_string(ecb->cbTotalBytes) + "\nbody_start=" + body.substr(0, 64) +
                     "\nroot_at_load=" + rootAtLoad + "\n";
  for (const char* name : {"PATH_INFO", "QUERY_STRING", "REQUEST_METHOD", "CONTENT_TYPE", "CONTENT_LENGTH",
                           "REMOTE_ADDR", "SERVER_PROTOCOL", "HTTP_X_TEST_HEADER", "HTTP_HOST", "NO_SUCH_VARIABLE"}) {
    text += std::string(name) + "=" + variable(ecb, name) + "\n";
  }
  // Too small a buffer: FALSE, the size needed, and the buffer untouched.
  char small[4] = {'x', 'x', 'x', 'x'};
  size = 2;
  BOOL fitted = ecb->GetServerVariable(ecb->ConnID, const_cast<char*>("PATH_INFO"), small, &size);
  text += "small_result=" + std::to_string(fitted) + " needed=" + std::to_string(size) +
          " untouched=" + (std::memcmp(small, "xxxx", 4) == 0 ? "yes" : "no") + "\n";
  return answer(ecb, text);
}

// Host calls that must be refused, and a second header.
DWORD checks(EXTENSION_CONTROL_BLOCK* ecb) {
  std::string failures;
  for (DWORD request : {DWORD{HSE_REQ_DONE_WITH_SESSION}, DWORD{9999}, DWORD{HSE_REQ_SEND_RESPONSE_HEADER_EX}}) {
    if (ecb->ServerSupportFunction(ecb->ConnID, request, nullptr, nullptr, nullptr)) {
      failures += " request_" + std::to_string(request);
    }
  }
  if (ecb->cbSize != sizeof(EXTENSION_CONTROL_BLOCK)) failures += " cbSize";
  if (ecb->dwVersion != ((HSE_VERSION_MAJOR << 16) | HSE_VERSION_MINOR)) failures += " dwVersion";
  if (ecb->lpbData == nullptr || ecb->cbAvailable != 0) failures += " preload";
  char stray[] = "stray";
  DWORD straySize = 5;
  if (ecb->WriteClient(ecb->ConnID, stray, &straySize, HSE_IO_ASYNC)) failures += " async_write";
  std::string body = failures.empty() ? "checks=ok\n" : "checks failed:" + failures + "\n";
  if (!sendHeader(ecb, "200 OK", "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n")) {
    return HSE_STATUS_ERROR;
  }
  // A second header must be refused; nothing of it may reach the client.
  if (sendHeader(ecb, "500 Twice", "X-Twice: yes\r\n\r\n")) body[0] = 'C';
  write(ecb, body);
  return HSE_STATUS_SUCCESS_AND_KEEP_CONN;
}

// Waits until `n` requests have arrived (at most 10 s): only a host that runs
// requests side by side lets them all meet.
DWORD rendezvous(EXTENSION_CONTROL_BLOCK* ecb) {
  int wanted = static_cast<int>(queryNumber(ecb, "n", 8));
  std::unique_lock<std::mutex> lock(rendezvousLock);
  ++rendezvousArrived;
  rendezvousArrival.notify_all();
  bool met = rendezvousArrival.wait_for(lock, std::chrono::seconds(10), [wanted] { return rendezvousArrived >= wanted; });
  lock.unlock();
  return answer(ecb, met ? "together\n" : "alone\n");
}

// Leaves a mark under the device root when it starts, then takes its time, so
// that a test can stop the host while this request runs.
DWORD slow(EXTENSION_CONTROL_BLOCK* ecb) {
  if (FILE* file = std::fopen((rootAtLoad + "/slow-started").c_str(), "w")) std::fclose(file);
  std::this_thread::sleep_for(std::chrono::milliseconds(queryNumber(ecb, "ms", 1000)));
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
  if (path == "/checks") return checks(ecb);
  if (path == "/rendezvous") return rendezvous(ecb);
  if (path == "/slow") return slow(ecb);
  if (path == "/status") return answer(ecb, "missing", "404 Not Found");
  if (path == "/log") {
    const char text[] = "appended-by-test";
    DWORD size = sizeof(text);
    ecb->ServerSupportFunction(ecb->ConnID, HSE_APPEND_LOG_PARAMETER, const_cast<char*>(text), &size, nullptr);
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
  if (FILE* file = std::fopen((rootAtLoad + "/terminated").c_str(), "w")) {
    std::fprintf(file, "flags=%u\n", static_cast<unsigned>(flags));
    std::fclose(file);
  }
  return TRUE;
}
#endif
