// quenta-httpd with the real module (libwebquenta.so) over a device root whose
// card holds the pages of card/: the answers that leave the machine, byte for
// byte.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;
using hosttest::request;

namespace {

const char kCacheControl[] = "Cache-Control: max-age=0, no-cache, no-store, must-revalidate\r\n";

std::string readCardPage(const std::string& name) {
  std::ifstream in(std::string(CARD_DIR) + "/" + name, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

std::string htmlAnswer(const std::string& page) {
  return std::string("HTTP/1.1 200 OK\r\n") + kCacheControl + "Content-Length: " + std::to_string(page.size()) +
         "\r\nContent-Type: text/html\r\n\r\n" + page;
}

class WebQuentaServing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new DeviceRoot();
    std::filesystem::copy(CARD_DIR, root_->wwwpub(), std::filesystem::copy_options::recursive);
    host_ = new HostProcess();
    ASSERT_TRUE(host_->start({QUENTA_HTTPD, "--root", root_->path(), "--listen", "127.0.0.1:0", "--module",
                              WEBQUENTA_MODULE}));
    port_ = host_->waitForListening(20000);
    ASSERT_GT(port_, 0) << host_->errors();
  }

  static void TearDownTestSuite() {
    if (host_ != nullptr) {
      EXPECT_EQ(host_->stop(SIGTERM, 20000), 0) << host_->errors();
    }
    delete host_;
    delete root_;
    host_ = nullptr;
    root_ = nullptr;
  }

  void SetUp() override {
    ASSERT_GT(port_, 0) << "the server did not start";
    ASSERT_TRUE(connection_.open(port_));
  }

  HttpResponse exchange(const std::string& method, const std::string& target, const std::string& extra = "") {
    HttpResponse response;
    EXPECT_TRUE(connection_.exchange(request(method, target, extra), &response)) << method << " " << target;
    return response;
  }

  HttpConnection connection_;
  static DeviceRoot* root_;
  static HostProcess* host_;
  static int port_;
};

DeviceRoot* WebQuentaServing::root_ = nullptr;
HostProcess* WebQuentaServing::host_ = nullptr;
int WebQuentaServing::port_ = 0;

TEST_F(WebQuentaServing, AnswersTheQueryEchoScriptExactly) {
  // The body is 27 bytes with its line feed, and Content-Length says so.
  EXPECT_EQ(exchange("GET", "/querytest.js?a=1&b=2").raw,
            std::string("HTTP/1.1 200 OK\r\n") + kCacheControl +
                "Content-Length: 27\r\nContent-Type: text/javascript\r\n" + kCacheControl +
                "\r\nvar QueryEcho = 'a=1&b=2';\n");
  // The same connection serves the next request.
  HttpResponse again = exchange("GET", "/querytest.js?x=9");
  EXPECT_EQ(again.body, "var QueryEcho = 'x=9';\n");
}

TEST_F(WebQuentaServing, AnswersErrorPagesWithStatus200) {
  EXPECT_EQ(exchange("GET", "/no/such/file.js").raw, htmlAnswer(readCardPage("404.htm")));
  EXPECT_EQ(exchange("PUT", "/querytest.js", "Content-Length: 0\r\n").raw, htmlAnswer(readCardPage("405.htm")));
  EXPECT_EQ(exchange("GET", "/querytest.js?" + std::string(128, 'q')).raw, htmlAnswer(readCardPage("414.htm")));
  EXPECT_EQ(exchange("POST", "/no/such/form.html", "Content-Length: 0\r\n").raw, htmlAnswer(readCardPage("404.htm")));
  EXPECT_EQ(exchange("GET", "/CURRENT_STATUS.JS").raw, htmlAnswer(readCardPage("404.htm")));
  EXPECT_EQ(exchange("DELETE", "/querytest.js").raw, htmlAnswer(readCardPage("405.htm")));

  // HEAD is not a method of the module: the 405 page's header, without its body.
  HttpResponse head;
  ASSERT_TRUE(connection_.exchange(request("HEAD", "/querytest.js"), &head, true));
  std::string page405 = htmlAnswer(readCardPage("405.htm"));
  EXPECT_EQ(head.raw, page405.substr(0, page405.find("\r\n\r\n") + 4));

  HttpResponse longest = exchange("GET", "/querytest.js?" + std::string(127, 'q'));
  EXPECT_EQ(longest.body, "var QueryEcho = '" + std::string(127, 'q') + "';\n");
}

TEST_F(WebQuentaServing, ServesTheCardPagesAsStaticFiles) {
  HttpResponse index = exchange("GET", "/index.html");
  EXPECT_EQ(index.status, 200);
  EXPECT_EQ(index.body, readCardPage("index.html"));
  EXPECT_TRUE(index.hasHeader("Last-Modified"));  // CivetWeb's file answer, not the module's
}

TEST_F(WebQuentaServing, EightKeepAliveClientsGetByteExactAnswers) {
  // Each client keeps one connection and asks its own queries, so an answer
  // that carried another request's text, or lost bytes, shows as a mismatch.
  const int kClients = 8;
  const int kRequests = 5000;
  std::vector<int> mismatches(kClients, 0);
  std::vector<int> failures(kClients, 0);
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      HttpConnection connection;
      if (!connection.open(port_)) {
        failures[c] = kRequests;
        return;
      }
      for (int i = 0; i < kRequests; ++i) {
        std::string query = "c=" + std::to_string(c) + "&i=" + std::to_string(i);
        std::string body = "var QueryEcho = '" + query + "';\n";
        std::string expected = std::string("HTTP/1.1 200 OK\r\n") + kCacheControl +
                               "Content-Length: " + std::to_string(body.size()) +
                               "\r\nContent-Type: text/javascript\r\n" + kCacheControl + "\r\n" + body;
        HttpResponse response;
        if (!connection.exchange(request("GET", "/querytest.js?" + query), &response)) {
          failures[c]++;
          break;  // the connection is gone; the count shows it
        }
        if (response.raw != expected) mismatches[c]++;
      }
    });
  }
  for (auto& client : clients) client.join();
  for (int c = 0; c < kClients; ++c) {
    EXPECT_EQ(failures[c], 0) << "client " << c;
    EXPECT_EQ(mismatches[c], 0) << "client " << c;
  }
}

TEST(WebQuentaPages, AMissingPageFileIsAnsweredWithItsPath) {
  DeviceRoot root;
  std::filesystem::copy(CARD_DIR, root.wwwpub(), std::filesystem::copy_options::recursive);
  std::filesystem::remove(root.wwwpub() + "/405.htm");
  HostProcess host;
  ASSERT_TRUE(host.start({QUENTA_HTTPD, "--root", root.path(), "--listen", "127.0.0.1:0", "--module",
                          WEBQUENTA_MODULE}));
  int port = host.waitForListening(20000);
  ASSERT_GT(port, 0) << host.errors();
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port));
  HttpResponse response;
  ASSERT_TRUE(connection.exchange(request("PUT", "/querytest.js", "Content-Length: 0\r\n"), &response));
  EXPECT_EQ(response.raw, htmlAnswer("Couldn't load page: \\MMCMemory\\www\\wwwpub\\405.htm"));
  EXPECT_EQ(host.stop(SIGTERM, 20000), 0) << host.errors();
}

}  // namespace
