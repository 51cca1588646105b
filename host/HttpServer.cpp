// How a connection moves between the io thread and the workers.
//
// The io thread owns every connection while it is idle, sends its head, sends
// the first piece of a body, or receives a static file; a sweep every
// kSweepPeriod closes those past their time limit. Once a request for the
// module is ready, the connection is handed to a worker whole: the worker's
// ReadClient takes the body bytes that came with the head first, then reads
// the socket itself, and WriteClient writes to it, both without blocking and
// waiting in poll() with the time limit when the socket is not ready. The io
// thread does not touch the connection until the worker hands it back (the
// queue's lock, the io loop's post or the connection's `handing` lock order
// the two). Doing the reads and writes on the worker rather than handing each
// piece to the io thread costs no thread switch per write, and holds the
// worker no longer: the module's call is synchronous either way.
//
// A request for the module is handed to a worker only when its body has come
// whole or its first kPreloadLimit bytes have (or at once when the client
// waits for "100 Continue"), so clients that send a body slowly or short of
// its length are held, and cut, on the io thread without taking a worker.
#include "host/HttpServer.h"

#include <poll.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <strings.h>
#include <limits>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "host/ClientConnection.h"
#include "host/IsapiRequest.h"
#include "host/StaticFiles.h"

namespace quenta {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;
using asio::ip::tcp;

namespace {

// A request head longer than this is refused with 431.
const size_t kHeaderLimit = 8 * 1024;
// Body bytes the io thread gathers before a worker takes the request.
const long long kPreloadLimit = 16 * 1024;
// How often the io thread looks for connections past their limits.
const std::chrono::milliseconds kSweepPeriod(100);
// Bytes taken from a socket in one read on the io thread.
const size_t kReadPiece = 16 * 1024;
// Bytes of a kept connection's next head read by the read a worker starts;
// the rest comes through the io thread's reads.
const size_t kHeadPiece = 2 * 1024;
// How long queued requests wait for an awake worker before another is woken.
const std::chrono::microseconds kWakeDelay(2000);
// Watches in a row in which requests were answered before a worker woken for
// a stall may sleep again.
const int kSettleWatches = 5;

struct Limits {
  Clock::duration requestTimeout;
  Clock::duration keepAlive;
  long long minRate;  // body bytes a second, 0 for none
};

// A body must keep arriving: nothing for the request time-out ends it, and
// once older than the request time-out it must have averaged the minimum
// rate since its head was complete.
struct BodyClock {
  Clock::time_point start;
  Clock::time_point lastProgress;
  long long received = 0;

  void begin(Clock::time_point now, long long already) {
    start = lastProgress = now;
    received = already;
  }
  void progress(Clock::time_point now, long long bytes) {
    if (bytes <= 0) return;
    received += bytes;
    lastProgress = now;
  }
  Clock::time_point deadline(const Limits& limits) const {
    Clock::time_point idle = lastProgress + limits.requestTimeout;
    if (limits.minRate <= 0) return idle;
    Clock::duration earned = std::chrono::microseconds(received * 1000000 / limits.minRate);
    Clock::time_point byRate = start + std::max(limits.requestTimeout, earned);
    return std::min(idle, byRate);
  }
};

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Percent-decodes the path (a '%' not followed by two hex digits stays as it
// is) and removes its "." and ".." segments, so that it never climbs above
// "/". False for a path that does not start with '/' or decodes to a NUL.
bool decodePath(const char* raw, size_t length, std::string* path) {
  if (length == 0 || raw[0] != '/') return false;
  std::string decoded;
  decoded.reserve(length);
  auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < length; ++i) {
    if (raw[i] == '%' && i + 2 < length && hex(raw[i + 1]) >= 0 && hex(raw[i + 2]) >= 0) {
      decoded += static_cast<char>(hex(raw[i + 1]) * 16 + hex(raw[i + 2]));
      i += 2;
    } else {
      decoded += raw[i];
    }
  }
  if (decoded.find('\0') != std::string::npos) return false;
  std::vector<std::string> kept;
  bool endsInFolder = false;
  size_t at = 1;
  while (true) {
    size_t slash = decoded.find('/', at);
    std::string segment = decoded.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
    bool last = slash == std::string::npos;
    endsInFolder = false;
    if (segment == "..") {
      if (!kept.empty()) kept.pop_back();
      endsInFolder = true;
    } else if (segment == ".") {
      endsInFolder = true;
    } else if (!last || !segment.empty()) {
      kept.push_back(segment);
    } else {
      endsInFolder = true;
    }
    if (last) break;
    at = slash + 1;
  }
  path->assign("/");
  for (size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) *path += '/';
    *path += kept[i];
  }
  if (endsInFolder && !kept.empty()) *path += '/';
  return true;
}

enum class Phase { Head, Body, Worker, Writing, Closed };

// The head of the request in progress, copied out of the parser into one
// text so that RequestHead's pointers stay valid while the module runs.
struct RequestRecord {
  std::string text;
  RequestHead head;
  bool keepAlive = false;  // what the client asked for (HTTP version, Connection)
  bool chunked = false;    // a Transfer-Encoding header came
  bool hasLength = false;
};

struct Connection {
  explicit Connection(asio::io_context& io) : socket(io) {}

  tcp::socket socket;
  int fd = -1;
  std::list<std::shared_ptr<Connection>>::iterator place;
  std::string address;
  int port = 0;
  Phase phase = Phase::Head;
  // Held by a worker while it hands the connection back (handBack) and by
  // the io thread while it looks at a connection a worker may be handing
  // back; the rest of the time one thread alone owns the connection.
  std::mutex handing;

  std::string buffer;  // bytes received and not yet used, from `used` on
  size_t used = 0;
  std::optional<http::request_parser<http::empty_body>> parser;
  Clock::time_point headClock;  // when the head's time began
  bool kept = false;            // a kept connection waiting for its next head's first byte

  RequestRecord request;
  long long bodyLength = 0;
  BodyClock body;
  Clock::time_point requestStart;
  AccessLogEntry entry;
  bool keep = false;  // the connection carries another request after this answer

  // A static answer or a host answer in progress.
  std::string out;
  size_t outAt = 0;
  std::shared_ptr<const std::string> outBody;
  size_t outBodyAt = 0;
  int file = -1;
  off_t fileAt = 0;
  off_t fileEnd = 0;
  Clock::time_point writeProgress;

  size_t waiting() const { return buffer.size() - used; }
  void dropUsed() {
    buffer.erase(0, used);
    used = 0;
    if (buffer.empty() && buffer.capacity() > 2 * kReadPiece) std::string().swap(buffer);
  }
};

// Waits until `fd` is ready for `events` or `deadline` passes (false).
bool waitReady(int fd, short events, Clock::time_point deadline) {
  while (true) {
    Clock::time_point now = Clock::now();
    if (now >= deadline) return false;
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    pollfd ready = {fd, events, 0};
    int got = poll(&ready, 1, static_cast<int>(std::min(ms, 60000LL)));
    if (got > 0) return true;
    if (got < 0 && errno != EINTR) return false;
  }
}

// The connection as a worker's module request sees it.
class WorkerConnection : public ClientConnection {
 public:
  WorkerConnection(Connection& connection, const Limits& limits) : connection_(connection), limits_(limits) {}

  int read(void* buffer, size_t size) override {
    Connection& c = connection_;
    if (c.waiting() > 0) {
      size_t n = std::min(size, c.waiting());
      std::memcpy(buffer, c.buffer.data() + c.used, n);
      c.used += n;
      return static_cast<int>(n);
    }
    while (true) {
      ssize_t got = recv(c.fd, buffer, size, 0);
      if (got > 0) {
        c.body.progress(Clock::now(), got);
        return static_cast<int>(got);
      }
      if (got == 0) return 0;
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
      // Behind the minimum rate, or silent: the body ends here.
      if (!waitReady(c.fd, POLLIN, c.body.deadline(limits_))) return 0;
    }
  }

  int write(const void* data, size_t size) override {
    const char* bytes = static_cast<const char*>(data);
    size_t left = size;
    Clock::time_point progress = Clock::now();
    while (left > 0) {
      ssize_t sent = send(connection_.fd, bytes, left, MSG_NOSIGNAL);
      if (sent > 0) {
        bytes += sent;
        left -= static_cast<size_t>(sent);
        progress = Clock::now();
      } else if (sent < 0 && errno == EINTR) {
        continue;
      } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // A client that takes nothing for the request time-out is gone.
        if (!waitReady(connection_.fd, POLLOUT, progress + limits_.requestTimeout)) return -1;
      } else {
        return -1;
      }
    }
    return static_cast<int>(size);
  }

  void closeAfterAnswer() override { connection_.keep = false; }

 private:
  Connection& connection_;
  const Limits& limits_;
};

}  // namespace

struct HttpServer::Impl {
  Impl(const HostOptions& options, const IsapiModule& module, const AccessLog& log)
      : options(options), module(module), log(log), acceptor(io), sweepTimer(io), retryTimer(io), queueTimer(io) {
    limits.requestTimeout = std::chrono::milliseconds(options.requestTimeoutMs);
    limits.keepAlive = std::chrono::milliseconds(options.keepAliveMs);
    limits.minRate = options.bodyMinRate;
    documentRoot = options.root + "/MMCMemory/www/wwwpub";
  }

  // io thread
  void accept();
  void sweep();
  void readMore(const std::shared_ptr<Connection>& c);
  void process(const std::shared_ptr<Connection>& c);
  bool beginRequest(const std::shared_ptr<Connection>& c);
  void serveStatic(const std::shared_ptr<Connection>& c, StaticFiles::Found& found, bool isHead);
  void hostAnswer(const std::shared_ptr<Connection>& c, int status, const char* statusText, const char* text);
  void writeOut(const std::shared_ptr<Connection>& c);
  void answered(const std::shared_ptr<Connection>& c);
  void next(const std::shared_ptr<Connection>& c);
  void dispatch(const std::shared_ptr<Connection>& c);
  void close(const std::shared_ptr<Connection>& c);
  // Once the socket is ready for `type`, `then` runs again; an error closes.
  void whenReady(const std::shared_ptr<Connection>& c, tcp::socket::wait_type type,
                 void (Impl::*then)(const std::shared_ptr<Connection>&));
  // workers
  void watchQueue();
  void work();
  void runModule(const std::shared_ptr<Connection>& c);
  void handBack(const std::shared_ptr<Connection>& c);

  const HostOptions& options;
  const IsapiModule& module;
  const AccessLog& log;
  Limits limits;
  std::string documentRoot;
  StaticFiles files;

  asio::io_context io{1};
  std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
  tcp::acceptor acceptor;
  asio::steady_timer sweepTimer;
  asio::steady_timer retryTimer;
  std::list<std::shared_ptr<Connection>> connections;
  bool closed = false;  // the server is stopping: nothing starts again
  int serverPort = 0;
  char piece[kReadPiece];
  std::thread ioThread;

  std::mutex queueLock;
  std::condition_variable queueReady;
  std::deque<std::shared_ptr<Connection>> queue;
  int awake = 0;  // workers not waiting for a request
  int wakes = 0;  // workers told to wake that have not yet
  int processors = 1;
  // Workers that may take requests: the processors, and one more for each
  // watch in which requests waited and none was answered (the awake ones are
  // held by something, a post waiting for its disk). Surplus workers sleep
  // again after their request.
  int target = 1;
  std::atomic<unsigned long> finished{0};  // requests the workers finished
  unsigned long finishedAtWatch = 0;       // io thread only
  int settled = 0;                         // io thread only
  bool quitting = false;
  asio::steady_timer queueTimer;
  bool queueWatched = false;
  std::vector<std::thread> workers;

  std::atomic<int> busy{0};  // requests handed to the module and not yet answered
  std::atomic<bool> stopping{false};
  bool started = false;
};

HttpServer::HttpServer(const HostOptions& options, const IsapiModule& module, const AccessLog& log)
    : impl_(new Impl(options, module, log)) {}

HttpServer::~HttpServer() { stop(); }

bool HttpServer::start(std::string* error, int* port) {
  Impl& s = *impl_;
  if (!s.files.open(s.documentRoot)) {
    std::fprintf(stderr, "quenta-httpd: %s is not a folder; no static files are served\n", s.documentRoot.c_str());
  }
  boost::system::error_code ec;
  tcp::endpoint endpoint(asio::ip::make_address_v4(s.options.listenAddress, ec),
                         static_cast<unsigned short>(s.options.listenPort));
  if (!ec) s.acceptor.open(tcp::v4(), ec);
  if (!ec) s.acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) s.acceptor.bind(endpoint, ec);
  if (!ec) s.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    *error = "cannot listen on " + s.options.listenAddress + ":" + std::to_string(s.options.listenPort) + ": " +
             ec.message();
    return false;
  }
  s.serverPort = s.acceptor.local_endpoint().port();
  *port = s.serverPort;
  s.started = true;
  s.processors = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  s.target = std::min(s.processors, s.options.threads);
  s.awake = s.options.threads;  // until each first waits
  s.guard.emplace(s.io.get_executor());
  s.accept();
  s.sweep();
  s.ioThread = std::thread([&s] { s.io.run(); });
  for (int i = 0; i < s.options.threads; ++i) s.workers.emplace_back([&s] { s.work(); });
  return true;
}

void HttpServer::stop(int drainMs) {
  Impl& s = *impl_;
  if (!s.started) return;
  s.started = false;
  s.stopping = true;
  Clock::time_point start = Clock::now();
  while (s.busy.load() > 0 && millisecondsSince(start) < drainMs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // Requests still in the module past the drain: their reads and writes end.
  asio::post(s.io, [&s] {
    for (const std::shared_ptr<Connection>& c : s.connections) {
      std::lock_guard<std::mutex> hold(c->handing);
      if (c->phase == Phase::Worker) shutdown(c->fd, SHUT_RDWR);
    }
  });
  {
    std::lock_guard<std::mutex> hold(s.queueLock);
    s.quitting = true;
  }
  s.queueReady.notify_all();
  for (std::thread& worker : s.workers) worker.join();
  s.workers.clear();
  {
    // Requests the io thread handed over meanwhile are closed below.
    std::lock_guard<std::mutex> hold(s.queueLock);
    s.queue.clear();
  }
  asio::post(s.io, [&s] {
    boost::system::error_code ignored;
    // A timer's handler may be queued already, past the reach of cancel().
    s.closed = true;
    s.acceptor.close(ignored);
    s.sweepTimer.cancel();
    s.retryTimer.cancel();
    s.queueTimer.cancel();
    while (!s.connections.empty()) s.close(std::shared_ptr<Connection>(s.connections.front()));
    s.guard.reset();
  });
  s.ioThread.join();
}

void HttpServer::Impl::accept() {
  acceptor.async_accept([this](const boost::system::error_code& ec, tcp::socket socket) {
    if (closed) return;
    if (ec) {
      // Out of descriptors, most likely: try again a little later rather
      // than spin.
      retryTimer.expires_after(std::chrono::milliseconds(50));
      retryTimer.async_wait([this](const boost::system::error_code& waited) {
        if (!waited && !closed) accept();
      });
      return;
    }
    std::shared_ptr<Connection> c = std::make_shared<Connection>(io);
    c->socket = std::move(socket);
    boost::system::error_code ignored;
    c->socket.set_option(tcp::no_delay(true), ignored);
    c->socket.non_blocking(true, ignored);
    c->fd = c->socket.native_handle();
    tcp::endpoint peer = c->socket.remote_endpoint(ignored);
    c->address = peer.address().to_string(ignored);
    c->port = peer.port();
    c->headClock = Clock::now();
    connections.push_front(c);
    c->place = connections.begin();
    readMore(c);
    accept();
  });
}

void HttpServer::Impl::sweep() {
  Clock::time_point now = Clock::now();
  for (auto it = connections.begin(); it != connections.end();) {
    std::shared_ptr<Connection> c = *it++;
    bool late = false;
    std::lock_guard<std::mutex> hold(c->handing);
    switch (c->phase) {
      case Phase::Head:
        late = now >= c->headClock + (c->kept ? limits.keepAlive : limits.requestTimeout);
        break;
      case Phase::Body:
        late = now >= c->body.deadline(limits);
        break;
      case Phase::Writing:
        late = now >= c->writeProgress + limits.requestTimeout;
        break;
      case Phase::Worker:
      case Phase::Closed:
        break;
    }
    if (late) close(c);
  }
  sweepTimer.expires_after(kSweepPeriod);
  sweepTimer.async_wait([this](const boost::system::error_code& ec) {
    if (!ec && !closed) sweep();
  });
}

// Reads what the socket holds; the readiness wait is asked only after a read
// found nothing, as the loop's edge-triggered poller needs.
void HttpServer::Impl::readMore(const std::shared_ptr<Connection>& c) {
  boost::system::error_code ec;
  size_t got = c->socket.read_some(asio::buffer(piece, sizeof(piece)), ec);
  if (ec == asio::error::would_block || ec == asio::error::try_again) {
    whenReady(c, tcp::socket::wait_read, &Impl::readMore);
    return;
  }
  if (ec || got == 0) {
    close(c);
    return;
  }
  if (c->kept) {
    c->kept = false;
    c->headClock = Clock::now();
  }
  c->buffer.append(piece, got);
  process(c);
}

void HttpServer::Impl::process(const std::shared_ptr<Connection>& c) {
  while (c->phase == Phase::Head || c->phase == Phase::Body) {
    if (c->phase == Phase::Body) {
      long long have = std::min(static_cast<long long>(c->waiting()), c->bodyLength);
      if (have > c->body.received) c->body.progress(Clock::now(), have - c->body.received);
      if (have < std::min(c->bodyLength, kPreloadLimit)) {
        readMore(c);
      } else {
        dispatch(c);
      }
      return;
    }
    if (c->waiting() == 0) {
      c->dropUsed();
      readMore(c);
      return;
    }
    if (!c->parser) {
      c->parser.emplace();
      c->parser->header_limit(kHeaderLimit);
      // The body never passes through the parser; Beast 1.74 takes "no
      // limit" (none) for a limit of nothing, so the largest is given.
      c->parser->body_limit(std::numeric_limits<std::uint64_t>::max());
      c->parser->eager(false);
    }
    boost::system::error_code ec;
    size_t taken = c->parser->put(asio::buffer(c->buffer.data() + c->used, c->waiting()), ec);
    c->used += taken;
    if (ec == http::error::need_more) {
      c->dropUsed();
      readMore(c);
      return;
    }
    if (ec) {
      c->requestStart = Clock::now();
      c->entry = AccessLogEntry();
      c->entry.client = c->address;
      if (ec == http::error::header_limit) {
        hostAnswer(c, 431, "431 Request Header Fields Too Large", "431 Request Header Fields Too Large\n");
      } else {
        hostAnswer(c, 400, "400 Bad Request", "400 Bad Request\n");
      }
      return;
    }
    if (!beginRequest(c)) return;
  }
}

// The parsed head becomes the request; the answer starts or the request waits
// for its body. False when the connection left the io thread's loop.
bool HttpServer::Impl::beginRequest(const std::shared_ptr<Connection>& c) {
  const http::request<http::empty_body>& message = c->parser->get();
  RequestRecord& r = c->request;
  c->requestStart = Clock::now();
  c->entry = AccessLogEntry();
  c->entry.client = c->address;

  // Every text goes into one string, each with its NUL; the offsets become
  // pointers once the string is complete.
  std::string& text = r.text;
  text.clear();
  std::vector<size_t> at;
  auto add = [&text, &at](boost::beast::string_view value) {
    at.push_back(text.size());
    text.append(value.data(), value.size());
    text += '\0';
  };
  boost::beast::string_view target = message.target();
  size_t question = target.find('?');
  std::string path;
  if (!decodePath(target.data(), question == boost::beast::string_view::npos ? target.size() : question, &path)) {
    c->entry.method = std::string(message.method_string());
    hostAnswer(c, 400, "400 Bad Request", "400 Bad Request\n");
    return false;
  }
  add(message.method_string());
  add(path);
  add(question == boost::beast::string_view::npos ? boost::beast::string_view() : target.substr(question + 1));
  add(message.version() == 10 ? "1.0" : "1.1");
  int headerCount = 0;
  for (const auto& field : message) {
    if (headerCount == RequestHead::kMaxHeaders) break;
    add(field.name_string());
    add(field.value());
    ++headerCount;
  }
  RequestHead& head = r.head;
  head = RequestHead();
  head.method = text.c_str() + at[0];
  head.path = text.c_str() + at[1];
  head.query = question == boost::beast::string_view::npos ? nullptr : text.c_str() + at[2];
  head.httpVersion = text.c_str() + at[3];
  head.remoteAddress = c->address.c_str();
  head.remotePort = c->port;
  head.serverPort = serverPort;
  head.headerCount = headerCount;
  for (int i = 0; i < headerCount; ++i) {
    head.headers[i] = {text.c_str() + at[4 + 2 * i], text.c_str() + at[5 + 2 * i]};
  }
  boost::optional<std::uint64_t> length = c->parser->content_length();
  r.hasLength = length.has_value();
  head.contentLength = r.hasLength ? static_cast<long long>(*length) : -1;
  r.chunked = message.find(http::field::transfer_encoding) != message.end();
  r.keepAlive = message.keep_alive();
  c->parser.reset();

  c->entry.method = head.method;
  c->entry.target = head.path;
  if (head.query != nullptr) {
    c->entry.target += '?';
    c->entry.target += head.query;
  }

  if (stopping) {
    hostAnswer(c, 503, "503 Service Unavailable", "503 Service Unavailable: stopping\n");
    return false;
  }
  bool isGet = std::strcmp(head.method, "GET") == 0;
  bool isHead = std::strcmp(head.method, "HEAD") == 0;
  StaticFiles::Found found;
  if ((isGet || isHead) && files.find(path, &found)) {
    serveStatic(c, found, isHead);
    return false;
  }
  // The module reads a body of announced length (cbTotalBytes); a body whose
  // end is only known from chunk framing or from the closing connection is
  // refused before the module sees it.
  if (r.chunked || (std::strcmp(head.method, "POST") == 0 && !r.hasLength)) {
    hostAnswer(c, 411, "411 Length Required",
               "411 Length Required: send the request body with a Content-Length header.\n");
    return false;
  }
  c->bodyLength = head.contentLength > 0 ? head.contentLength : 0;
  const char* expect = head.header("Expect");
  bool waitsForContinue = expect != nullptr && strcasecmp(expect, "100-continue") == 0;
  c->body.begin(c->requestStart, std::min(static_cast<long long>(c->waiting()), c->bodyLength));
  if (c->bodyLength > 0 && !waitsForContinue && c->body.received < std::min(c->bodyLength, kPreloadLimit)) {
    c->phase = Phase::Body;
    return true;
  }
  dispatch(c);
  return false;
}

void HttpServer::Impl::serveStatic(const std::shared_ptr<Connection>& c, StaticFiles::Found& found, bool isHead) {
  const RequestHead& head = c->request.head;
  const char* ifNoneMatch = head.header("If-None-Match");
  const char* ifModifiedSince = head.header("If-Modified-Since");
  bool unchanged = ifNoneMatch != nullptr ? std::strstr(ifNoneMatch, found.etag->c_str()) != nullptr
                                          : ifModifiedSince != nullptr && *found.lastModified == ifModifiedSince;
  // A body sent with a GET is not read: the connection ends with the answer.
  c->keep = c->request.keepAlive && head.contentLength <= 0 && !c->request.chunked;
  c->out = unchanged ? *found.notModified : *found.head;
  if (!c->keep) {
    c->out += "Connection: close\r\n";
  } else if (std::strcmp(head.httpVersion, "1.0") == 0) {
    c->out += "Connection: keep-alive\r\n";
  }
  c->out += "\r\n";
  c->outAt = 0;
  bool sendBody = !isHead && !unchanged;
  c->entry.status = unchanged ? 304 : 200;
  c->entry.bytes = sendBody ? static_cast<long long>(found.size) : 0;
  if (sendBody && found.fd >= 0) {
    c->file = found.fd;
    c->fileAt = 0;
    c->fileEnd = static_cast<off_t>(found.size);
  } else {
    if (found.fd >= 0) ::close(found.fd);
    if (sendBody) c->outBody = found.body;
  }
  c->outBodyAt = 0;
  c->phase = Phase::Writing;
  c->writeProgress = Clock::now();
  writeOut(c);
}

// An answer of the host's own, in plain text, after which the connection is
// closed.
void HttpServer::Impl::hostAnswer(const std::shared_ptr<Connection>& c, int status, const char* statusText,
                                  const char* text) {
  char answer[512];
  int length = std::snprintf(answer, sizeof(answer),
                             "HTTP/1.1 %s\r\nContent-Type: text/plain\r\nContent-Length: %zu\r\n"
                             "Connection: close\r\n\r\n%s",
                             statusText, std::strlen(text), text);
  c->out.assign(answer, static_cast<size_t>(length));
  c->outAt = 0;
  c->entry.status = status;
  c->entry.bytes = static_cast<long long>(std::strlen(text));
  c->keep = false;
  c->phase = Phase::Writing;
  c->writeProgress = Clock::now();
  writeOut(c);
}

void HttpServer::Impl::writeOut(const std::shared_ptr<Connection>& c) {
  while (true) {
    boost::system::error_code ec;
    size_t headLeft = c->out.size() - c->outAt;
    size_t bodyLeft = c->outBody != nullptr ? c->outBody->size() - c->outBodyAt : 0;
    ssize_t sent = 0;
    if (headLeft > 0 || bodyLeft > 0) {
      std::array<asio::const_buffer, 2> pieces = {
          asio::buffer(c->out.data() + c->outAt, headLeft),
          asio::buffer(bodyLeft > 0 ? c->outBody->data() + c->outBodyAt : nullptr, bodyLeft)};
      size_t n = c->socket.write_some(pieces, ec);
      if (!ec) {
        size_t toHead = std::min(n, headLeft);
        c->outAt += toHead;
        c->outBodyAt += n - toHead;
        sent = static_cast<ssize_t>(n);
      }
    } else if (c->file >= 0 && c->fileAt < c->fileEnd) {
      sent = sendfile(c->fd, c->file, &c->fileAt, static_cast<size_t>(c->fileEnd - c->fileAt));
      if (sent < 0) {
        ec = boost::system::error_code(errno, boost::system::system_category());
      } else if (sent == 0) {
        ec = asio::error::eof;  // the file shrank while it was sent
      }
    } else {
      answered(c);
      return;
    }
    if (ec == asio::error::would_block || ec == asio::error::try_again) {
      whenReady(c, tcp::socket::wait_write, &Impl::writeOut);
      return;
    }
    if (ec == asio::error::interrupted) continue;
    if (ec) {
      c->keep = false;
      answered(c);
      return;
    }
    c->writeProgress = Clock::now();
  }
}

// The io thread's answer is out: logged, and the connection closed or made
// ready for its next request.
void HttpServer::Impl::answered(const std::shared_ptr<Connection>& c) {
  c->entry.milliseconds = millisecondsSince(c->requestStart);
  log.write(c->entry);
  c->out.clear();
  c->outBody.reset();
  if (c->file >= 0) ::close(c->file);
  c->file = -1;
  next(c);
}

// After an answer: the connection closes, or waits for its next request
// (which may have come already).
void HttpServer::Impl::next(const std::shared_ptr<Connection>& c) {
  if (!c->keep) {
    close(c);
    return;
  }
  c->phase = Phase::Head;
  c->dropUsed();
  c->kept = c->waiting() == 0;
  c->headClock = Clock::now();
  process(c);
}

// Waking a sleeping worker costs more than a short module call, and more
// workers than processors only queue on the data files' locks (a worker
// descheduled while it holds one holds up the rest for a time slice). So
// while `target` workers are awake a request waits for one of them; should
// they all be held (a module call that waits for something), so that no
// request is answered for kWakeDelay, another worker is woken, and so on.
void HttpServer::Impl::dispatch(const std::shared_ptr<Connection>& c) {
  c->phase = Phase::Worker;
  busy.fetch_add(1);
  bool wake;
  {
    std::lock_guard<std::mutex> hold(queueLock);
    queue.push_back(c);
    wake = awake + wakes < target;
    if (wake) ++wakes;
  }
  if (wake) {
    queueReady.notify_one();
  } else {
    watchQueue();
  }
}

void HttpServer::Impl::watchQueue() {
  if (queueWatched) return;
  queueWatched = true;
  queueTimer.expires_after(kWakeDelay);
  queueTimer.async_wait([this](const boost::system::error_code& ec) {
    queueWatched = false;
    if (ec || closed) return;
    unsigned long now = finished.load();
    bool progress = now != finishedAtWatch;
    finishedAtWatch = now;
    bool wake, waiting;
    {
      std::lock_guard<std::mutex> hold(queueLock);
      waiting = !queue.empty();
      int base = std::min(processors, options.threads);
      if (!waiting) {
        target = base;
        settled = 0;
      } else if (!progress) {
        target = std::min(target + 1, options.threads);
        settled = 0;
      } else if (target > base && ++settled >= kSettleWatches) {
        --target;
        settled = 0;
      }
      wake = waiting && awake + wakes < target;
      if (wake) ++wakes;
    }
    if (wake) queueReady.notify_one();
    if (waiting) watchQueue();
  });
}

void HttpServer::Impl::whenReady(const std::shared_ptr<Connection>& c, tcp::socket::wait_type type,
                                 void (Impl::*then)(const std::shared_ptr<Connection>&)) {
  c->socket.async_wait(type, [this, c, then](const boost::system::error_code& waited) {
    if (c->phase == Phase::Closed) return;
    if (waited) {
      close(c);
    } else {
      (this->*then)(c);
    }
  });
}

void HttpServer::Impl::close(const std::shared_ptr<Connection>& c) {
  if (c->phase == Phase::Closed) return;
  c->phase = Phase::Closed;
  boost::system::error_code ignored;
  c->socket.close(ignored);
  if (c->file >= 0) ::close(c->file);
  c->file = -1;
  connections.erase(c->place);
}

void HttpServer::Impl::work() {
  while (true) {
    std::shared_ptr<Connection> c;
    {
      std::unique_lock<std::mutex> hold(queueLock);
      while (!quitting && (queue.empty() || awake > target)) {
        // A surplus worker leaving requests queued: the io thread's watch
        // wakes one again should the others make no progress.
        if (!queue.empty()) asio::post(io, [this] { watchQueue(); });
        --awake;
        queueReady.wait(hold);
        ++awake;
        if (wakes > 0) --wakes;
      }
      if (quitting) return;
      c = std::move(queue.front());
      queue.pop_front();
    }
    runModule(c);
  }
}

void HttpServer::Impl::runModule(const std::shared_ptr<Connection>& c) {
  c->keep = c->request.keepAlive;
  WorkerConnection client(*c, limits);
  IsapiRequest request(client, c->request.head, documentRoot);
  c->entry.status = request.run(module.httpExtensionProc);
  c->entry.bytes = static_cast<long long>(request.bodyBytesSent());
  c->entry.moduleText = request.logText();
  c->entry.milliseconds = millisecondsSince(c->requestStart);
  log.write(c->entry);
  handBack(c);
  finished.fetch_add(1);
  busy.fetch_sub(1);
}

// After a worker's answer. A kept connection with nothing more received waits
// for its next head from here: the worker starts the read itself (asio's
// reactor takes reads from any thread), which spares the io thread a wake-up
// only to start it, a good part of a short answer's cost at a few
// connections. Anything else goes back to the io thread.
void HttpServer::Impl::handBack(const std::shared_ptr<Connection>& c) {
  if (!c->keep || c->waiting() > 0) {
    asio::post(io, [this, c] {
      if (c->phase != Phase::Closed) next(c);
    });
    return;
  }
  std::lock_guard<std::mutex> hold(c->handing);
  c->dropUsed();
  c->buffer.resize(kHeadPiece);
  c->kept = true;
  c->headClock = Clock::now();
  c->phase = Phase::Head;
  c->socket.async_read_some(asio::buffer(&c->buffer[0], kHeadPiece),
                            [this, c](const boost::system::error_code& ec, size_t got) {
                              // Waits until the worker has let go of the socket.
                              { std::lock_guard<std::mutex> handed(c->handing); }
                              if (c->phase == Phase::Closed) return;
                              c->buffer.resize(ec ? 0 : got);
                              if (ec || got == 0) {
                                close(c);
                                return;
                              }
                              c->kept = false;
                              c->headClock = Clock::now();
                              process(c);
                            });
}

}  // namespace quenta
