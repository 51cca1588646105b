// The four parameter-code forms posted through quenta-httpd on 127.0.0.1, as
// curl -F and as Chromium's FormData send them, over a device root made by
// `quenta-machine init --demo`; the journal and the mailbox are read back with
// `quenta-machine settings journal` and `quenta-machine mailbox show`.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <QuentaPlatform.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/host/HostTestSupport.h"

using hosttest::DeviceRoot;
using hosttest::HostProcess;
using hosttest::HttpConnection;
using hosttest::HttpResponse;

namespace {

struct CommandResult {
  int exitCode = -1;
  std::string output;
};

CommandResult run(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char chunk[4096];
  size_t n;
  while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.output.append(chunk, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) all.push_back(line);
  }
  return all;
}

// A journal line without its id and time: {"setter":...,"count":N}.
std::string journalTail(const std::string& line) {
  size_t at = line.find("\"setter\"");
  return at == std::string::npos ? line : line.substr(at);
}

std::string pcodeJournal(int code, int value, const char* record, int count = 1) {
  return "\"setter\":\"SetPCode\",\"view\":\"SetPCodeView\",\"arguments\":{\"pcode\":" + std::to_string(code) +
         ",\"value\":" + std::to_string(value) + "},\"record\":\"" + record + "\",\"count\":" +
         std::to_string(count) + "}";
}

// A mailbox line reduced to its event: code,arg1,arg2,arg3.
std::string eventOf(const std::string& line) {
  std::string event;
  for (const char* key : {"\"code\":", "\"arg1\":", "\"arg2\":", "\"arg3\":"}) {
    size_t at = line.find(key);
    if (at == std::string::npos) return "";
    at += std::string(key).size();
    if (!event.empty()) event += ",";
    event += line.substr(at, line.find_first_of(",}", at) - at);
  }
  return event;
}

std::string readCard(const std::string& relative) {
  std::ifstream in(std::string(QUENTA_SOURCE_DIR) + "/card/" + relative, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

const char kChromiumBoundary[] = "----WebKitFormBoundaryR4nd0mS1xteen";

// The body as Chromium's FormData lays it out: no Content-Type line for plain
// fields, CRLF everywhere, the closing delimiter with its CRLF.
std::string chromiumBody(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string body;
  for (const auto& field : fields) {
    body += std::string("--") + kChromiumBoundary + "\r\nContent-Disposition: form-data; name=\"" + field.first +
            "\"\r\n\r\n" + field.second + "\r\n";
  }
  return body + "--" + kChromiumBoundary + "--\r\n";
}

class FormsThroughServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (std::string(QUENTA_MACHINE).empty()) return;
    root_ = new DeviceRoot();
    CommandResult init = run(std::string(QUENTA_MACHINE) + " --root " + root_->path() + " init --demo");
    if (init.exitCode != 0) {
      setupProblem_ = "quenta-machine init --demo failed: " + init.output;
      return;
    }
    mailboxShown_ = run(machine("mailbox show")).exitCode == 0;
    host_ = new HostProcess();
    if (!host_->start({QUENTA_HTTPD, "--root", root_->path(), "--listen", "127.0.0.1:0", "--module",
                       WEBQUENTA_MODULE})) {
      setupProblem_ = "quenta-httpd did not start";
      return;
    }
    port_ = host_->waitForListening(20000);
    if (port_ <= 0) setupProblem_ = "quenta-httpd did not listen: " + host_->errors();
  }

  static void TearDownTestSuite() {
    if (host_ != nullptr) {
      EXPECT_EQ(0, host_->stop(SIGTERM, 20000)) << host_->errors();
    }
    delete host_;
    if (root_ != nullptr) {
      // The server's shared memory and mutexes of this root go with it.
      setenv("QUENTA_ROOT", root_->path().c_str(), 1);
      quenta::removeNamedObjects(nullptr);
      unsetenv("QUENTA_ROOT");
    }
    delete root_;
    host_ = nullptr;
    root_ = nullptr;
    port_ = 0;
  }

  void SetUp() override {
    if (std::string(QUENTA_MACHINE).empty()) {
      GTEST_SKIP() << "quenta-machine is not built; skipped";
    }
    ASSERT_TRUE(setupProblem_.empty()) << setupProblem_;
    journalBefore_ = journal().size();
    eventsBefore_ = events().size();
  }

  static std::string machine(const std::string& command) {
    return std::string(QUENTA_MACHINE) + " --root " + root_->path() + " " + command;
  }
  std::string url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

  // Journal rows and mailbox events added by this test.
  std::vector<std::string> journal() const {
    std::vector<std::string> rows;
    for (const std::string& line : lines(run(machine("settings journal")).output)) rows.push_back(journalTail(line));
    return rows;
  }
  std::vector<std::string> newJournal() const {
    std::vector<std::string> rows = journal();
    return std::vector<std::string>(rows.begin() + std::min(journalBefore_, rows.size()), rows.end());
  }
  std::vector<std::string> events() const {
    std::vector<std::string> found;
    for (const std::string& line : lines(run(machine("mailbox show")).output)) {
      if (line.find("\"slot\"") != std::string::npos) found.push_back(eventOf(line));
    }
    return found;
  }
  void expectNewEvents(const std::vector<std::string>& expected) const {
    if (!mailboxShown_) {
      std::cout << "quenta-machine mailbox show is not available; mailbox events not checked\n";
      return;
    }
    std::vector<std::string> all = events();
    std::vector<std::string> added(all.begin() + std::min(eventsBefore_, all.size()), all.end());
    EXPECT_EQ(expected, added);
  }

  std::string curl(const std::string& path, const std::vector<std::string>& fields) const {
    std::string command = "curl -s --max-time 20";
    for (const std::string& field : fields) command += " -F '" + field + "'";
    return run(command + " " + url(path)).output;
  }

  // Sends a request whose body goes out in pieces of `piece` bytes, with a
  // pause after each so that they leave as separate TCP writes.
  HttpResponse postInPieces(const std::string& path, const std::string& body, size_t piece) {
    HttpConnection connection;
    HttpResponse response;
    EXPECT_TRUE(connection.open(port_));
    std::string head = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: multipart/form-data; boundary=" +
                       kChromiumBoundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    EXPECT_TRUE(connection.send(head));
    for (size_t at = 0; at < body.size(); at += piece) {
      EXPECT_TRUE(connection.send(body.substr(at, piece)));
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_TRUE(connection.read(&response));
    return response;
  }

  size_t answersLogged() const {
    std::string errors = host_->errors();
    size_t count = 0;
    for (size_t at = errors.find("PostResponse: Meatiness"); at != std::string::npos;
         at = errors.find("PostResponse: Meatiness", at + 1)) {
      ++count;
    }
    return count;
  }

  static DeviceRoot* root_;
  static HostProcess* host_;
  static int port_;
  static bool mailboxShown_;
  static std::string setupProblem_;
  size_t journalBefore_ = 0;
  size_t eventsBefore_ = 0;
};

DeviceRoot* FormsThroughServer::root_ = nullptr;
HostProcess* FormsThroughServer::host_ = nullptr;
int FormsThroughServer::port_ = 0;
bool FormsThroughServer::mailboxShown_ = false;
std::string FormsThroughServer::setupProblem_;

TEST_F(FormsThroughServer, ArcErrorLimitsWithCurl) {
  std::string answer = curl("/setup/error_edit.min.html",
                            {"ase_time=2", "arcstarterrorpcode=190", "mwe_time=0.35", "missedwelderrorpcode=650",
                             "arcerrortimepcode=390", "arcerrorvoltspcode=391", "arcerrorampspcode=392",
                             "are_volts=22.7", "are_amps=400", "are_time=1.5"});
  EXPECT_EQ(readCard("setup/error_edit.min.html"), answer);
  std::vector<std::string> expected = {pcodeJournal(390, 1500, "dc058601"), pcodeJournal(391, 227, "e3008701"),
                                       pcodeJournal(392, 400, "90018801"), pcodeJournal(190, 2000, "d007be00"),
                                       pcodeJournal(650, 3, "03008a02")};
  EXPECT_EQ(expected, newJournal());
  expectNewEvents({"8,390,1,0", "8,391,1,0", "8,392,1,0", "8,190,1,0", "8,650,1,0"});
}

TEST_F(FormsThroughServer, FactoryResetWithCurl) {
  EXPECT_EQ(readCard("data_management/factory_reset.min.html"),
            curl("/data_management/factory_reset.min.html", {"resetsubmit=anything at all"}));
  EXPECT_EQ(std::vector<std::string>{pcodeJournal(149, 1, "01009500")}, newJournal());
  expectNewEvents({"8,149,1,0"});
}

TEST_F(FormsThroughServer, JogPurgeAsChromiumSendsItInSmallWrites) {
  std::string body = chromiumBody({{"minjogspeedipm", "60"},
                                   {"maxjogspeedipm", "650"},
                                   {"retractminjogspeedipm", "30"},
                                   {"retractmaxjogspeedipm", "310"},
                                   {"retractminpcode", "626"},
                                   {"retractmaxpcode", "627"},
                                   {"minjogspeedpcode", "624"},
                                   {"maxjogspeedpcode", "625"},
                                   {"torchlength", "15"},
                                   {"torchload", "120"},
                                   {"time", "2.75"},
                                   {"timepcode", "628"},
                                   {"torchlengthright", "12"},
                                   {"torchloadright", "95"}});
  HttpResponse response = postInPieces("/setup/jog_purge.min.html", body, 37);
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(readCard("setup/jog_purge.min.html"), response.body);
  std::vector<std::string> expected = {
      "\"setter\":\"SetGunLoad\",\"view\":\"SetGunLoadView\",\"arguments\":{\"side\":1},\"record\":\"01000f007800\","
      "\"count\":1}",
      "\"setter\":\"SetGunLoad\",\"view\":\"SetGunLoadView\",\"arguments\":{\"side\":2},\"record\":\"02000c005f00\","
      "\"count\":1}",
      pcodeJournal(624, 60, "3c007002"),   pcodeJournal(625, 650, "8a027102"), pcodeJournal(626, 30, "1e007202"),
      pcodeJournal(627, 310, "36017302"),  pcodeJournal(628, 2750, "be0a7402")};
  EXPECT_EQ(expected, newJournal());
  expectNewEvents({"4,1,0,0", "4,2,0,0", "8,624,1,0", "8,625,1,0", "8,626,1,0", "8,627,1,0", "8,628,1,0"});
}

TEST_F(FormsThroughServer, TriggerHoldAsChromiumSendsItByteByByte) {
  std::string body = chromiumBody({{"th_delay_time_pcode", "118"},
                                   {"th_delay_time", "0.5"},
                                   {"th_inactive_time", "4.25"},
                                   {"th_inactive_time_pcode", "615"}});
  HttpResponse response = postInPieces("/arc_management/trigger_hold_edit.min.html", body, 1);
  EXPECT_EQ(readCard("arc_management/trigger_hold_edit.min.html"), response.body);
  EXPECT_EQ((std::vector<std::string>{pcodeJournal(118, 500, "f4017600"), pcodeJournal(615, 4250, "9a106702")}),
            newJournal());
  expectNewEvents({"8,118,1,0", "8,615,1,0"});
}

TEST_F(FormsThroughServer, BrokenPostsAnswer400AndTheServerKeepsServing) {
  const std::string page400 = readCard("400.htm");
  std::string good = chromiumBody({{"resetsubmit", "Reset"}});
  EXPECT_EQ(page400, postInPieces("/data_management/factory_reset.min.html", good.substr(0, good.size() - 20) +
                                                                                 std::string(20, '#'), 9).body);
  EXPECT_EQ(page400, postInPieces("/data_management/factory_reset.min.html", std::string(3000, 'g'), 500).body);
  EXPECT_EQ(page400, curl("/data_management/factory_reset.min.html", {"other=1"}));

  // A body that never ends: the client goes away after part of it.
  size_t answered = answersLogged();
  {
    HttpConnection connection;
    ASSERT_TRUE(connection.open(port_));
    std::string head = std::string("POST /setup/error_edit.min.html HTTP/1.1\r\nHost: 127.0.0.1\r\n") +
                       "Content-Type: multipart/form-data; boundary=" + kChromiumBoundary +
                       "\r\nContent-Length: 50000000\r\n\r\n--" + kChromiumBoundary +
                       "\r\nContent-Disposition: form-data; name=\"are_time\"\r\n\r\n";
    ASSERT_TRUE(connection.send(head));
    for (int k = 0; k < 16; ++k) ASSERT_TRUE(connection.send(std::string(65536, '7')));
  }
  for (int waited = 0; answersLogged() == answered && waited < 200; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_GT(answersLogged(), answered) << "the endless post was never answered";

  EXPECT_TRUE(newJournal().empty());
  HttpConnection connection;
  ASSERT_TRUE(connection.open(port_));
  HttpResponse response;
  ASSERT_TRUE(connection.exchange(hosttest::request("GET", "/welder-config/ArcErrorTime.js"), &response));
  EXPECT_EQ(200, response.status);
  EXPECT_EQ(0u, response.body.find("var ArcErrorTime = {Time:"));
}

}  // namespace
