// quenta-httpd end to end: the program runs as a child process on a free
// 127.0.0.1 port with the test module and a temporary device root, and every
// check goes through a real socket.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::field;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;
using hosttest::request;

namespace {

const int kStartTimeoutMs = 15000;
const int kStopTimeoutMs = 15000;

const char kPage[] = "<html><body>static page</body></html>\n";
const char kCgiScript[] = "#!/bin/sh\necho Content-Type: text/plain\necho\necho ran\n";

std::vector<std::string> hostArguments(const DeviceRoot& root, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = {QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:0",
                                        "--module", TEST_EXTENSION};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

void layOutCard(const DeviceRoot& root) {
  root.writeFile("MMCMemory/www/wwwpub/page.html", kPage);
  root.writeFile("MMCMemory/www/wwwpub/run.cgi", kCgiScript, true);
  root.writeFile("MMCMemory/www/wwwpub/sub/inner.txt", "inner\n");
}

// One server shared by the tests that only talk to it.
class HostServing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new DeviceRoot();
    layOutCard(*root_);
    host_ = new HostProcess();
    // Idle connections stay open far longer than any check below waits, so a
    // close seen by a test is one the host chose.
    ASSERT_TRUE(host_->start(hostArguments(*root_, {"--threads", "16", "--keep-alive-ms", "60000"})));
    port_ = host_->waitForListening(kStartTimeoutMs);
    ASSERT_GT(port_, 0) << host_->errors();
  }

  static void TearDownTestSuite() {
    if (host_ != nullptr) {
      EXPECT_EQ(host_->stop(SIGTERM, kStopTimeoutMs), 0) << host_->errors();
    }
    delete host_;
    delete root_;
    host_ = nullptr;
    root_ = nullptr;
  }

  void SetUp() override { ASSERT_GT(port_, 0) << "the server did not start"; }

  HttpResponse get(const std::string& target, const std::string& extraHeaders = "") {
    HttpConnection connection;
    HttpResponse response;
    EXPECT_TRUE(connection.open(port_));
    EXPECT_TRUE(connection.exchange(request("GET", target, extraHeaders), &response)) << target;
    return response;
  }

  static DeviceRoot* root_;
  static HostProcess* host_;
  static int port_;
};

DeviceRoot* HostServing::root_ = nullptr;
HostProcess* HostServing::host_ = nullptr;
int HostServing::port_ = 0;

TEST_F(HostServing, RoutesExistingCardFilesToCivetWebAndEverythingElseToTheModule) {
  HttpResponse page = get("/page.html");
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.body, kPage);
  EXPECT_FALSE(page.hasHeader("X-Test-Module"));

  HttpResponse missing = get("/missing.html?x=1");
  EXPECT_EQ(missing.header("X-Test-Module"), "yes");
  EXPECT_EQ(field(missing.body, "path"), "/missing.html");

  // A folder is not a file: no listing, the module answers.
  EXPECT_EQ(field(get("/sub/").body, "path"), "/sub/");
  EXPECT_EQ(field(get("/sub").body, "path"), "/sub");
  EXPECT_EQ(get("/sub/inner.txt").body, "inner\n");

  // Scripts on the card are files like any other, never run.
  EXPECT_EQ(get("/run.cgi").body, kCgiScript);

  // Only GET and HEAD read files: a POST to a file's path goes to the module.
  HttpConnection connection;
  HttpResponse posted;
  ASSERT_TRUE(connection.open(port_));
  ASSERT_TRUE(connection.exchange(request("POST", "/page.html", "Content-Length: 3\r\n", "abc"), &posted));
  EXPECT_EQ(field(posted.body, "method"), "POST");
  EXPECT_EQ(field(posted.body, "body_start"), "abc");

  // A path that leaves the card through ".." does not reach the file outside.
  root_->writeFile("MMCMemory/www/outside.txt", "outside\n");
  HttpConnection escape;
  HttpResponse escaped;
  ASSERT_TRUE(escape.open(port_));
  ASSERT_TRUE(escape.exchange(request("GET", "/../outside.txt"), &escaped));
  EXPECT_NE(escaped.body, "outside\n");
}

TEST_F(HostServing, PassesMethodQueryPathAndServerVariables) {
  HttpResponse echoed = get("/some%20path/x.js?a=1&b=%20c");
  EXPECT_EQ(field(echoed.body, "method"), "GET");
  EXPECT_EQ(field(echoed.body, "path"), "/some path/x.js");  // decoded
  EXPECT_EQ(field(echoed.body, "query"), "a=1&b=%20c");     // still encoded, no '?'
  EXPECT_EQ(field(echoed.body, "content_type"), "");
  EXPECT_EQ(field(echoed.body, "total"), "0");

  EXPECT_EQ(field(get("/plain").body, "query"), "");

  HttpResponse variables = get("/vars?q=7", "X-Test-Header: header value\r\n");
  EXPECT_EQ(field(variables.body, "PATH_INFO"), "/vars");
  EXPECT_EQ(field(variables.body, "QUERY_STRING"), "q=7");
  EXPECT_EQ(field(variables.body, "REQUEST_METHOD"), "GET");
  EXPECT_EQ(field(variables.body, "CONTENT_LENGTH"), "0");
  EXPECT_EQ(field(variables.body, "REMOTE_ADDR"), "127.0.0.1");
  EXPECT_EQ(field(variables.body, "SERVER_PROTOCOL"), "HTTP/1.1");
  EXPECT_EQ(field(variables.body, "HTTP_X_TEST_HEADER"), "header value");
  EXPECT_EQ(field(variables.body, "HTTP_HOST"), "127.0.0.1");
  EXPECT_EQ(field(variables.body, "NO_SUCH_VARIABLE"), "!");
  // "/vars" and its terminator need 6 bytes; a 2-byte buffer is left alone.
  EXPECT_EQ(field(variables.body, "small_result"), "0 needed=6 untouched=yes");

  HttpConnection connection;
  HttpResponse posted;
  ASSERT_TRUE(connection.open(port_));
  ASSERT_TRUE(connection.exchange(
      request("POST", "/vars", "Content-Type: multipart/form-data; boundary=xyz\r\nContent-Length: 4\r\n", "abcd"),
      &posted));
  EXPECT_EQ(field(posted.body, "CONTENT_TYPE"), "multipart/form-data; boundary=xyz");
  EXPECT_EQ(field(posted.body, "CONTENT_LENGTH"), "4");
  EXPECT_EQ(field(posted.body, "REQUEST_METHOD"), "POST");
}

TEST_F(HostServing, SendsTheModuleAnswerByteForByte) {
  HttpResponse status = get("/status");
  EXPECT_EQ(status.raw,
            "HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\nContent-Type: text/plain\r\nX-Test-Module: yes\r\n\r\n"
            "missing");

  // Refused host calls, and a second header that must not reach the client.
  HttpResponse checks = get("/checks");
  EXPECT_EQ(checks.raw, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nchecks=ok\n");
}

TEST_F(HostServing, AnswersHeadWithoutBody) {
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  HttpResponse page;
  ASSERT_TRUE(connection.exchange(request("HEAD", "/page.html"), &page, true));
  EXPECT_EQ(page.status, 200);
  EXPECT_EQ(page.header("Content-Length"), std::to_string(sizeof(kPage) - 1));

  HttpResponse module;
  ASSERT_TRUE(connection.exchange(request("HEAD", "/status"), &module, true));
  EXPECT_EQ(module.raw, "HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\nContent-Type: text/plain\r\nX-Test-Module: yes\r\n\r\n");

  // No body bytes were left on the connection: the next answer starts clean.
  HttpResponse after;
  ASSERT_TRUE(connection.exchange(request("GET", "/status"), &after));
  EXPECT_EQ(after.raw, module.raw + "missing");
}

TEST_F(HostServing, StreamsALargeUploadThroughReadClientInPieces) {
  std::string body(5 * 1024 * 1024 + 123, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>((i * 7919) >> 5);

  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  HttpResponse response;
  ASSERT_TRUE(connection.exchange(
      request("POST", "/echo?piece=65536",
              "Content-Type: application/octet-stream\r\nContent-Length: " + std::to_string(body.size()) + "\r\n",
              body),
      &response));
  EXPECT_EQ(field(response.body, "total"), std::to_string(body.size()));
  EXPECT_EQ(field(response.body, "body_bytes"), std::to_string(body.size()));
  EXPECT_EQ(field(response.body, "body_fnv"), hosttest::fnvHex(body));
  // Never more than the module asked for in one call.
  EXPECT_GE(std::stoul(field(response.body, "reads")), body.size() / 65536);
}

TEST_F(HostServing, SendsContinueBeforeReadingAnExpectingBody) {
  std::string body(300000, 'q');
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  ASSERT_TRUE(connection.send(request(
      "POST", "/echo", "Expect: 100-continue\r\nContent-Length: " + std::to_string(body.size()) + "\r\n")));
  // The body is held back until the server asks for it.
  ASSERT_TRUE(connection.waitFor("HTTP/1.1 100 Continue\r\n\r\n", 10000));
  ASSERT_TRUE(connection.send(body));
  HttpResponse response;
  ASSERT_TRUE(connection.read(&response));
  EXPECT_EQ(connection.interimAnswers, 1);
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(field(response.body, "body_bytes"), "300000");
  EXPECT_EQ(field(response.body, "body_fnv"), hosttest::fnvHex(body));

  // The same connection carries the next request.
  HttpResponse next;
  ASSERT_TRUE(connection.exchange(request("GET", "/status"), &next));
  EXPECT_EQ(next.body, "missing");
}

TEST_F(HostServing, StreamsALargeAnswer) {
  const size_t size = 24 * 1024 * 1024 + 5;
  HttpResponse response = get("/big?n=" + std::to_string(size));
  ASSERT_EQ(response.body.size(), size);
  size_t wrong = 0;
  for (size_t i = 0; i < size; ++i) {
    if (response.body[i] != static_cast<char>('a' + i % 26)) ++wrong;
  }
  EXPECT_EQ(wrong, 0u);
}

TEST_F(HostServing, RefusesBodiesWithoutLength) {
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  HttpResponse response;
  ASSERT_TRUE(connection.exchange(request("POST", "/echo"), &response));
  EXPECT_EQ(response.statusLine, "HTTP/1.1 411 Length Required");
  EXPECT_TRUE(connection.closedByServer(5000));

  HttpConnection chunked;
  ASSERT_TRUE(chunked.open(port_));
  ASSERT_TRUE(chunked.exchange(request("POST", "/echo", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n"),
                               &response));
  EXPECT_EQ(response.status, 411);
  EXPECT_TRUE(chunked.closedByServer(5000));

  // A request without a body needs no length.
  HttpConnection put;
  ASSERT_TRUE(put.open(port_));
  ASSERT_TRUE(put.exchange(request("PUT", "/echo"), &response));
  EXPECT_EQ(field(response.body, "method"), "PUT");
}

TEST_F(HostServing, KeepsTheConnectionAcrossRequests) {
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  for (int round = 0; round < 3; ++round) {
    HttpResponse response;
    ASSERT_TRUE(connection.exchange(request("GET", "/echo?round=" + std::to_string(round)), &response));
    EXPECT_EQ(field(response.body, "query"), "round=" + std::to_string(round));
    ASSERT_TRUE(connection.exchange(request("POST", "/echo", "Content-Length: 5\r\n", "hello"), &response));
    EXPECT_EQ(field(response.body, "body_start"), "hello");
    ASSERT_TRUE(connection.exchange(request("GET", "/page.html"), &response));
    EXPECT_EQ(response.body, kPage);
  }
  // Two requests sent at once are answered in order.
  ASSERT_TRUE(connection.send(request("GET", "/echo?first") + request("GET", "/echo?second")));
  HttpResponse first;
  HttpResponse second;
  ASSERT_TRUE(connection.read(&first));
  ASSERT_TRUE(connection.read(&second));
  EXPECT_EQ(field(first.body, "query"), "first");
  EXPECT_EQ(field(second.body, "query"), "second");
}

TEST_F(HostServing, ClosesTheConnectionAfterAnAnswerItCannotDelimit) {
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  HttpResponse response;
  // No Content-Length: the body ends where the connection does.
  ASSERT_TRUE(connection.send(request("GET", "/nolength")));
  ASSERT_TRUE(connection.waitFor("no length here\n", 5000));
  EXPECT_TRUE(connection.closedByServer(5000));
  ASSERT_TRUE(connection.read(&response));
  EXPECT_EQ(response.raw, "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nno length here\n");

  // A module that fails without answering gets a 500 from the host, and the
  // connection is closed after it.
  HttpConnection failing;
  ASSERT_TRUE(failing.open(port_));
  ASSERT_TRUE(failing.exchange(request("GET", "/fail"), &response));
  EXPECT_EQ(response.status, 500);
  EXPECT_TRUE(failing.closedByServer(5000));
}

TEST_F(HostServing, RunsEightClientsAtOnce) {
  const int kClients = 8;
  std::vector<std::thread> clients;
  std::vector<std::string> bodies(kClients);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([this, i, &bodies] {
      HttpConnection connection;
      HttpResponse response;
      if (connection.open(port_) && connection.exchange(request("GET", "/rendezvous?n=8"), &response)) {
        bodies[i] = response.body;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (int i = 0; i < kClients; ++i) EXPECT_EQ(bodies[i], "together\n") << "client " << i;
}

TEST_F(HostServing, LogsEveryRequestWithTheModuleText) {
  EXPECT_EQ(get("/log?k=v").body, "logged\n");
  ASSERT_TRUE(host_->waitForOutput("appended-by-test", 5000));
  std::string output = host_->output();
  size_t at = output.find("GET /log?k=v 200 7 ");
  ASSERT_NE(at, std::string::npos) << output;
  std::string line = output.substr(at, output.find('\n', at) - at);
  EXPECT_NE(line.find("ms appended-by-test logdata-field"), std::string::npos) << line;

  get("/page.html");
  EXPECT_TRUE(host_->waitForOutput("GET /page.html 200 " + std::to_string(sizeof(kPage) - 1) + " ", 5000));
}

// ---- start and stop ----

TEST(HostLifecycle, LoadsTheModuleWithTheRootSetAndTerminatesItOnSigterm) {
  DeviceRoot root;
  HostProcess host;
  // A relative --root reaches the module as an absolute QUENTA_ROOT.
  std::string parent = root.path().substr(0, root.path().rfind('/'));
  std::string name = root.path().substr(root.path().rfind('/') + 1);
  std::vector<std::string> arguments = {QUENTA_HTTPD, "--root", name, "--listen", "127.0.0.1:0",
                                        "--module", TEST_EXTENSION};
  ASSERT_TRUE(host.start(arguments, {}, parent));
  int port = host.waitForListening(kStartTimeoutMs);
  ASSERT_GT(port, 0) << host.errors();
  EXPECT_NE(host.output().find(": Quenta host test extension (version 42)\n"), std::string::npos) << host.output();

  HttpConnection connection;
  HttpResponse response;
  ASSERT_TRUE(connection.open(port));
  ASSERT_TRUE(connection.exchange(request("GET", "/env"), &response));
  EXPECT_EQ(response.body, "root_at_load=" + root.path() + "\n");
  EXPECT_FALSE(root.exists("terminated"));

  EXPECT_EQ(host.stop(SIGTERM, kStopTimeoutMs), 0);
  EXPECT_EQ(root.readFile("terminated"), "flags=2\n");  // HSE_TERM_MUST_UNLOAD
}

TEST(HostLifecycle, LetsARunningRequestFinishOnSigint) {
  DeviceRoot root;
  HostProcess host;
  ASSERT_TRUE(host.start(hostArguments(root)));
  int port = host.waitForListening(kStartTimeoutMs);
  ASSERT_GT(port, 0) << host.errors();

  HttpConnection connection;
  ASSERT_TRUE(connection.open(port));
  ASSERT_TRUE(connection.send(request("GET", "/slow?ms=3000")));
  for (int i = 0; i < 500 && !root.exists("slow-started"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(root.exists("slow-started"));

  std::atomic<int> exitCode{-2};
  std::thread stopper([&host, &exitCode] { exitCode = host.stop(SIGINT, kStopTimeoutMs); });
  // While the running request finishes, a new one is turned away.
  HttpResponse refused;
  bool refusedRead = false;
  if (host.waitForOutput("SIGINT received", 2500)) {
    HttpConnection late;
    refusedRead = late.open(port) && late.exchange(request("GET", "/echo"), &refused);
  }
  HttpResponse response;
  bool answered = connection.read(&response);
  stopper.join();
  EXPECT_TRUE(refusedRead);
  EXPECT_EQ(refused.status, 503);
  EXPECT_TRUE(answered);
  EXPECT_EQ(response.body, "slow done\n");
  EXPECT_EQ(exitCode.load(), 0);
  EXPECT_EQ(root.readFile("terminated"), "flags=2\n");
}

TEST(HostLifecycle, WritesTheAccessLogToAFile) {
  DeviceRoot root;
  std::string logFile = root.path() + "/access.log";
  HostProcess host;
  ASSERT_TRUE(host.start(hostArguments(root, {"--access-log", logFile})));
  int port = host.waitForListening(kStartTimeoutMs);
  ASSERT_GT(port, 0) << host.errors();
  HttpConnection connection;
  HttpResponse response;
  ASSERT_TRUE(connection.open(port));
  ASSERT_TRUE(connection.exchange(request("GET", "/log"), &response));
  connection.close();
  EXPECT_EQ(host.stop(SIGTERM, kStopTimeoutMs), 0);
  std::string log = root.readFile("access.log");
  EXPECT_NE(log.find(" 127.0.0.1 GET /log 200 7 "), std::string::npos) << log;
  EXPECT_EQ(host.output().find("GET /log"), std::string::npos);
}

TEST(HostCommandLine, ExplainsEveryOptionOnHelp) {
  HostProcess host;
  ASSERT_TRUE(host.start({QUENTA_HTTPD, "--help"}));
  EXPECT_EQ(host.waitForExit(10000), 0);
  for (const char* option :
       {"--root", "--listen", "--module", "--threads", "--access-log", "--keep-alive-ms", "--help"}) {
    EXPECT_NE(host.output().find(option), std::string::npos) << option;
  }
}

TEST(HostCommandLine, RefusesBadOptionsWithUsageAndStatus2) {
  DeviceRoot root;
  const std::vector<std::vector<std::string>> badLines = {
      {},
      {"--root"},
      {"--root", root.path(), "--bogus"},
      {"--root", root.path() + "/no-such-folder"},
      {"--root", root.path(), "--listen", "127.0.0.1"},
      {"--root", root.path(), "--listen", "127.0.0.1:99999"},
      {"--root", root.path(), "--listen", "localhost:80"},
      {"--root", root.path(), "--listen", "127.0.0.1:8443s"},
      {"--root", root.path(), "--threads", "0"},
      {"--root", root.path(), "--threads", "many"},
      {"--root", root.path(), "--keep-alive-ms", "-1"},
      {"--listen", "127.0.0.1:0"},
  };
  for (const auto& line : badLines) {
    std::vector<std::string> arguments = {QUENTA_HTTPD};
    arguments.insert(arguments.end(), line.begin(), line.end());
    HostProcess host;
    ASSERT_TRUE(host.start(arguments));
    EXPECT_EQ(host.waitForExit(10000), 2) << ::testing::PrintToString(line);
    EXPECT_NE(host.errors().find("Usage: quenta-httpd"), std::string::npos) << ::testing::PrintToString(line);
  }
}

TEST(HostCommandLine, FailsWithStatus1WhenTheModuleCannotStart) {
  DeviceRoot root;
  struct Case {
    std::string module;
    std::vector<std::string> environment;
    std::string message;
  };
  const std::vector<Case> cases = {
      {root.path() + "/no-such-module.so", {}, "cannot load module"},
      {INCOMPLETE_EXTENSION, {}, "does not export TerminateExtension"},
      {TEST_EXTENSION, {"QUENTA_TEST_REFUSE=1"}, "GetExtensionVersion returned FALSE"},
  };
  for (const Case& item : cases) {
    HostProcess host;
    ASSERT_TRUE(host.start({QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:0", "--module", item.module},
                           item.environment));
    EXPECT_EQ(host.waitForExit(10000), 1) << item.module;
    EXPECT_NE(host.errors().find(item.message), std::string::npos) << host.errors();
    EXPECT_EQ(host.output().find("listening"), std::string::npos);
  }
  EXPECT_FALSE(root.exists("terminated"));
}

TEST(HostCommandLine, FailsWithStatus1WhenThePortIsTaken) {
  DeviceRoot root;
  HostProcess first;
  ASSERT_TRUE(first.start(hostArguments(root)));
  int port = first.waitForListening(kStartTimeoutMs);
  ASSERT_GT(port, 0);

  HostProcess second;
  ASSERT_TRUE(second.start({QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:" + std::to_string(port),
                            "--module", TEST_EXTENSION}));
  EXPECT_EQ(second.waitForExit(10000), 1);
  EXPECT_NE(second.errors().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos)
      << second.errors();
  EXPECT_EQ(first.stop(SIGTERM, kStopTimeoutMs), 0);
}

}  // namespace
