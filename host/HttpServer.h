// The HTTP/1.1 server: one io thread runs a Boost.Asio event loop that accepts
// connections, reads and parses request heads (Boost.Beast's parser), keeps
// every connection's time limits, and serves the card's static files; the
// module is called on a bounded pool of worker threads (`--threads`). A
// connection costs no thread while it idles, sends its head, or sends a body
// the module has not asked for yet.
//
// Routing: GET or HEAD of a path that names a regular file under
// <root>/MMCMemory/www/wwwpub without leaving it (StaticFiles) is answered
// from the io thread. A POST without Content-Length and any request with a
// Transfer-Encoding body get "411 Length Required". Everything else goes to
// HttpExtensionProc on a worker, which reads the body and writes the answer
// on the connection itself (see HttpServer.cpp).
#ifndef QUENTA_HOST_HTTPSERVER_H_
#define QUENTA_HOST_HTTPSERVER_H_

#include <memory>
#include <string>

#include "host/AccessLog.h"
#include "host/HostOptions.h"
#include "host/IsapiModule.h"

namespace quenta {

class HttpServer {
 public:
  HttpServer(const HostOptions& options, const IsapiModule& module, const AccessLog& log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts listening, the io thread and the workers. `port` receives the real
  // port (the one the system chose when 0 was asked for).
  bool start(std::string* error, int* port);

  // Stops the server. Requests in the module are given up to `drainMs` to
  // finish first; requests that arrive meanwhile get "503 Service
  // Unavailable" and a closed connection. Past that time the connections of
  // requests still running are shut down, so that their reads and writes end.
  void stop(int drainMs = 30000);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quenta

#endif  // QUENTA_HOST_HTTPSERVER_H_
