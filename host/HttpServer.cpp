#include "host/HttpServer.h"

#include <civetweb.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <strings.h>
#include <thread>

#include "host/ClientConnection.h"
#include "host/IsapiRequest.h"

namespace quenta {
namespace {

// The page a folder's path ("/", "/setup/") answers with.
const char kStartPage[] = "index.html";

// The request being served on this worker thread, kept from the handler to
// CivetWeb's end-of-request callback, which runs on the same thread and
// brings the final status (for static files CivetWeb chooses it).
struct PendingLogEntry {
  bool active = false;
  std::atomic<int>* busy = nullptr;  // the server's count this request is in
  BodyWatch* watch = nullptr;        // with the ticket of a watched body
  BodyWatch::Ticket* ticket = nullptr;
  bool staticFile = false;
  bool isHead = false;
  long long fileSize = 0;
  timespec start{};
  AccessLogEntry entry;
};

thread_local PendingLogEntry pendingLog;

double millisecondsSince(const timespec& start) {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec - start.tv_sec) * 1000.0 +
         static_cast<double>(now.tv_nsec - start.tv_nsec) / 1e6;
}

// Takes the request out of the server's count of requests in progress, and
// its body out of the watch.
void leaveBusy() {
  if (pendingLog.busy != nullptr) pendingLog.busy->fetch_sub(1);
  pendingLog.busy = nullptr;
  if (pendingLog.ticket != nullptr) pendingLog.watch->release(pendingLog.ticket);
  pendingLog.ticket = nullptr;
}

void beginLogEntry(const mg_request_info* info, std::atomic<int>* busy) {
  // A request whose end CivetWeb did not report still counts as over.
  leaveBusy();
  pendingLog = PendingLogEntry();
  busy->fetch_add(1);
  pendingLog.busy = busy;
  pendingLog.active = true;
  clock_gettime(CLOCK_MONOTONIC, &pendingLog.start);
  AccessLogEntry& entry = pendingLog.entry;
  entry.client = info->remote_addr;
  entry.method = info->request_method != nullptr ? info->request_method : "";
  entry.target = info->local_uri != nullptr ? info->local_uri : "";
  if (info->query_string != nullptr) {
    entry.target += '?';
    entry.target += info->query_string;
  }
}

// The request head as CivetWeb parsed it; the texts stay CivetWeb's.
void fillHead(const mg_request_info* info, RequestHead* head) {
  head->method = info->request_method != nullptr ? info->request_method : "";
  head->path = info->local_uri != nullptr ? info->local_uri : "";
  head->query = info->query_string;
  head->httpVersion = info->http_version != nullptr ? info->http_version : "1.0";
  head->remoteAddress = info->remote_addr;
  head->remotePort = info->remote_port;
  head->serverPort = info->server_port;
  head->contentLength = info->content_length;
  head->headerCount = info->num_headers < RequestHead::kMaxHeaders ? info->num_headers : RequestHead::kMaxHeaders;
  for (int i = 0; i < head->headerCount; ++i) {
    head->headers[i] = {info->http_headers[i].name, info->http_headers[i].value};
  }
}

class CivetConnection : public ClientConnection {
 public:
  CivetConnection(mg_connection* connection, const BodyWatch& watch, BodyWatch::Ticket* ticket)
      : connection_(connection), watch_(watch), ticket_(ticket) {}
  int read(void* buffer, size_t size) override {
    if (size > watch_.largestRead()) size = watch_.largestRead();
    int got = mg_read(connection_, buffer, size);
    if (got > 0 && ticket_ != nullptr) ticket_->bytesRead += got;
    return got;
  }
  int write(const void* data, size_t size) override { return mg_write(connection_, data, size); }
  void closeAfterAnswer() override { closeConnectionAfterAnswer(connection_); }

  // CivetWeb has no call to ask for a close: after the handler returns it
  // decides from the request's "Connection" header, or from the HTTP version
  // when there is none. Both live in the connection's own (writable) request
  // record, so the request is made to read as "Connection: close" / HTTP/1.0.
  static void closeConnectionAfterAnswer(mg_connection* connection) {
    mg_request_info* info = const_cast<mg_request_info*>(mg_get_request_info(connection));
    if (info == nullptr) return;
    for (int i = 0; i < info->num_headers; ++i) {
      if (info->http_headers[i].name != nullptr && strcasecmp(info->http_headers[i].name, "Connection") == 0) {
        info->http_headers[i].value = "close";
      }
    }
    info->http_version = "1.0";
  }

 private:
  mg_connection* connection_;
  const BodyWatch& watch_;
  BodyWatch::Ticket* ticket_;
};

// CivetWeb's listening thread looks at its stop flag only between waits of
// up to two seconds; a connection to the listening port ends the wait.
void wakeListener(const std::string& address, int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in peer;
  std::memset(&peer, 0, sizeof(peer));
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<uint16_t>(port));
  // A server listening on every address is reached on the loopback one.
  if (address == "0.0.0.0" || inet_pton(AF_INET, address.c_str(), &peer.sin_addr) != 1) {
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  }
  connect(fd, reinterpret_cast<sockaddr*>(&peer), sizeof(peer));
  close(fd);
}

}  // namespace

HttpServer::HttpServer(const HostOptions& options, const IsapiModule& module, const AccessLog& log)
    : options_(options), module_(module), log_(log) {
  documentRoot_ = options.root + "/MMCMemory/www/wwwpub";
  char resolved[PATH_MAX];
  struct stat info;
  haveDocumentRoot_ = realpath(documentRoot_.c_str(), resolved) != nullptr && stat(resolved, &info) == 0 &&
                      S_ISDIR(info.st_mode);
  if (haveDocumentRoot_) realDocumentRoot_ = std::string(resolved) + "/";
}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string* error, int* port) {
  std::string listen = options_.listenAddress + ":" + std::to_string(options_.listenPort);
  std::string threads = std::to_string(options_.threads);
  std::string keepAlive = std::to_string(options_.keepAliveMs);
  std::string requestTimeout = std::to_string(options_.requestTimeoutMs);
  // Debian's CivetWeb has CGI and SSI built in; the card's files are only ever
  // sent as they are, so both patterns are emptied (an empty pattern matches
  // nothing). Without a document root CivetWeb serves no file at all, and the
  // handler never lets it try.
  const char* settings[32];
  int count = 0;
  auto set = [&settings, &count](const char* name, const char* value) {
    settings[count++] = name;
    settings[count++] = value;
  };
  set("listening_ports", listen.c_str());
  set("num_threads", threads.c_str());
  set("enable_keep_alive", "yes");
  set("keep_alive_timeout_ms", keepAlive.c_str());
  // The whole request head must arrive within it (a kept connection's next
  // head within the keep-alive time), and every body read waits at most that.
  set("request_timeout_ms", requestTimeout.c_str());
  set("index_files", kStartPage);
  // Each worker thread holds a head buffer of this size; the device's pages
  // send heads of a few hundred bytes.
  set("max_request_size", "8192");
  set("tcp_nodelay", "1");
  set("enable_directory_listing", "no");
  set("cgi_pattern", "");
  set("ssi_pattern", "");
  if (haveDocumentRoot_) {
    set("document_root", documentRoot_.c_str());
  } else {
    std::fprintf(stderr, "quenta-httpd: %s is not a folder; no static files are served\n", documentRoot_.c_str());
  }
  settings[count] = nullptr;

  watch_.reset(new BodyWatch(options_.requestTimeoutMs, options_.bodyMinRate));
  mg_callbacks callbacks;
  std::memset(&callbacks, 0, sizeof(callbacks));
  callbacks.end_request = &HttpServer::endRequest;
  callbacks.log_message = &HttpServer::logMessage;
  context_ = mg_start(&callbacks, this, settings);
  if (context_ == nullptr) {
    *error = "cannot listen on " + listen;
    return false;
  }
  mg_set_request_handler(context_, "/", &HttpServer::handleRequest, this);

  mg_server_port ports[1];
  if (mg_get_server_ports(context_, 1, ports) < 1) {
    *error = "no listening port after start";
    stop();
    return false;
  }
  *port = ports[0].port;
  port_ = *port;
  return true;
}

void HttpServer::stop(int drainMs) {
  if (context_ == nullptr) return;
  stopping_ = true;
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  while (busy_.load() > 0 && millisecondsSince(start) < drainMs) {
    timespec pause{0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  std::thread waker([this] {
    // Until mg_stop has seen its flag; a connection accepted meanwhile is
    // answered 503 like any other that arrives while stopping.
    for (int i = 0; i < 50 && !stopped_.load(); ++i) {
      wakeListener(options_.listenAddress, port_);
      timespec pause{0, 20 * 1000 * 1000};
      nanosleep(&pause, nullptr);
    }
  });
  mg_stop(context_);
  stopped_ = true;
  waker.join();
  context_ = nullptr;
  watch_.reset();
}

int HttpServer::handleRequest(mg_connection* connection, void* server) {
  return static_cast<HttpServer*>(server)->serve(connection);
}

int HttpServer::serve(mg_connection* connection) {
  const mg_request_info* info = mg_get_request_info(connection);
  beginLogEntry(info, &busy_);
  if (stopping_) return refuseWhileStopping(connection);
  const char* method = info->request_method != nullptr ? info->request_method : "";
  bool isGet = std::strcmp(method, "GET") == 0;
  bool isHead = std::strcmp(method, "HEAD") == 0;

  long long size = 0;
  if ((isGet || isHead) && isStaticFile(info->local_uri, &size)) {
    // 0: CivetWeb serves the file itself.
    pendingLog.staticFile = true;
    pendingLog.isHead = isHead;
    pendingLog.fileSize = size;
    return 0;
  }

  if (mg_get_header(connection, "Transfer-Encoding") != nullptr ||
      (std::strcmp(method, "POST") == 0 && mg_get_header(connection, "Content-Length") == nullptr)) {
    return refuseWithoutLength(connection);
  }

  RequestHead head;
  fillHead(info, &head);
  if (head.contentLength > 0) {
    pendingLog.watch = watch_.get();
    pendingLog.ticket = watch_->watch(head.remoteAddress, head.remotePort, head.serverPort);
  }
  CivetConnection client(connection, *watch_, pendingLog.ticket);
  IsapiRequest request(client, head, documentRoot_);
  int status = request.run(module_.httpExtensionProc);
  if (pendingLog.ticket != nullptr) watch_->answered(pendingLog.ticket);
  pendingLog.entry.bytes = static_cast<long long>(request.bodyBytesSent());
  pendingLog.entry.moduleText = request.logText();
  return status;
}

// An answer of the host's own, in plain text, after which the connection is
// closed. Returns the body size for the log.
static long long sendHostAnswer(mg_connection* connection, const char* status, const char* text) {
  char answer[512];
  int length = std::snprintf(answer, sizeof(answer),
                             "HTTP/1.1 %s\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
                             "Connection: close\r\n\r\n%s",
                             status, std::strlen(text), text);
  mg_write(connection, answer, static_cast<size_t>(length));
  CivetConnection::closeConnectionAfterAnswer(connection);
  return static_cast<long long>(std::strlen(text));
}

// The module reads a body of announced length (cbTotalBytes); a body whose
// end is only known from chunk framing or from the closing connection is
// refused before the module sees it.
int HttpServer::refuseWithoutLength(mg_connection* connection) {
  pendingLog.entry.bytes = sendHostAnswer(connection, "411 Length Required",
                                          "411 Length Required: send the request body with a Content-Length header.\n");
  return 411;
}

int HttpServer::refuseWhileStopping(mg_connection* connection) {
  pendingLog.entry.bytes = sendHostAnswer(connection, "503 Service Unavailable", "503 Service Unavailable: stopping\n");
  return 503;
}

// A file is served only when it is a regular file whose real path lies under
// the web root: a link in the card that leads out of it (to the settings
// database, to the system) is never followed, and such a path goes to the
// module like any other. A path ending in "/" names the folder's start page.
bool HttpServer::isStaticFile(const char* path, long long* size) const {
  if (!haveDocumentRoot_ || path == nullptr || path[0] != '/') return false;
  std::string file = documentRoot_ + path;
  if (file.back() == '/') file += kStartPage;
  char resolved[PATH_MAX];
  if (realpath(file.c_str(), resolved) == nullptr) return false;
  if (std::strncmp(resolved, realDocumentRoot_.c_str(), realDocumentRoot_.size()) != 0) return false;
  struct stat info;
  if (stat(resolved, &info) != 0 || !S_ISREG(info.st_mode)) return false;
  *size = static_cast<long long>(info.st_size);
  return true;
}

void HttpServer::endRequest(const mg_connection* connection, int status) {
  HttpServer* server = static_cast<HttpServer*>(mg_get_user_data(mg_get_context(connection)));
  if (server == nullptr) return;
  if (!pendingLog.active) {
    // Refused by CivetWeb before any handler ran (a malformed request line,
    // an unknown method): logged with what is known of it.
    AccessLogEntry entry;
    const mg_request_info* info = mg_get_request_info(connection);
    if (info != nullptr) {
      entry.client = info->remote_addr;
      entry.method = info->request_method != nullptr ? info->request_method : "";
      entry.target = info->local_uri != nullptr ? info->local_uri : "";
    }
    entry.status = status;
    server->log_.write(entry);
    return;
  }
  AccessLogEntry& entry = pendingLog.entry;
  entry.status = status;
  entry.milliseconds = millisecondsSince(pendingLog.start);
  if (pendingLog.staticFile) {
    // CivetWeb does not say how much it sent; the whole file for a plain 200
    // GET, nothing for HEAD or 304, unknown for partial answers and errors.
    if (pendingLog.isHead || status == 304) {
      entry.bytes = 0;
    } else if (status == 200) {
      entry.bytes = pendingLog.fileSize;
    }
  }
  server->log_.write(entry);
  pendingLog.active = false;
  leaveBusy();
}

int HttpServer::logMessage(const mg_connection* connection, const char* message) {
  std::fprintf(stderr, "quenta-httpd: civetweb: %s\n", message);
  return 1;
}

}  // namespace quenta
