// One request handed to the module: the EXTENSION_CONTROL_BLOCK and everything
// its callbacks need. It lives on the request thread's stack for the length of
// one HttpExtensionProc call; ConnID points at it, so the callbacks find their
// request without any shared table. Nothing in it is touched by another thread.
//
// The answer goes out exactly as the module made it: "HTTP/1.1 " + the status
// text + "\r\n" + the module's header block, byte for byte, then the body. The
// status line and header block are held back until the first body write (or
// the end of the call) so that a short answer leaves in one write.
#ifndef QUENTA_HOST_ISAPIREQUEST_H_
#define QUENTA_HOST_ISAPIREQUEST_H_

#include <httpext.h>

#include <cstdint>
#include <string>

#include "host/ClientConnection.h"

namespace quenta {

class IsapiRequest {
 public:
  // `documentRoot` is the static-file folder, used for PATH_TRANSLATED.
  IsapiRequest(ClientConnection& connection, const RequestHead& head, const std::string& documentRoot);
  IsapiRequest(const IsapiRequest&) = delete;
  IsapiRequest& operator=(const IsapiRequest&) = delete;

  // Calls HttpExtensionProc and completes the answer: a module that sent
  // nothing gets a 500 from the host, and a connection whose answer cannot be
  // delimited (no Content-Length, a body shorter or longer than announced, a
  // failed write, HSE_STATUS_ERROR, fKeepConn FALSE) is closed after it.
  // Returns the HTTP status for the access log.
  int run(PFN_HTTPEXTENSIONPROC httpExtensionProc);

  // Body bytes that went to the client.
  uint64_t bodyBytesSent() const { return bodyBytesSent_; }
  // Text the module appended to this request's log entry.
  const std::string& logText() const { return logText_; }

 private:
  static BOOL WINAPI getServerVariable(HCONN connId, LPSTR name, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI writeClient(HCONN connId, LPVOID buffer, LPDWORD bytes, DWORD reserved);
  static BOOL WINAPI readClient(HCONN connId, LPVOID buffer, LPDWORD size);
  static BOOL WINAPI serverSupportFunction(HCONN connId, DWORD request, LPVOID buffer, LPDWORD size,
                                           LPDWORD dataType);

  bool lookUpVariable(const char* name, std::string* value) const;
  BOOL sendResponseHeader(const HSE_SEND_HEADER_EX_INFO* info);
  BOOL write(const void* data, DWORD size);
  BOOL read(void* buffer, DWORD* size);
  void appendLog(const char* text, size_t length);
  // Sends the held status line and header block, with `body` behind it in the
  // same write when it is small.
  bool flushHeld(const void* body, size_t size);
  bool send(const void* data, size_t size);
  void sendServerError();

  ClientConnection& connection_;
  const RequestHead& head_;
  EXTENSION_CONTROL_BLOCK ecb_;
  std::string method_;
  std::string query_;
  std::string path_;
  std::string pathTranslated_;
  std::string contentType_;
  BYTE noPreloadedData_[1] = {0};

  bool isHead_ = false;
  bool expectsContinue_ = false;  // the client waits for "100 Continue" before the body
  bool answerStarted_ = false;    // a byte of the final answer has gone out
  bool headerGiven_ = false;      // the module sent its status and header block
  bool rawAnswer_ = false;        // the module wrote without sending a header first
  bool sendFailed_ = false;
  bool clientGone_ = false;
  bool keepConnection_ = true;
  bool chunkedAnswer_ = false;
  long long declaredLength_ = -1; // the answer's Content-Length, -1 when it has none
  long long bodyLeft_ = 0;        // request body bytes not yet read
  int status_ = 0;
  uint64_t bodyBytesSent_ = 0;
  std::string held_;              // status line and header block not yet sent
  std::string logText_;
};

}  // namespace quenta

#endif  // QUENTA_HOST_ISAPIREQUEST_H_
