// The CivetWeb server: plain HTTP/1.1 with keep-alive, one handler for every
// URI that either lets CivetWeb serve a static file of the card or hands the
// request to the module.
//
// Routing: GET or HEAD of a path that names an existing regular file under
// <root>/MMCMemory/www/wwwpub (its real path too), or a folder there holding
// index.html, is served by CivetWeb as a static file. A POST
// without Content-Length and any request with a Transfer-Encoding body get
// "411 Length Required" from the host. Everything else goes to
// HttpExtensionProc.
#ifndef QUENTA_HOST_HTTPSERVER_H_
#define QUENTA_HOST_HTTPSERVER_H_

#include <atomic>
#include <memory>
#include <string>

#include "host/AccessLog.h"
#include "host/BodyWatch.h"
#include "host/HostOptions.h"
#include "host/IsapiModule.h"

struct mg_connection;
struct mg_context;

namespace quenta {

class HttpServer {
 public:
  HttpServer(const HostOptions& options, const IsapiModule& module, const AccessLog& log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Starts listening and the worker threads. `port` receives the real port
  // (the one the system chose when 0 was asked for).
  bool start(std::string* error, int* port);

  // Stops the server. Requests in progress are given up to `drainMs` to finish
  // first (CivetWeb's own stop cuts their writes short); requests that arrive
  // meanwhile get "503 Service Unavailable" and a closed connection.
  void stop(int drainMs = 30000);

 private:
  static int handleRequest(mg_connection* connection, void* server);
  static void endRequest(const mg_connection* connection, int status);
  static int logMessage(const mg_connection* connection, const char* message);

  int serve(mg_connection* connection);
  bool isStaticFile(const char* path, long long* size) const;
  int refuseWithoutLength(mg_connection* connection);
  int refuseWhileStopping(mg_connection* connection);

  const HostOptions& options_;
  const IsapiModule& module_;
  const AccessLog& log_;
  std::string documentRoot_;
  std::string realDocumentRoot_;  // with symbolic links resolved, ending in "/"
  bool haveDocumentRoot_ = false;
  int port_ = 0;
  mg_context* context_ = nullptr;
  std::unique_ptr<BodyWatch> watch_;
  // Requests between the handler's start and CivetWeb's end-of-request call.
  std::atomic<int> busy_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> stopped_{false};
};

}  // namespace quenta

#endif  // QUENTA_HOST_HTTPSERVER_H_
