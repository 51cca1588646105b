#include "tests/host/HostTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>


namespace hosttest {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// A file without a name, for the child's output.
int unnamedFile() {
  char name[] = "/tmp/quenta-host-output-XXXXXX";
  int fd = mkostemp(name, O_CLOEXEC);
  if (fd >= 0) unlink(name);
  return fd;
}

std::string contents(int fd) {
  std::string text;
  char buffer[65536];
  for (ssize_t got; (got = pread(fd, buffer, sizeof(buffer), static_cast<off_t>(text.size()))) > 0;) {
    text.append(buffer, static_cast<size_t>(got));
  }
  return text;
}

}  // namespace

bool waitUntil(int timeoutMs, const std::function<bool()>& ready) {
  for (auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs); !ready();) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

DeviceRoot::DeviceRoot() : TestRoot(false) { std::filesystem::create_directories(webRoot()); }

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (outputFd_ >= 0) close(outputFd_);
  if (errorFd_ >= 0) close(errorFd_);
}

bool HostProcess::start(const std::vector<std::string>& arguments, const std::string& workingDirectory) {
  outputFd_ = unnamedFile();
  errorFd_ = unnamedFile();
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  if (outputFd_ < 0 || errorFd_ < 0 || (pid_ = fork()) < 0) return false;
  if (pid_ == 0) {
    // A test killed midway takes its server with it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    dup2(outputFd_, 1);
    dup2(errorFd_, 2);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return true;
}

int HostProcess::serve(const std::string& httpd, const std::string& root, const std::string& module,
                       const std::vector<std::string>& extra) {
  std::vector<std::string> arguments = {httpd, "--root", root, "--listen", "127.0.0.1:0", "--module", module};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return start(arguments) ? waitForListening(20000) : 0;
}

int HostProcess::waitForListening(int timeoutMs) {
  const std::string marker = "listening on http://127.0.0.1:";
  std::string text;
  if (!waitUntil(timeoutMs, [&] {
        text = output();
        return text.find('\n', text.find(marker)) != std::string::npos;
      })) {
    return 0;
  }
  return std::atoi(text.c_str() + text.find(marker) + marker.size());
}

bool HostProcess::waitForOutput(const std::string& text, int timeoutMs) {
  return waitUntil(timeoutMs, [&] { return output().find(text) != std::string::npos; });
}

int HostProcess::stop(int signal, int timeoutMs) {
  if (pid_ > 0) kill(pid_, signal);
  return waitForExit(timeoutMs);
}

int HostProcess::waitForExit(int timeoutMs) {
  int status = 0;
  if (pid_ <= 0 || !waitUntil(timeoutMs, [&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HostProcess::output() { return contents(outputFd_); }
std::string HostProcess::errors() { return contents(errorFd_); }

std::string HttpResponse::header(const std::string& name) const {
  size_t headEnd = raw.find("\r\n\r\n");
  for (size_t at = raw.find("\r\n"); at < headEnd; at = raw.find("\r\n", at + 2)) {
    size_t colon = raw.find(':', at);
    if (colon - at - 2 == name.size() && strncasecmp(raw.c_str() + at + 2, name.c_str(), name.size()) == 0) {
      size_t value = raw.find_first_not_of(' ', colon + 1);
      return raw.substr(value, raw.find("\r\n", colon) - value);
    }
  }
  return "";
}

HttpConnection::~HttpConnection() {
  if (fd_ >= 0) close(fd_);
}

bool HttpConnection::open(int port) {
  if (fd_ >= 0) close(fd_);
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval timeout{20, 0};
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  eof_ = false;
  buffer_.clear();
  return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
}

bool HttpConnection::send(const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t written = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written <= 0 && errno != EINTR) return false;
    if (written > 0) sent += static_cast<size_t>(written);
  }
  return true;
}

bool HttpConnection::fill(int timeoutMs) {
  pollfd waiting{fd_, POLLIN, 0};
  if (fd_ < 0 || eof_ || poll(&waiting, 1, timeoutMs) <= 0) return false;
  char chunk[65536];
  ssize_t got = recv(fd_, chunk, sizeof(chunk), 0);
  eof_ = got <= 0;
  if (got > 0) buffer_.append(chunk, static_cast<size_t>(got));
  return got > 0;
}

bool HttpConnection::read(HttpResponse* response, bool noBody) {
  *response = HttpResponse();
  auto deadline = Clock::now() + std::chrono::seconds(30);
  for (;;) {
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(millisecondsLeft(deadline))) return false;
    }
    response->raw = buffer_.substr(0, end + 4);
    buffer_.erase(0, end + 4);
    response->statusLine = response->raw.substr(0, response->raw.find("\r\n"));
    response->status = std::atoi(response->statusLine.c_str() + std::min<size_t>(9, response->statusLine.size()));
    if (response->status < 100 || response->status >= 200) break;
    ++interimAnswers;
  }
  if (noBody || response->status == 204 || response->status == 304) return true;
  std::string contentLength = response->header("Content-Length");
  size_t length = contentLength.empty() ? std::string::npos : std::strtoull(contentLength.c_str(), nullptr, 10);
  while (buffer_.size() < length && fill(millisecondsLeft(deadline))) {
  }
  // Without a length, the body ends with the close.
  if (contentLength.empty() ? !eof_ : buffer_.size() < length) return false;
  response->body = buffer_.substr(0, length);
  buffer_.erase(0, length);
  response->raw += response->body;
  return true;
}

bool HttpConnection::exchange(const std::string& request, HttpResponse* response, bool noBody) {
  return send(request) && read(response, noBody);
}

bool HttpConnection::closedByServer(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (fill(millisecondsLeft(deadline))) {
  }
  return eof_;
}

bool HttpConnection::waitFor(const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (buffer_.find(text) == std::string::npos) {
    if (!fill(millisecondsLeft(deadline))) return false;
  }
  return true;
}

std::string request(const std::string& method, const std::string& target, const std::string& extraHeaders,
                    const std::string& body) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n" + body;
}

std::string get(int port, const std::string& target) {
  HttpConnection connection;
  HttpResponse response;
  if (!connection.open(port) || !connection.exchange(request("GET", target), &response)) return "(no answer)";
  return response.status == 200 ? response.body : "(status " + std::to_string(response.status) + ")";
}

std::string runCommand(const std::string& command, int* exitCode) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  char chunk[4096];
  for (size_t n; pipe != nullptr && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
  int status = pipe != nullptr ? pclose(pipe) : -1;
  if (exitCode != nullptr) *exitCode = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

std::string field(const std::string& body, const std::string& name) {
  std::string text = "\n" + body;
  size_t at = text.rfind("\n" + name + "=");
  if (at == std::string::npos) return "(absent)";
  at += name.size() + 2;
  return text.substr(at, text.find('\n', at) - at);
}

}  // namespace hosttest
