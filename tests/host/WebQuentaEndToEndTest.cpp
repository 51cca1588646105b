// quenta-httpd with the real module (libwebquenta.so) over a device root whose
// card holds the pages of card/: the answers that leave the machine, byte for
// byte.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <filesystem>
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

std::string htmlAnswer(const std::string& page) {
  return std::string("HTTP/1.1 200 OK\r\n") + kCacheControl + "Content-Length: " + std::to_string(page.size()) +
         "\r\nContent-Type: text/html\r\n\r\n" + page;
}

std::string queryEchoAnswer(const std::string& query) {
  std::string body = "var QueryEcho = '" + query + "';\n";
  return std::string("HTTP/1.1 200 OK\r\n") + kCacheControl + "Content-Length: " + std::to_string(body.size()) +
         "\r\nContent-Type: text/javascript\r\n" + kCacheControl + "\r\n" + body;
}

class WebQuentaServing : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new DeviceRoot();
    host_ = new HostProcess();
    std::filesystem::copy(CARD_DIR, root_->wwwpub(), std::filesystem::copy_options::recursive);
    host_->start({QUENTA_HTTPD, "--root", root_->path(), "--listen", "127.0.0.1:0", "--module", WEBQUENTA_MODULE});
    port_ = host_->waitForListening(20000);
  }

  static void TearDownTestSuite() {
    EXPECT_EQ(host_->stop(SIGTERM, 20000), 0) << host_->errors();
    // The module's debug output is off unless asked for.
    EXPECT_EQ(host_->errors().find("WebQuenta:"), std::string::npos) << host_->errors();
    delete host_;
    delete root_;
  }

  void SetUp() override { ASSERT_TRUE(port_ > 0 && connection_.open(port_)) << host_->errors(); }

  HttpResponse exchange(const std::string& method, const std::string& target, const std::string& extra = "") {
    HttpResponse response;
    EXPECT_TRUE(connection_.exchange(request(method, target, extra), &response)) << method << " " << target;
    return response;
  }

  std::string page(const std::string& name) { return root_->readFile("MMCMemory/www/wwwpub/" + name); }

  HttpConnection connection_;
  static DeviceRoot* root_;
  static HostProcess* host_;
  static int port_;
};

DeviceRoot* WebQuentaServing::root_ = nullptr;
HostProcess* WebQuentaServing::host_ = nullptr;
int WebQuentaServing::port_ = 0;

TEST_F(WebQuentaServing, AnswersScriptsFromTheModuleAndPagesFromTheCard) {
  // The body is 27 bytes with its line feed, and Content-Length says so.
  EXPECT_EQ(exchange("GET", "/querytest.js?a=1&b=2").raw, queryEchoAnswer("a=1&b=2"));
  EXPECT_NE(std::string::npos, queryEchoAnswer("a=1&b=2").find("Content-Length: 27\r\n"));
  EXPECT_EQ(exchange("GET", "/querytest.js?" + std::string(127, 'q')).raw, queryEchoAnswer(std::string(127, 'q')));

  HttpResponse index = exchange("GET", "/index.html");
  EXPECT_EQ(index.status, 200);
  EXPECT_EQ(index.body, page("index.html"));
  EXPECT_NE(index.header("Last-Modified"), "");  // the host's file answer, not the module's
}

TEST_F(WebQuentaServing, AnswersErrorPagesWithStatus200) {
  const struct {
    std::string method, target, extra, page;
  } cases[] = {
      {"GET", "/no/such/file.js", "", "404.htm"},
      {"PUT", "/querytest.js", "Content-Length: 0\r\n", "405.htm"},
      {"GET", "/querytest.js?" + std::string(128, 'q'), "", "414.htm"},
      {"POST", "/no/such/form.html", "Content-Length: 0\r\n", "404.htm"},
      {"GET", "/CURRENT_STATUS.JS", "", "404.htm"},
      {"DELETE", "/querytest.js", "", "405.htm"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(exchange(c.method, c.target, c.extra).raw, htmlAnswer(page(c.page))) << c.method << " " << c.target;
  }
  // HEAD is not a method of the module: the 405 page's header, without its body.
  HttpResponse head;
  ASSERT_TRUE(connection_.exchange(request("HEAD", "/querytest.js"), &head, true));
  std::string page405 = htmlAnswer(page("405.htm"));
  EXPECT_EQ(head.raw, page405.substr(0, page405.find("\r\n\r\n") + 4));
}

TEST_F(WebQuentaServing, EightKeepAliveClientsGetByteExactAnswers) {
  // Each client keeps one connection and asks its own queries, so an answer
  // that carried another request's text, or lost bytes, shows as a mismatch.
  std::atomic<int> answered{0};
  std::atomic<int> mismatches{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      HttpConnection connection;
      HttpResponse response;
      if (!connection.open(port_)) return;
      for (int i = 0; i < 5000; ++i) {
        std::string query = "c=" + std::to_string(c) + "&i=" + std::to_string(i);
        if (!connection.exchange(request("GET", "/querytest.js?" + query), &response)) return;  // the count shows it
        ++answered;
        if (response.raw != queryEchoAnswer(query)) ++mismatches;
      }
    });
  }
  for (auto& client : clients) client.join();
  EXPECT_EQ(answered.load(), 8 * 5000);
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
