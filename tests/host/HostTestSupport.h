// For the end-to-end tests of quenta-httpd: a temporary device root, the server
// as a child process, a raw HTTP/1.1 client over 127.0.0.1 keeping the exact
// bytes received. Every wait is bounded.
#ifndef QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_
#define QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/TestRoot.h"

namespace hosttest {

// Checks `ready` every 10 ms until it holds (true) or `timeoutMs` passes.
bool waitUntil(int timeoutMs, const std::function<bool()>& ready);

// A device root with an empty web folder (MMCMemory/www/wwwpub).
class DeviceRoot : public TestRoot {
 public:
  DeviceRoot();
};

// quenta-httpd as a child process with the test's environment; its output and
// errors go to files without names.
class HostProcess {
 public:
  HostProcess() = default;
  ~HostProcess();
  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool start(const std::vector<std::string>& arguments, const std::string& workingDirectory = "");
  // Starts `httpd` on a free 127.0.0.1 port with `module` over `root`; the port, or 0.
  int serve(const std::string& httpd, const std::string& root, const std::string& module,
            const std::vector<std::string>& extra = {});
  // Waits for "listening on http://127.0.0.1:PORT" and returns the port, or 0.
  int waitForListening(int timeoutMs);
  bool waitForOutput(const std::string& text, int timeoutMs);
  // The exit code, or -1 when the child did not exit normally in time.
  int stop(int signal, int timeoutMs);
  int waitForExit(int timeoutMs);

  std::string output();
  std::string errors();

 private:
  pid_t pid_ = -1;
  int outputFd_ = -1;
  int errorFd_ = -1;
};

struct HttpResponse {
  std::string raw;  // every byte of this answer, interim answers excluded
  std::string statusLine;
  int status = 0;
  std::string body;
  std::string header(const std::string& name) const;  // "" when absent; name case-insensitive
};

class HttpConnection {
 public:
  HttpConnection() = default;
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool open(int port);  // to 127.0.0.1
  bool send(const std::string& bytes);
  // Reads one answer: head, then Content-Length bytes or up to the close;
  // `noBody` for a HEAD. Interim 1xx answers are skipped and counted.
  bool read(HttpResponse* response, bool noBody = false);
  bool exchange(const std::string& request, HttpResponse* response, bool noBody = false);
  bool closedByServer(int timeoutMs);                      // what came stays buffered
  bool waitFor(const std::string& text, int timeoutMs);  // `text` stays buffered

  int interimAnswers = 0;

 private:
  bool fill(int timeoutMs);  // reads more into buffer_; false on close or timeout
  int fd_ = -1;
  bool eof_ = false;
  std::string buffer_;
};

// "METHOD target HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extra + "\r\n" + body
std::string request(const std::string& method, const std::string& target, const std::string& extraHeaders = "",
                    const std::string& body = "");

// The body of a GET to 127.0.0.1:port, or "(status N)" / "(no answer)".
std::string get(int port, const std::string& target);

// What a shell command printed, its errors included; *exitCode (may be null)
// is -1 when it did not exit normally.
std::string runCommand(const std::string& command, int* exitCode = nullptr);

// The "name=value" line of the test module's answer, or "(absent)".
std::string field(const std::string& body, const std::string& name);

}  // namespace hosttest

#endif  // QUENTA_TESTS_HOST_HOSTTESTSUPPORT_H_
