// quenta-httpd end to end: the program runs as a child process on a free
// 127.0.0.1 port with the test module and a temporary device root.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "host/StaticFiles.h"
#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::field;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;
using hosttest::request;

namespace {

const int kTimeoutMs = 15000;
const char kPage[] = "<html><body>static page</body></html>\n";
// Larger than the socket buffers, so a client that does not read stalls it.
const size_t kBigFileSize = 8 * 1024 * 1024 + 7;
const char kCgiScript[] = "#!/bin/sh\necho Content-Type: text/plain\necho\necho ran\n";
const std::string kStatusHead =
    "HTTP/1.1 404 Not Found\r\nContent-Length: 7\r\nContent-Type: text/plain\r\nX-Test-Module: yes\r\n\r\n";

std::string pattern(size_t size) {
  std::string text(size, '\0');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7919) >> 5);
  return text;
}

std::vector<std::string> hostArguments(const std::string& root, const std::vector<std::string>& extra = {},
                                       const std::string& module = TEST_EXTENSION) {
  // Few threads: quick to start, under ThreadSanitizer too.
  std::vector<std::string> arguments = {QUENTA_HTTPD, "--root", root,    "--listen", "127.0.0.1:0",
                                        "--module",   module, "--threads", "16"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

void expectFields(const std::string& body, const std::vector<std::pair<std::string, std::string>>& fields) {
  for (const auto& expected : fields) EXPECT_EQ(field(body, expected.first), expected.second) << expected.first;
}

// One server for the tests that only talk to it, a connection per test. Idle
// connections outlive any check's wait: a close seen is one the host chose.
class HostServing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new DeviceRoot();
    root_->writeFile("MMCMemory/www/wwwpub/page.html", kPage);
    root_->writeFile("MMCMemory/www/wwwpub/run.cgi", kCgiScript, true);
    root_->writeFile("MMCMemory/www/wwwpub/sub/inner.txt", "inner\n");
    root_->writeFile("MMCMemory/www/outside.txt", "outside\n");
    root_->writeFile("MMCMemory/www/wwwpub/index.html", "start\n");
    root_->writeFile("settings.db", "the settings\n");
    root_->writeFile("MMCMemory/www/wwwpub/big.bin", pattern(kBigFileSize));
    // Links inside the card: one to a file of the card, three leading out.
    std::filesystem::create_symlink("sub/inner.txt", root_->webRoot() + "/inner-link.txt");
    std::filesystem::create_symlink(root_->path() + "/settings.db", root_->webRoot() + "/settings.db");
    std::filesystem::create_symlink("../outside.txt", root_->webRoot() + "/up.txt");
    std::filesystem::create_symlink(root_->path() + "/MMCMemory/www", root_->webRoot() + "/www");
    host_ = new HostProcess();
    host_->start(hostArguments(root_->path(), {"--keep-alive-ms", "60000"}));
    port_ = host_->waitForListening(kTimeoutMs);
  }

  static void TearDownTestSuite() {
    EXPECT_EQ(host_->stop(SIGINT, kTimeoutMs), 0) << host_->errors();  // SIGINT stops it as SIGTERM does
    delete host_;
    delete root_;
  }

  void SetUp() override { ASSERT_TRUE(port_ > 0 && connection_.open(port_)) << host_->errors(); }

  HttpResponse exchange(const std::string& request, bool noBody = false) {
    HttpResponse response;
    EXPECT_TRUE(connection_.exchange(request, &response, noBody)) << request.substr(0, 80);
    return response;
  }

  HttpConnection connection_;
  static DeviceRoot* root_;
  static HostProcess* host_;
  static int port_;
};

DeviceRoot* HostServing::root_ = nullptr;
HostProcess* HostServing::host_ = nullptr;
int HostServing::port_ = 0;

TEST_F(HostServing, RoutesCardFilesToTheFileServerAndEverythingElseToTheModule) {
  const struct {
    std::string method, target, file, modulePath;
  } cases[] = {
      {"GET", "/page.html", kPage, ""},
      {"GET", "/sub/inner.txt", "inner\n", ""},
      {"GET", "/run.cgi", kCgiScript, ""},  // a file like any other, never run
      {"GET", "/missing.html?x=1", "", "/missing.html"},
      {"GET", "/sub/", "", "/sub/"},  // a folder is not a file: no listing
      {"GET", "/sub", "", "/sub"},
      {"POST", "/page.html", "", "/page.html"},  // only GET and HEAD read files
      {"GET", "/../outside.txt", "", "/outside.txt"},  // never leaves the card
      {"GET", "/%2e%2e/outside.txt", "", "/outside.txt"},
      {"GET", "/", "start\n", ""},  // a folder's start page
      {"GET", "/inner-link.txt", "inner\n", ""},
      {"GET", "/settings.db", "", "/settings.db"},  // links out of the card are not followed
      {"GET", "/up.txt", "", "/up.txt"},
      {"GET", "/www/outside.txt", "", "/www/outside.txt"},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.method + " " + item.target);
    std::string body = item.method == "POST" ? "abc" : "";
    HttpResponse response =
        exchange(request(item.method, item.target, body.empty() ? "" : "Content-Length: 3\r\n", body));
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.header("X-Test-Module"), item.file.empty() ? "yes" : "");
    if (item.file.empty()) {
      expectFields(response.body, {{"path", item.modulePath}, {"body_start", body}});
    } else {
      EXPECT_EQ(response.body, item.file);
    }
  }
  // Every request is logged on the standard output, files too.
  EXPECT_TRUE(host_->waitForOutput("GET /page.html 200 " + std::to_string(sizeof(kPage) - 1) + " ", 5000));
  // A card file put where a path went to the module is served once the
  // host looks again.
  root_->writeFile("MMCMemory/www/wwwpub/missing.html", kPage);
  std::this_thread::sleep_for(quenta::StaticFiles::kMissMemory + std::chrono::milliseconds(10));
  EXPECT_EQ(exchange(request("GET", "/missing.html")).body, kPage);
}

TEST_F(HostServing, PassesMethodQueryPathAndServerVariables) {
  HttpResponse got = exchange(request("GET", "/some%20path/x.js?a=1&b=%20c", "X-Test-Header: header value\r\n"));
  // The path decoded, the query still encoded and without its '?'. The path
  // and its terminator need 16 bytes: a 2-byte buffer is refused, untouched.
  expectFields(got.body, {{"method", "GET"}, {"path", "/some path/x.js"}, {"query", "a=1&b=%20c"},
                          {"content_type", ""}, {"total", "0"}, {"PATH_INFO", "/some path/x.js"},
                          {"QUERY_STRING", "a=1&b=%20c"}, {"REQUEST_METHOD", "GET"}, {"CONTENT_LENGTH", "0"},
                          {"REMOTE_ADDR", "127.0.0.1"}, {"SERVER_PROTOCOL", "HTTP/1.1"},
                          {"HTTP_X_TEST_HEADER", "header value"}, {"HTTP_HOST", "127.0.0.1"},
                          {"NO_SUCH_VARIABLE", "!"}, {"small_result", "0 needed=16 untouched=yes"}});
  EXPECT_EQ(field(exchange(request("GET", "/plain")).body, "query"), "");

  HttpResponse posted = exchange(
      request("POST", "/vars", "Content-Type: multipart/form-data; boundary=xyz\r\nContent-Length: 4\r\n", "abcd"));
  expectFields(posted.body, {{"CONTENT_TYPE", "multipart/form-data; boundary=xyz"}, {"CONTENT_LENGTH", "4"},
                             {"content_type", "multipart/form-data; boundary=xyz"}, {"total", "4"},
                             {"REQUEST_METHOD", "POST"}});
}

TEST_F(HostServing, KeepsTheConnectionAndSendsTheModuleAnswerByteForByte) {
  EXPECT_EQ(exchange(request("GET", "/status")).raw, kStatusHead + "missing");
  // Refused host calls, and a second header that must not reach the client.
  EXPECT_EQ(exchange(request("GET", "/checks")).raw, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nchecks=ok\n");
  EXPECT_EQ(exchange(request("HEAD", "/status"), true).raw, kStatusHead);
  // No body bytes were left on the connection: the next answer starts clean.
  EXPECT_EQ(exchange(request("GET", "/status")).raw, kStatusHead + "missing");
  for (int round = 0; round < 3; ++round) {
    std::string query = "round=" + std::to_string(round);
    EXPECT_EQ(field(exchange(request("GET", "/echo?" + query)).body, "query"), query);
    EXPECT_EQ(field(exchange(request("POST", "/echo", "Content-Length: 5\r\n", "hello")).body, "body_start"), "hello");
    EXPECT_EQ(exchange(request("GET", "/page.html")).body, kPage);
  }
  // Two requests sent at once are answered in order.
  ASSERT_TRUE(connection_.send(request("GET", "/echo?first") + request("GET", "/echo?second")));
  HttpResponse first, second;
  ASSERT_TRUE(connection_.read(&first) && connection_.read(&second));
  EXPECT_EQ(field(first.body, "query"), "first");
  EXPECT_EQ(field(second.body, "query"), "second");
}

// The module reads the body in pieces of 64 KiB (never more: it checks).
TEST_F(HostServing, StreamsMegabytesBothWaysAfter100Continue) {
  std::string body = pattern(5 * 1024 * 1024 + 123);
  ASSERT_TRUE(connection_.send(request("POST", "/mirror?piece=65536",
                                       "Expect: 100-continue\r\nContent-Length: " + std::to_string(body.size()) +
                                           "\r\n")));
  // The body is held back until the module asks for it.
  ASSERT_TRUE(connection_.waitFor("HTTP/1.1 100 Continue\r\n\r\n", 10000));
  std::string mirrored = exchange(body).body;
  EXPECT_EQ(connection_.interimAnswers, 1);
  EXPECT_TRUE(mirrored == body) << mirrored.size() << " bytes: " << mirrored.substr(0, 80);
  EXPECT_EQ(exchange(request("GET", "/status")).raw, kStatusHead + "missing");  // the connection goes on
}

// Body bytes that come with the head are read first, then the rest from the
// connection, never past the body: the request behind it is answered next.
TEST_F(HostServing, ReadsTheBodyThatCameWithTheHeadThenTheRest) {
  const struct {
    size_t size, withHead;
  } cases[] = {{300, 100}, {40000, 20000}, {40000, 0}, {40000, 40000}};
  for (const auto& item : cases) {
    SCOPED_TRACE(std::to_string(item.size) + " bytes, " + std::to_string(item.withHead) + " with the head");
    std::string body = pattern(item.size);
    std::string head = request("POST", "/mirror?piece=7000", "Content-Length: " + std::to_string(item.size) + "\r\n");
    ASSERT_TRUE(connection_.send(head + body.substr(0, item.withHead)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the rest comes later
    ASSERT_TRUE(connection_.send(body.substr(item.withHead) + request("GET", "/echo?next")));
    HttpResponse mirrored, next;
    ASSERT_TRUE(connection_.read(&mirrored) && connection_.read(&next));
    EXPECT_TRUE(mirrored.body == body) << mirrored.body.size() << " bytes";
    EXPECT_EQ(field(next.body, "query"), "next");
  }
}

// The card's files: type, validators, 304 for an unchanged one, HEAD.
TEST_F(HostServing, AnswersCardFilesWithTypeAndValidators) {
  HttpResponse page = exchange(request("GET", "/page.html"));
  EXPECT_EQ(page.header("Content-Type"), "text/html");
  EXPECT_EQ(page.header("Content-Length"), std::to_string(sizeof(kPage) - 1));
  ASSERT_NE(page.header("ETag"), "");
  const struct {
    std::string method, headers;
    int status;
    std::string body;
  } cases[] = {
      {"GET", "If-None-Match: " + page.header("ETag") + "\r\n", 304, ""},
      {"GET", "If-None-Match: \"other\"\r\n", 200, kPage},
      {"GET", "If-Modified-Since: " + page.header("Last-Modified") + "\r\n", 304, ""},
      {"HEAD", "", 200, ""},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.method + " " + item.headers);
    HttpResponse response = exchange(request(item.method, "/page.html", item.headers), item.status == 304 ||
                                                                                           item.method == "HEAD");
    EXPECT_EQ(response.status, item.status);
    EXPECT_EQ(response.body, item.body);
  }
  EXPECT_EQ(exchange(request("GET", "/sub/inner.txt")).header("Content-Type"), "text/plain");
}

// Answers nobody reads stall their own connection only, on the io thread
// (a file) and on a worker (the module's answer); read later, they are whole.
TEST_F(HostServing, ClientsThatDoNotReadTheirAnswersStallNoOne) {
  std::string body = pattern(4 * 1024 * 1024);
  HttpConnection fileReader, moduleReader;
  ASSERT_TRUE(fileReader.open(port_) && fileReader.send(request("GET", "/big.bin")));
  ASSERT_TRUE(moduleReader.open(port_) &&
              moduleReader.send(request("POST", "/mirror?piece=65536",
                                        "Content-Length: " + std::to_string(body.size()) + "\r\n", body)));
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(exchange(request("GET", "/page.html")).body, kPage);
    EXPECT_EQ(field(exchange(request("GET", "/echo?round")).body, "query"), "round");
  }
  HttpResponse file, mirrored;
  ASSERT_TRUE(fileReader.read(&file) && moduleReader.read(&mirrored));
  EXPECT_TRUE(file.body == pattern(kBigFileSize)) << file.body.size() << " bytes";
  EXPECT_TRUE(mirrored.body == body) << mirrored.body.size() << " bytes";
}

TEST_F(HostServing, ClosesTheConnectionAfterAnswersItCannotKeep) {
  const struct {
    std::string request, statusLine, body;
  } cases[] = {
      // A body without a length, which the host refuses to guess.
      {request("POST", "/echo"), "HTTP/1.1 411 Length Required", "411 Length Required"},
      {request("POST", "/echo", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n0\r\n\r\n"),
       "HTTP/1.1 411 Length Required", "411 Length Required"},
      // An answer without Content-Length ends where the connection does.
      {request("GET", "/nolength"), "HTTP/1.1 200 OK", "no length here\n"},
      // Heads the parser refuses.
      {"NOT A REQUEST\r\n\r\n", "HTTP/1.1 400 Bad Request", "400 Bad Request"},
      {request("GET", "/a%00b"), "HTTP/1.1 400 Bad Request", "400 Bad Request"},
      {request("GET", "/echo", "X-Pad: " + std::string(9000, 'a') + "\r\n"),
       "HTTP/1.1 431 Request Header Fields Too Large", "431"},
      // A module that fails without answering gets a 500 from the host.
      {request("GET", "/fail"), "HTTP/1.1 500 Internal Server Error", ""},
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.request);
    HttpConnection connection;
    HttpResponse response;
    ASSERT_TRUE(connection.open(port_) && connection.exchange(item.request, &response));
    EXPECT_EQ(response.statusLine, item.statusLine);
    EXPECT_EQ(response.body.compare(0, item.body.size(), item.body), 0) << response.body;
    EXPECT_TRUE(connection.closedByServer(5000));
  }
  // A request without a body needs no length.
  EXPECT_EQ(field(exchange(request("PUT", "/echo")).body, "method"), "PUT");
}

TEST_F(HostServing, RunsEightClientsAtOnce) {
  std::vector<std::thread> clients;
  std::vector<std::string> bodies(8);
  for (std::string& body : bodies) {
    clients.emplace_back([&body] {
      HttpConnection connection;
      HttpResponse response;
      if (connection.open(port_) && connection.exchange(request("GET", "/rendezvous?n=8"), &response)) {
        body = response.body;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  for (const std::string& body : bodies) EXPECT_EQ(body, "together\n");
}

// Clients that send too slowly are cut off, and the server goes on serving.
TEST(HostLimits, CutsOffSilentSlowAndShortClients) {
  DeviceRoot root;
  HostProcess host;
  ASSERT_TRUE(host.start(hostArguments(
      root.path(), {"--request-timeout-ms", "300", "--body-min-rate", "100000", "--keep-alive-ms", "300"})));
  int port = host.waitForListening(kTimeoutMs);
  ASSERT_GT(port, 0) << host.errors();
  const std::string post = "POST /echo HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100000\r\n\r\n";
  const struct {
    std::string name, sent;
  } cases[] = {
      {"silent", ""},
      {"head never finished", "GET /echo HTTP/1.1\r\nHost: 127.0.0.1\r\n"},
      {"body short of its length", post + "abc"},
      {"body the module leaves unread", "POST /status HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 50\r\n\r\nab"},
  };
  std::vector<HttpConnection> connections(sizeof(cases) / sizeof(cases[0]));
  for (size_t i = 0; i < connections.size(); ++i) {
    ASSERT_TRUE(connections[i].open(port) && connections[i].send(cases[i].sent)) << cases[i].name;
  }
  // A head and a body that keep coming, but too slowly.
  const struct {
    std::string name, start;
  } trickles[] = {{"head", "GET /echo HTTP/1.1\r\nX-Pad: "}, {"body", post}};
  for (const auto& item : trickles) {
    HttpConnection trickle;
    ASSERT_TRUE(trickle.open(port) && trickle.send(item.start));
    bool trickleCut = false;
    for (int i = 0; i < 100 && !trickleCut; ++i) trickleCut = !trickle.send("x") || trickle.closedByServer(50);
    EXPECT_TRUE(trickleCut) << item.name;
  }
  for (size_t i = 0; i < connections.size(); ++i) EXPECT_TRUE(connections[i].closedByServer(5000)) << cases[i].name;
  HttpConnection normal;
  HttpResponse response;
  ASSERT_TRUE(normal.open(port) && normal.exchange(request("GET", "/echo"), &response));
  EXPECT_EQ(response.status, 200);
  // Kept after the module's answer, then idle past the keep-alive time.
  EXPECT_TRUE(normal.closedByServer(5000));
}

// A relative root, an access-log file, a second host on the same port, and a
// request still running when SIGTERM comes.
TEST(HostLifecycle, LoadsTheModuleUnderItsRootAndStopsGracefullyOnSigterm) {
  DeviceRoot root;
  HostProcess host;
  size_t slash = root.path().rfind('/');
  ASSERT_TRUE(host.start(hostArguments(root.path().substr(slash + 1), {"--access-log", root.path() + "/access.log"}),
                         root.path().substr(0, slash)));
  int port = host.waitForListening(kTimeoutMs);
  ASSERT_GT(port, 0) << host.errors();
  EXPECT_NE(host.output().find(": Quenta host test extension (version 42)\n"), std::string::npos) << host.output();

  DeviceRoot otherRoot;
  HostProcess second;
  ASSERT_TRUE(second.start({QUENTA_HTTPD, "--root", otherRoot.path(), "--listen", "127.0.0.1:" + std::to_string(port),
                            "--module", TEST_EXTENSION}));
  EXPECT_EQ(second.waitForExit(10000), 1);
  EXPECT_NE(second.errors().find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos);

  HttpConnection connection;
  HttpResponse response;
  ASSERT_TRUE(connection.open(port) && connection.exchange(request("GET", "/log?k=v"), &response));
  ASSERT_TRUE(connection.exchange(request("GET", "/env"), &response));
  EXPECT_EQ(field(response.body, "root_at_load"), root.path());  // made absolute before the load
  EXPECT_EQ(root.readFile("terminated"), "");

  ASSERT_TRUE(connection.send(request("GET", "/slow?ms=3000")));
  ASSERT_TRUE(hosttest::waitUntil(5000, [&] { return std::filesystem::exists(root.path() + "/slow-started"); }));
  std::atomic<int> exitCode{-2};
  std::thread stopper([&] { exitCode = host.stop(SIGTERM, kTimeoutMs); });
  // While the running request finishes, a new one is turned away.
  HttpConnection late;
  HttpResponse refused;
  EXPECT_TRUE(host.waitForOutput("SIGTERM received", 2500) && late.open(port) &&
              late.exchange(request("GET", "/echo"), &refused));
  EXPECT_TRUE(connection.read(&response));
  stopper.join();
  EXPECT_EQ(refused.status, 503);
  EXPECT_EQ(response.body, "slow done\n");
  EXPECT_EQ(exitCode.load(), 0);
  EXPECT_EQ(root.readFile("terminated"), "flags=2\n");  // HSE_TERM_MUST_UNLOAD

  // The module's log text follows each line; nothing goes to the output.
  std::string log = root.readFile("access.log");
  size_t at = log.find(" 127.0.0.1 GET /log?k=v 200 7 ");
  ASSERT_NE(at, std::string::npos) << log;
  EXPECT_NE(log.find("ms appended-by-test logdata-field\n", at), std::string::npos) << log;
  EXPECT_EQ(host.output().find("GET /log"), std::string::npos);
}

// Bad command lines exit 2 with the usage; a module that cannot start, 1.
TEST(HostCommandLine, RefusesBadOptionsWith2AndModulesThatCannotStartWith1) {
  DeviceRoot root;
  const std::string r = root.path();
  const std::vector<std::vector<std::string>> badLines = {
      {}, {"--root"}, {"--root", r, "--bogus"}, {"--root", r + "/no-such-folder"}, {"--listen", "127.0.0.1:0"},
      {"--root", r, "--listen", "127.0.0.1"}, {"--root", r, "--listen", "127.0.0.1:99999"},
      {"--root", r, "--listen", "localhost:80"}, {"--root", r, "--listen", "127.0.0.1:8443s"},
      {"--root", r, "--threads", "0"}, {"--root", r, "--threads", "many"}, {"--root", r, "--keep-alive-ms", "-1"},
      {"--root", r, "--request-timeout-ms", "99"}, {"--root", r, "--debug-log", ""}};
  for (auto line : badLines) {
    SCOPED_TRACE(::testing::PrintToString(line));
    line.insert(line.begin(), QUENTA_HTTPD);
    HostProcess host;
    ASSERT_TRUE(host.start(line));
    EXPECT_EQ(host.waitForExit(10000), 2);
    EXPECT_NE(host.errors().find("Usage: quenta-httpd"), std::string::npos);
  }
  const struct {
    std::string module, message;
  } cases[] = {
      {r + "/no-such-module.so", "cannot load module"},
      {INCOMPLETE_EXTENSION, "does not export TerminateExtension"},
      {TEST_EXTENSION, "GetExtensionVersion returned FALSE"},  // QUENTA_TEST_REFUSE set
  };
  for (const auto& item : cases) {
    SCOPED_TRACE(item.message);
    if (item.module == TEST_EXTENSION) setenv("QUENTA_TEST_REFUSE", "1", 1);
    HostProcess host;
    ASSERT_TRUE(host.start(hostArguments(r, {}, item.module)));
    unsetenv("QUENTA_TEST_REFUSE");
    EXPECT_EQ(host.waitForExit(10000), 1);
    EXPECT_NE(host.errors().find(item.message), std::string::npos) << host.errors();
    EXPECT_EQ(host.output().find("listening"), std::string::npos);
  }
  EXPECT_EQ(root.readFile("terminated"), "");
}

}  // namespace
