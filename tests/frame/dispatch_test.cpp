// The module as the web server sees it: loaded from its library over a device
// root, asked through a control-block double, unloaded.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "frame/Registry.h"
#include "tests/support/FakeEcb.h"
#include "tests/support/TestRoot.h"

namespace {

// The registry is assembled from the families' rows: a slot given twice
// leaves another empty, which shows here as an entry without a path.
TEST(Registry, EveryEntryHasOnePathAndAGenerator) {
  const DataFileEntry* files = dataFileEntries();
  std::set<std::string> paths, pending;
  for (int k = 0; k < JS_FILE_COUNT; ++k) {
    ASSERT_NE(nullptr, files[k].path) << "entry " << k + 1;
    std::string path = files[k].path;
    EXPECT_TRUE(path[0] == '/' && path.size() > 3 && path.compare(path.size() - 3, 3, ".js") == 0) << path;
    EXPECT_TRUE(paths.insert(path).second || k + 1 == 107) << "entry " << k + 1 << " repeats " << path;
    if (files[k].create == nullptr) pending.insert(path);
  }
  EXPECT_STREQ(files[105].path, files[106].path);
  EXPECT_EQ(std::set<std::string>(), pending);
}

const char kCache[] = "Cache-Control: max-age=0, no-cache, no-store, must-revalidate\r\n";

std::string scriptHeader(size_t length) {
  return std::string(kCache) + "Content-Length: " + std::to_string(length) +
         "\r\nContent-Type: text/javascript\r\n" + kCache + "\r\n";
}

std::string htmlHeader(size_t length) {
  return std::string(kCache) + "Content-Length: " + std::to_string(length) + "\r\nContent-Type: text/html\r\n\r\n";
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(root.path().empty());
    // The module's debug lines, collected for the tests that check them.
    debugLog = root.path() + "/debug.log";
    setenv("QUENTA_DEBUG_LOG", debugLog.c_str(), 1);
    load();
  }
  void TearDown() override {
    unload();
    unsetenv("QUENTA_DEBUG_LOG");
  }

  std::string debugLines() { return root.readFile("debug.log"); }

  void load() {
    module.reset(new LoadedModule(root.path()));
    ASSERT_TRUE(module->ok()) << module->error();
    HSE_VERSION_INFO info;
    std::memset(&info, 0x55, sizeof(info));
    ASSERT_TRUE(module->getVersion(&info));
    version = info;
  }
  void unload() {
    if (module && module->ok()) module->terminate(HSE_TERM_MUST_UNLOAD);
    module.reset();
  }

  // One request; returns what HttpExtensionProc returned.
  DWORD request(FakeEcb& ecb) { return module->proc(ecb.ecb()); }

  std::string page(const char* name) { return root.readFile(std::string("MMCMemory/www/wwwpub/") + name); }

  TestRoot root;
  std::string debugLog;
  std::unique_ptr<LoadedModule> module;
  HSE_VERSION_INFO version;
};

TEST_F(ModuleTest, LoadReportsVersionAndDescription) {
  EXPECT_EQ(100u, version.dwExtensionVersion);
  EXPECT_STREQ("\r\n  ISAPI backend for Quenta II Web interface  \r\n", version.lpszExtensionDesc);
  EXPECT_NE(std::string::npos, debugLines().find("WebQuenta: GetExtensionVersion called\r\n"));
}

TEST_F(ModuleTest, OnlyAMustUnloadIsReported) {
  root.removeFile("debug.log");
  EXPECT_TRUE(module->terminate(HSE_TERM_ADVISORY_UNLOAD));
  EXPECT_EQ(std::string::npos, debugLines().find("TerminateExtension"));
  module.reset();
  load();
  FakeEcb again("GET", "/querytest.js", "again");
  request(again);
  EXPECT_EQ("var QueryEcho = 'again';\n", again.body);
  EXPECT_TRUE(module->terminate(HSE_TERM_MUST_UNLOAD));
  EXPECT_NE(std::string::npos, debugLines().find("WebQuenta: TerminateExtension called\r\n"));
  module.reset();
}

// One header and one write, the connection kept. The query goes into the
// quotes still URL-encoded and unescaped; 127 characters are served, 128 get
// the 414 page.
TEST_F(ModuleTest, QueryEchoAnswersByteExact) {
  const std::string q127(127, 'q'), q128 = q127 + "q";
  const struct {
    const char* query;  // nullptr: no query string at all
    std::string body;
    bool script;  // false: an HTML page
  } cases[] = {
      {"a=1&b=2", "var QueryEcho = 'a=1&b=2';\n", true},
      {"x=%27it%27s&y=it's", "var QueryEcho = 'x=%27it%27s&y=it's';\n", true},
      {"", "var QueryEcho = '';\n", true},
      {nullptr, "var QueryEcho = '';\n", true},
      {q127.c_str(), "var QueryEcho = '" + q127 + "';\n", true},
      {q128.c_str(), page("414.htm"), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query == nullptr ? "(null)" : c.query);
    FakeEcb echo("GET", "/querytest.js", c.query == nullptr ? "" : c.query);
    if (c.query == nullptr) echo.setNullQuery();
    EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_SUCCESS_AND_KEEP_CONN), request(echo));
    EXPECT_EQ("200 OK", echo.status);
    EXPECT_EQ(c.body, echo.body);
    EXPECT_EQ(c.script ? scriptHeader(c.body.size()) : htmlHeader(c.body.size()), echo.header);
    EXPECT_TRUE(echo.keepConn);
    EXPECT_EQ(std::make_pair(1, 1), std::make_pair(echo.headerCalls, echo.writeCalls));
  }
}

TEST_F(ModuleTest, ErrorPagesForPathsAndMethods) {
  // Paths of 63 characters fit the module's buffer; longer ones match nothing.
  const std::string path63 = "/" + std::string(62, 'a'), path64 = path63 + "b",
                    path5000 = "/querytest.js/" + std::string(5000, 'x');
  struct Case {
    const char* method;
    const char* path;
    const char* page;
  } cases[] = {
      {"GET", path63.c_str(), "404.htm"},
      {"GET", path64.c_str(), "404.htm"},
      {"GET", path5000.c_str(), "404.htm"},
      {"GET", "/no/such/file.js", "404.htm"},
      {"GET", "/CURRENT_STATUS.JS", "404.htm"},     // paths are case-sensitive
      {"GET", "/QUERYTEST.JS", "404.htm"},
      {"get", "/querytest.js", "405.htm"},          // methods too
      {"PUT", "/querytest.js", "405.htm"},
      {"DELETE", "/querytest.js", "405.htm"},
      {"HEAD", "/querytest.js", "405.htm"},
      {"", "/querytest.js", "405.htm"},
      {"GET", "", "403.htm"},
      {"POST", "", "403.htm"},
      {"POST", "/no/such/form.html", "404.htm"},
      {"POST", "/setup/autocal.html", "404.htm"},  // only the misspelt path is a form
      {"POST", "/querytest.js", "404.htm"},        // data files answer GET only
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + std::string(c.path).substr(0, 80));
    FakeEcb ecb(c.method, c.path);
    EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_SUCCESS_AND_KEEP_CONN), request(ecb));
    EXPECT_EQ("200 OK", ecb.status);
    std::string expected = page(c.page);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, ecb.body);
    EXPECT_EQ(htmlHeader(expected.size()), ecb.header);
  }
}

// A page missing at load is replaced by its path; an empty one is sent with
// length 0.
TEST_F(ModuleTest, MissingAndEmptyPages) {
  unload();
  root.removeFile("MMCMemory/www/wwwpub/405.htm");
  root.writeFile("MMCMemory/www/wwwpub/404.htm", "");
  load();
  FakeEcb put("PUT", "/x");
  request(put);
  EXPECT_EQ("Couldn't load page: \\MMCMemory\\www\\wwwpub\\405.htm", put.body);
  EXPECT_EQ(htmlHeader(put.body.size()), put.header);
  FakeEcb get("GET", "/nothing");
  EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_SUCCESS_AND_KEEP_CONN), request(get));
  EXPECT_EQ(htmlHeader(0), get.header);
  EXPECT_EQ("", get.body);
}

TEST_F(ModuleTest, PagesReadAtLoadSurviveTheirFiles) {
  std::string before = page("404.htm");
  root.removeFile("MMCMemory/www/wwwpub/404.htm");
  root.removeFile("MMCMemory/www/wwwpub/403.htm");
  FakeEcb missing("GET", "/nothing");
  request(missing);
  EXPECT_EQ(before, missing.body);
  FakeEcb empty("GET", "");
  request(empty);
  EXPECT_NE(std::string::npos, empty.body.find("403"));

  // 405 is read on first use, so a change before then shows, after then not.
  for (const char* text : {"first", "second"}) {
    root.writeFile("MMCMemory/www/wwwpub/405.htm", text);
    FakeEcb put("PUT", "/x");
    request(put);
    EXPECT_EQ("first", put.body);
  }
}

// Failed server calls, and no control block at all, are errors.
TEST_F(ModuleTest, FailedServerCallsReturnError) {
  // After a failed header nothing more is sent.
  for (bool headerFails : {true, false}) {
    FakeEcb failing("GET", "/querytest.js", "a");
    (headerFails ? failing.failHeader : failing.failWrite) = true;
    EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_ERROR), request(failing));
    EXPECT_EQ(std::make_pair(1, headerFails ? 0 : 1), std::make_pair(failing.headerCalls, failing.writeCalls));
  }

  // And the module keeps serving.
  FakeEcb after("GET", "/querytest.js", "a");
  EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_SUCCESS_AND_KEEP_CONN), request(after));
  EXPECT_EQ("var QueryEcho = 'a';\n", after.body);
  EXPECT_EQ(static_cast<DWORD>(HSE_STATUS_ERROR), module->proc(nullptr));
}

TEST_F(ModuleTest, ConcurrentRequestsNeverSeeAnotherRequestsText) {
  // Eight threads ask the same data file with their own queries: each answer
  // must be its own query's text, whole.
  const int kThreads = 8;
  const int kRequests = 2000;
  std::vector<std::thread> threads;
  std::vector<int> wrong(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRequests; ++i) {
        std::string query = "t=" + std::to_string(t) + "&i=" + std::to_string(i % 7);
        FakeEcb ecb("GET", "/querytest.js", query);
        DWORD result = module->proc(ecb.ecb());
        std::string expected = "var QueryEcho = '" + query + "';\n";
        if (result != HSE_STATUS_SUCCESS_AND_KEEP_CONN || ecb.body != expected ||
            ecb.header != scriptHeader(expected.size())) {
          wrong[t]++;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(0, wrong[t]) << "thread " << t;
}

}  // namespace
