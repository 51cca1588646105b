#include "tests/host/HostTestSupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace hosttest {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// ---- DeviceRoot ----

DeviceRoot::DeviceRoot() {
  char pattern[] = "/tmp/quenta-host-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  path_ = made != nullptr ? made : "/tmp/quenta-host-test-failed";
  std::filesystem::create_directories(wwwpub());
}

DeviceRoot::~DeviceRoot() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void DeviceRoot::writeFile(const std::string& relative, const std::string& content, bool executable) const {
  std::filesystem::path file = std::filesystem::path(path_) / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (executable) chmod(file.c_str(), 0755);
}

bool DeviceRoot::exists(const std::string& relative) const {
  return std::filesystem::exists(std::filesystem::path(path_) / relative);
}

std::string DeviceRoot::readFile(const std::string& relative) const {
  std::ifstream in(std::filesystem::path(path_) / relative, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

// ---- HostProcess ----

HostProcess::~HostProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  if (outputReader_.joinable()) outputReader_.join();
  if (errorReader_.joinable()) errorReader_.join();
}

bool HostProcess::start(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                        const std::string& workingDirectory) {
  int outputPipe[2];
  int errorPipe[2];
  if (pipe2(outputPipe, O_CLOEXEC) != 0) return false;
  if (pipe2(errorPipe, O_CLOEXEC) != 0) return false;

  std::vector<std::string> environmentCopy;
  for (char** entry = environ; *entry != nullptr; ++entry) environmentCopy.push_back(*entry);
  for (const std::string& entry : environment) environmentCopy.push_back(entry);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& entry : environmentCopy) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);

  pid_ = fork();
  if (pid_ < 0) return false;
  if (pid_ == 0) {
    dup2(outputPipe[1], 1);
    dup2(errorPipe[1], 2);
    if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  ::close(outputPipe[1]);
  ::close(errorPipe[1]);
  outputReader_ = std::thread(&HostProcess::collect, this, outputPipe[0], &output_);
  errorReader_ = std::thread(&HostProcess::collect, this, errorPipe[0], &errors_);
  return true;
}

void HostProcess::collect(int fd, std::string* sink) {
  char buffer[4096];
  for (;;) {
    ssize_t got = ::read(fd, buffer, sizeof(buffer));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    std::lock_guard<std::mutex> guard(lock_);
    sink->append(buffer, static_cast<size_t>(got));
    changed_.notify_all();
  }
  ::close(fd);
}

int HostProcess::waitForListening(int timeoutMs) {
  const std::string marker = "listening on http://127.0.0.1:";
  std::unique_lock<std::mutex> guard(lock_);
  bool seen = changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this, &marker] {
    size_t at = output_.find(marker);
    return at != std::string::npos && output_.find('\n', at) != std::string::npos;
  });
  if (!seen) return 0;
  return std::atoi(output_.c_str() + output_.find(marker) + marker.size());
}

bool HostProcess::waitForOutput(const std::string& text, int timeoutMs) {
  std::unique_lock<std::mutex> guard(lock_);
  return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this, &text] { return output_.find(text) != std::string::npos; });
}

int HostProcess::stop(int signal, int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  return waitForExit(timeoutMs);
}

int HostProcess::waitForExit(int timeoutMs) {
  if (pid_ <= 0) return -1;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (millisecondsLeft(deadline) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
  if (outputReader_.joinable()) outputReader_.join();
  if (errorReader_.joinable()) errorReader_.join();
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string HostProcess::output() {
  std::lock_guard<std::mutex> guard(lock_);
  return output_;
}

std::string HostProcess::errors() {
  std::lock_guard<std::mutex> guard(lock_);
  return errors_;
}

// ---- HttpResponse ----

std::string HttpResponse::header(const std::string& name) const {
  for (const auto& entry : headers) {
    if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) return entry.second;
  }
  return "";
}

bool HttpResponse::hasHeader(const std::string& name) const {
  for (const auto& entry : headers) {
    if (strcasecmp(entry.first.c_str(), name.c_str()) == 0) return true;
  }
  return false;
}

// ---- HttpConnection ----

HttpConnection::~HttpConnection() { close(); }

bool HttpConnection::open(int port) {
  close();
  fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return false;
  timeval timeout{20, 0};
  setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
  setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof(timeout));
  sockaddr_in address;
  std::memset(&address, 0, sizeof(address));
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    close();
    return false;
  }
  eof_ = false;
  buffer_.clear();
  return true;
}

void HttpConnection::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool HttpConnection::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t written = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    sent += static_cast<size_t>(written);
  }
  return true;
}

bool HttpConnection::fill(int timeoutMs) {
  if (fd_ < 0 || eof_) return false;
  pollfd waiting{fd_, POLLIN, 0};
  int ready = poll(&waiting, 1, timeoutMs);
  if (ready <= 0) return false;
  char chunk[65536];
  ssize_t got = ::recv(fd_, chunk, sizeof(chunk), 0);
  if (got <= 0) {
    eof_ = true;
    return false;
  }
  buffer_.append(chunk, static_cast<size_t>(got));
  return true;
}

bool HttpConnection::read(HttpResponse* response, bool noBody) {
  *response = HttpResponse();
  auto deadline = Clock::now() + std::chrono::seconds(30);
  for (;;) {
    size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos) {
      if (!fill(millisecondsLeft(deadline))) return false;
    }
    std::string head = buffer_.substr(0, end + 4);
    buffer_.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    response->statusLine = head.substr(0, lineEnd);
    response->status = response->statusLine.size() >= 12 ? std::atoi(response->statusLine.c_str() + 9) : 0;
    if (response->status >= 100 && response->status < 200) {
      ++interimAnswers;
      continue;
    }
    response->raw = head;
    size_t at = lineEnd + 2;
    while (at < end) {
      size_t next = head.find("\r\n", at);
      std::string line = head.substr(at, next - at);
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        size_t valueStart = line.find_first_not_of(' ', colon + 1);
        response->headers.emplace_back(line.substr(0, colon),
                                       valueStart == std::string::npos ? "" : line.substr(valueStart));
      }
      at = next + 2;
    }
    break;
  }
  if (noBody || response->status == 204 || response->status == 304) return true;
  if (response->hasHeader("Content-Length")) {
    size_t length = std::strtoull(response->header("Content-Length").c_str(), nullptr, 10);
    while (buffer_.size() < length) {
      if (!fill(millisecondsLeft(deadline))) return false;
    }
    response->body = buffer_.substr(0, length);
    buffer_.erase(0, length);
  } else {
    while (fill(millisecondsLeft(deadline))) {
    }
    if (!eof_) return false;  // timed out before the close that ends the body
    response->body = buffer_;
    buffer_.clear();
  }
  response->raw += response->body;
  return true;
}

bool HttpConnection::closedByServer(int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!eof_) {
    if (!fill(millisecondsLeft(deadline)) && !eof_) return false;
  }
  return true;
}

bool HttpConnection::waitFor(const std::string& text, int timeoutMs) {
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (buffer_.find(text) == std::string::npos) {
    if (!fill(millisecondsLeft(deadline))) return false;
  }
  return true;
}

bool HttpConnection::exchange(const std::string& request, HttpResponse* response, bool noBody) {
  return send(request) && read(response, noBody);
}

// ---- helpers ----

std::string request(const std::string& method, const std::string& target, const std::string& extraHeaders,
                    const std::string& body) {
  return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n" + body;
}

std::string fnvHex(const std::string& bytes) {
  uint32_t fnv = 2166136261u;
  for (unsigned char c : bytes) fnv = (fnv ^ c) * 16777619u;
  char text[16];
  std::snprintf(text, sizeof(text), "%08x", fnv);
  return text;
}

std::string field(const std::string& body, const std::string& name) {
  std::string key = name + "=";
  size_t at = body.rfind("\n" + key);
  if (at != std::string::npos) {
    at += 1;
  } else if (body.compare(0, key.size(), key) == 0) {
    at = 0;
  } else {
    return "(absent)";
  }
  size_t end = body.find('\n', at);
  return body.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
}

}  // namespace hosttest
