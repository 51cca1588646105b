// What a module request is built from: the request head as the HTTP server
// parsed it, and the connection it came on. The server (HttpServer) fills both;
// the whole-request fuzzer fills them from its input. The head's texts belong
// to whoever made it and stay valid for the length of the request.
#ifndef QUENTA_HOST_CLIENTCONNECTION_H_
#define QUENTA_HOST_CLIENTCONNECTION_H_

#include <cstddef>

namespace quenta {

struct HeaderField {
  const char* name;
  const char* value;
};

struct RequestHead {
  static const int kMaxHeaders = 64;
  const char* method = "";
  const char* path = "";         // decoded, without the query
  const char* query = nullptr;   // raw, without "?"; nullptr when there is none
  const char* httpVersion = "1.0";
  const char* remoteAddress = "";
  int remotePort = 0;
  int serverPort = 0;
  long long contentLength = -1;  // -1: no Content-Length
  HeaderField headers[kMaxHeaders] = {};
  int headerCount = 0;

  // The first header of that name (any case), or nullptr.
  const char* header(const char* name) const;
};

class ClientConnection {
 public:
  virtual ~ClientConnection() = default;
  // Up to `size` body bytes; 0 or less when the client closed or stalled
  // past the server's time limit.
  virtual int read(void* buffer, size_t size) = 0;
  // All of `size` bytes, or fewer (or -1) when the client is gone.
  virtual int write(const void* data, size_t size) = 0;
  // Close the connection once the current answer is complete.
  virtual void closeAfterAnswer() = 0;
};

}  // namespace quenta

#endif  // QUENTA_HOST_CLIENTCONNECTION_H_
