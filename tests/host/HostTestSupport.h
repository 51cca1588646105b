// What the end-to-end tests of quenta-httpd share: a temporary device root, the
// server as a child process, and a raw HTTP/1.1 client over 127.0.0.1 that
// keeps the exact bytes it received. Every wait is bounded.
#ifndef QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_
#define QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_

#include <sys/types.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace hosttest {

// A device root under /tmp with MMCMemory/www/wwwpub; removed with its content.
class DeviceRoot {
 public:
  DeviceRoot();
  ~DeviceRoot();
  const std::string& path() const { return path_; }
  std::string wwwpub() const { return path_ + "/MMCMemory/www/wwwpub"; }
  // Writes `content` to path (relative to the root), creating folders.
  void writeFile(const std::string& relative, const std::string& content, bool executable = false) const;
  bool exists(const std::string& relative) const;
  std::string readFile(const std::string& relative) const;

 private:
  std::string path_;
};

// quenta-httpd as a child process. Its standard output and error are collected
// by reader threads so the child never blocks on a full pipe.
class HostProcess {
 public:
  HostProcess() = default;
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  // `environment` entries are "NAME=value" added to the test's own.
  bool start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {},
             const std::string& workingDirectory = "");
  // Waits for "listening on http://127.0.0.1:PORT" and returns the port, or 0.
  int waitForListening(int timeoutMs);
  bool waitForOutput(const std::string& text, int timeoutMs);
  // Sends `signal` and waits for the exit; returns the exit code, or -1 when
  // the child did not exit normally in time (it is then killed).
  int stop(int signal, int timeoutMs);
  // Waits for a child that is expected to exit on its own.
  int waitForExit(int timeoutMs);

  std::string output();
  std::string errors();

 private:
  void collect(int fd, std::string* sink);

  pid_t pid_ = -1;
  std::mutex lock_;
  std::condition_variable changed_;
  std::string output_;
  std::string errors_;
  std::thread outputReader_;
  std::thread errorReader_;
};

struct HttpResponse {
  std::string raw;   // every byte of this answer, interim answers excluded
  std::string statusLine;
  int status = 0;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string header(const std::string& name) const;  // "" when absent; name case-insensitive
  bool hasHeader(const std::string& name) const;
};

class HttpConnection {
 public:
  HttpConnection() = default;
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Connects to 127.0.0.1:port; reads and writes time out after 20 s.
  bool open(int port);
  void close();
  bool send(const std::string& bytes);
  // Reads one answer: the head, then a body of Content-Length bytes, or up to
  // the close when there is none. `noBody`: the answer to a HEAD. Interim 1xx
  // answers are skipped and counted in interimAnswers.
  bool read(HttpResponse* response, bool noBody = false);
  // True when the server closes the connection within `timeoutMs`; what it
  // sent before stays buffered for read().
  bool closedByServer(int timeoutMs);
  // Waits for `text` to arrive (bytes beyond it stay buffered).
  bool waitFor(const std::string& text, int timeoutMs);

  // Sends a request and reads its answer.
  bool exchange(const std::string& request, HttpResponse* response, bool noBody = false);

  int interimAnswers = 0;

 private:
  bool fill(int timeoutMs);  // reads more into buffer_; false on close or timeout
  int fd_ = -1;
  bool eof_ = false;
  std::string buffer_;
};

// "GET /path HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n" + body
std::string request(const std::string& method, const std::string& target, const std::string& extraHeaders = "",
                    const std::string& body = "");

// FNV-1a of the bytes, as the test module prints it.
std::string fnvHex(const std::string& bytes);

// The "name=value" line of the test module's answer, or "(absent)".
std::string field(const std::string& body, const std::string& name);

}  // namespace hosttest

#endif  // QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_
