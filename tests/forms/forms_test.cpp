// The form-handler frame and the four parameter-code forms, posted through the
// control-block double against a real settings database and mailbox.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "forms/PostResponse.h"
#include "frame/StoredPage.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/forms/FormTestSupport.h"
#include "tests/parser/ParserTestSupport.h"

using namespace formtest;
using parsertest::DebugCapture;
using parsertest::FieldValues;
typedef std::vector<std::string> Lines;

namespace {

const std::string kBoundary = "----WebKitFormBoundaryQ3xk9LmZ0pRt7YwA";
const char kArcPage[] = "setup/error_edit.min.html";
const char kJogPage[] = "setup/jog_purge.min.html";
const char kResetPage[] = "data_management/factory_reset.min.html";
const char kHoldPage[] = "arc_management/trigger_hold_edit.min.html";

const FieldValues kArcErrorPost = {
    {"ase_time", "2"}, {"arcstarterrorpcode", "190"}, {"mwe_time", "0.35"}, {"missedwelderrorpcode", "650"},
    {"arcerrortimepcode", "390"}, {"arcerrorvoltspcode", "391"}, {"arcerrorampspcode", "392"},
    {"are_volts", "22.7"}, {"are_amps", "400"}, {"are_time", "1.5"}};
const FieldValues kJogPurgePost = {
    {"minjogspeedipm", "60"}, {"maxjogspeedipm", "650"}, {"retractminjogspeedipm", "30"},
    {"retractmaxjogspeedipm", "310"}, {"retractminpcode", "626"}, {"retractmaxpcode", "627"},
    {"minjogspeedpcode", "624"}, {"maxjogspeedpcode", "625"}, {"torchlength", "15"}, {"torchload", "120"},
    {"time", "2.75"}, {"timepcode", "628"}, {"torchlengthright", "12"}, {"torchloadright", "95"}};
const FieldValues kTriggerHoldPost = {{"th_delay_time_pcode", "118"}, {"th_delay_time", "0.5"},
                                      {"th_inactive_time", "4.25"}, {"th_inactive_time_pcode", "615"}};

FieldValues with(FieldValues values, const std::string& name, const std::string& value) {
  for (auto& entry : values) {
    if (entry.first == name) entry.second = value;
  }
  return values;
}

// The answer's text to the body read `readSize` bytes at a time.
std::string post(PostResponse* handler, const std::string& body, DWORD readSize = 65536,
                 const std::string& contentType = parsertest::contentTypeFor(kBoundary)) {
  return postBody(handler, contentType, body, readSize);
}
std::string post(PostResponse* handler, const FieldValues& values, DWORD readSize = 65536) {
  return post(handler, parsertest::plainBody(kBoundary, values), readSize);
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(root.ok()); }
  std::string page400() { return root.page("400.htm"); }
  DebugCapture debug;
  FormRoot root;
};

// Each form's own path is matched through the server in forms_e2e_tests.
TEST_F(FormsTest, FormsAnswerOnlyTheirOwnPath) {
  std::unique_ptr<PostResponse> handler(formFor("/setup/error_edit.min.html"));
  EXPECT_TRUE(handler->matchesPath(SafeCString("/setup/error_edit.min.html")));
  EXPECT_FALSE(handler->matchesPath(SafeCString("/setup/error_edit.min.htmlx")));
  EXPECT_FALSE(handler->matchesPath(SafeCString("/SETUP/error_edit.min.html")));
  EXPECT_FALSE(handler->matchesPath(SafeCString("/setup/jog_purge.min.html")));
  EXPECT_TRUE(debug.contains("PostResponse: Path Match\r\n"));
}

// Each post gives its page (or the 400 page), the journal rows of its setter
// calls and the mailbox events of the writes that updated a record. A chained
// write that updates nothing stops the form; a free-standing one only loses
// its event.
TEST_F(FormsTest, PostsWriteTheirRowsAndEventsAndStopWhereAChainedWriteFails) {
  std::unique_ptr<PostResponse> arc(formFor("/setup/error_edit.min.html"));
  std::unique_ptr<PostResponse> hold(formFor("/arc_management/trigger_hold_edit.min.html"));
  std::unique_ptr<PostResponse> reset(formFor("/data_management/factory_reset.min.html"));
  std::unique_ptr<PostResponse> jog(formFor("/setup/jog_purge.min.html"));
  FieldValues holdWithSubmit = kTriggerHoldPost;
  holdWithSubmit.insert(holdWithSubmit.begin() + 1, {"submit", "Save"});
  struct Case {
    std::string what;
    PostResponse* handler;
    FieldValues values;
    DWORD readSize;
    const char* page;  // nullptr: the 400 page
    Lines journal, events;
  };
  std::vector<Case> cases = {
      {"arc error limits, scaled", arc.get(), kArcErrorPost, 65536, kArcPage,
       {pcodeRow(390, 1500), pcodeRow(391, 227), pcodeRow(392, 400), pcodeRow(190, 2000), pcodeRow(650, 3)},
       {"8,390,1,0", "8,391,1,0", "8,392,1,0", "8,190,1,0", "8,650,1,0"}},
      // Code 999 is not in the database: the third write updates no record.
      {"arc error limits, chained stop", arc.get(), with(kArcErrorPost, "arcerrorampspcode", "999"), 65536, nullptr,
       {pcodeRow(390, 1500), pcodeRow(391, 227), pcodeRow(999, 400, 0)}, {"8,390,1,0", "8,391,1,0"}},
      {"trigger hold", hold.get(), kTriggerHoldPost, 65536, kHoldPage, {pcodeRow(118, 500), pcodeRow(615, 4250)},
       {"8,118,1,0", "8,615,1,0"}},
      {"trigger hold, first write free-standing", hold.get(), with(kTriggerHoldPost, "th_delay_time_pcode", "998"),
       65536, kHoldPage, {pcodeRow(998, 500, 0), pcodeRow(615, 4250)}, {"8,615,1,0"}},
      {"trigger hold, last write fails", hold.get(), with(kTriggerHoldPost, "th_inactive_time_pcode", "997"), 65536,
       nullptr, {pcodeRow(118, 500), pcodeRow(997, 4250, 0)}, {"8,118,1,0"}},
      {"trigger hold, unknown field skipped", hold.get(), holdWithSubmit, 3, kHoldPage,
       {pcodeRow(118, 500), pcodeRow(615, 4250)}, {"8,118,1,0", "8,615,1,0"}},
      {"factory reset without its field", reset.get(), {{"other", "1"}}, 65536, nullptr, {}, {}},
      {"jog and purge, small reads", jog.get(), kJogPurgePost, 7, kJogPage,
       {gunLoadRow(1, 15, 120), gunLoadRow(2, 12, 95), pcodeRow(624, 60), pcodeRow(625, 650), pcodeRow(626, 30),
        pcodeRow(627, 310), pcodeRow(628, 2750)},
       {"4,1,0,0", "4,2,0,0", "8,624,1,0", "8,625,1,0", "8,626,1,0", "8,627,1,0", "8,628,1,0"}},
  };
  for (const char* value : {"Reset", "", "0", "no"}) {  // any value resets
    cases.push_back({std::string("factory reset: ") + value, reset.get(), {{"resetsubmit", value}}, 65536, kResetPage,
                     {pcodeRow(149, 1)}, {"8,149,1,0"}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    size_t rowsBefore = root.journal().size();
    size_t eventsBefore = root.events().size();
    EXPECT_EQ(c.page ? root.page(c.page) : page400(), post(c.handler, c.values, c.readSize));
    Lines rows = root.journal(), events = root.events();
    EXPECT_EQ(c.journal, Lines(rows.begin() + rowsBefore, rows.end()));
    EXPECT_EQ(c.events, Lines(events.begin() + eventsBefore, events.end()));
    EXPECT_EQ(0, SqlBridgeOpenViewCount());
  }
  EXPECT_EQ((std::vector<int>{4250, 3, 1, 15, 120, 95}),
            (std::vector<int>{root.pcode(615), root.pcode(650), root.pcode(149), root.bank(1).gunLdLen,
                              root.bank(1).gunLdWFS, root.bank(2).gunLdWFS}));
  for (const char* line : {"UPDATED 1 pcode_only_struct records at recordID 390\r\n", "PostResponse: Meatiness\r\n",
                           "UPDATED 0 pcode_only_struct records at recordID 999\r\n",
                           "UPDATED 1 gun_load_struct records at recordID 2\r\n"}) {
    EXPECT_TRUE(debug.contains(line)) << line;
  }
}

TEST(FormsWithoutBanksTest, JogPurgeStopsWhenTheFirstTorchLoadUpdatesNothing) {
  DebugCapture debug;
  FormRoot root(false);
  ASSERT_TRUE(root.ok());
  std::unique_ptr<PostResponse> handler(formFor("/setup/jog_purge.min.html"));
  EXPECT_EQ(root.page("400.htm"), post(handler.get(), kJogPurgePost));
  EXPECT_EQ(Lines{gunLoadRow(1, 15, 120, 0)}, root.journal());
  EXPECT_TRUE(root.events().empty());
  EXPECT_TRUE(debug.contains("UPDATED 0 gun_load_struct records at recordID 1\r\n"));
  EXPECT_EQ(2500, root.pcode(628));
}

// A declared field missing, or a body the parser cannot finish: the 400 page,
// nothing written, and the form still serves the next good post.
TEST_F(FormsTest, MissingFieldsAndBrokenBodiesAnswer400AndWriteNothing) {
  std::unique_ptr<PostResponse> arc(formFor("/setup/error_edit.min.html"));
  for (size_t k = 0; k < kArcErrorPost.size(); ++k) {
    FieldValues values = kArcErrorPost;
    values.erase(values.begin() + k);
    EXPECT_EQ(page400(), post(arc.get(), values)) << kArcErrorPost[k].first;
  }
  EXPECT_TRUE(debug.contains("PostResponse: Missing field are_time\r\n"));
  std::unique_ptr<PostResponse> reset(formFor("/data_management/factory_reset.min.html"));
  std::string good = parsertest::plainBody(kBoundary, {{"resetsubmit", "Reset"}});
  std::string head = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"resetsubmit\"\r\n\r\n";
  const std::string broken[] = {
      good.substr(0, good.find("Reset")),  // truncated in the headers
      good.substr(0, good.size() / 3),     // truncated early
      head + std::string(40000, 'x'),      // endless value
      std::string(5000, '\0') + "garbage",  // no boundary at all
      "--" + kBoundary + "\r\ncontent-disposition: form-data; name=\"resetsubmit\"\r\n\r\nReset\r\n--" + kBoundary +
          "--\r\n",  // header in the wrong case
  };
  for (const std::string& body : broken) EXPECT_EQ(page400(), post(reset.get(), body, 1000));
  EXPECT_EQ(page400(), post(reset.get(), "resetsubmit=Reset", 100, "application/x-www-form-urlencoded"));
  EXPECT_TRUE(root.journal().empty());
  EXPECT_TRUE(root.events().empty());
  EXPECT_EQ(root.page(kResetPage), post(reset.get(), good, 1));
  EXPECT_EQ(Lines{pcodeRow(149, 1)}, root.journal());
}

// Every write of concurrent posts to one handler journals its own record.
TEST_F(FormsTest, ConcurrentPostsToOneFormNeverShareRecords) {
  std::unique_ptr<PostResponse> handler(formFor("/arc_management/trigger_hold_edit.min.html"));
  DebugCapture quiet(false);
  const int kThreads = 4, kPosts = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t]() {
      for (int k = 0; k < kPosts; ++k) {
        int delay = t * 100 + k;  // tenths of a second times 100: distinct per post
        post(handler.get(), with(with(kTriggerHoldPost, "th_delay_time", std::to_string(delay)), "th_inactive_time",
                                 std::to_string(delay + 1000)), 5);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  Lines journal = root.journal();
  ASSERT_EQ(static_cast<size_t>(2 * kThreads * kPosts), journal.size());
  int delays = 0;
  for (const std::string& row : journal) {
    int code = 0, value = 0;
    ASSERT_EQ(2, sscanf(row.c_str(), "SetPCode SetPCodeView {\"pcode\":%d,\"value\":%d}", &code, &value)) << row;
    EXPECT_EQ(pcodeRow(code, value), row);
    if (code == 118) ++delays;
  }
  EXPECT_EQ(kThreads * kPosts, delays);
}

TEST_F(FormsTest, FieldWordsScaleTruncateAndKeepTheLowBits) {
  struct Case {
    const char* value;  // also the field's name
    FieldScale scale;
    WORD expected;
  } cases[] = {
      {"1.5", kTimesThousand, 1500}, {"22.7", kTimesTen, 227},      {"0.35", kTimesTen, 3},
      {"-0.5", kTimesTen, 65531},    {"70000", kAsInteger, 4464},    {"abc", kAsInteger, 0},
      {"abc", kTimesTen, 0},         {"66.5361", kTimesThousand, 1000}, {"-1", kAsInteger, 65535},
      {"2.9999", kTimesHundred, 299}, {"2.9999", kAsInteger, 2},
  };
  MimePartMap parts;
  for (const Case& c : cases) parts.put(new MimePart(SafeCString(c.value), SafeCString(c.value)));
  parts.put(new MimePart(SafeCString("1e300"), SafeCString("1e300")));
  for (const Case& c : cases) {
    WORD word = 12345;
    ASSERT_TRUE(PostResponse::fieldWord(parts, c.value, c.scale, &word)) << c.value;
    EXPECT_EQ(c.expected, word) << c.value << " x" << c.scale;
  }
  WORD huge = 0;
  EXPECT_TRUE(PostResponse::fieldWord(parts, "1e300", kTimesThousand, &huge));  // defined, whatever the bits
  WORD untouched = 7;
  EXPECT_FALSE(PostResponse::fieldWord(parts, "absent", kAsInteger, &untouched));
  EXPECT_EQ(7, untouched);
}

// A handler of this test exposing the frame's system-log write.
class LogTextForm : public PostResponse {
 public:
  LogTextForm() : PostResponse(SafeCString("/test/log.html"), SafeWString(u"\\MMCMemory\\www\\wwwpub\\400.htm")) {}
  bool apply(MimePartMap&) override {
    return writeSystemLogText(u"SetSystemLogWebChangeView", 0, 0, 9, u"Locks changed from webpage.") != 0;
  }
  int writeLong(const char16_t* text) { return writeSystemLogText(u"SetSystemLogShortTermDataResetView", 1, 1, 7, text); }
};

TEST_F(FormsTest, SystemLogTextLandsInTheSystemLogWithoutAnEvent) {
  LogTextForm form;
  ASSERT_TRUE(form.isComplete());
  EXPECT_EQ(page400(), post(&form, FieldValues{}));
  std::u16string longText(200, u'y');
  EXPECT_EQ(1, form.writeLong(longText.c_str()));
  std::vector<quenta::SystemLogRow> rows = root.systemLog();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("Locks changed from webpage.", rows[0].description);
  EXPECT_EQ(std::string(129, 'y'), rows[1].description);  // cut to 129 characters
  EXPECT_EQ((std::vector<int>{9, 0, 7, 1}), (std::vector<int>{rows[0].eventType, rows[0].first, rows[1].eventType,
                                                                rows[1].second}));
  EXPECT_GE(rows[0].time.wYear, 2024);
  EXPECT_TRUE(root.events().empty());
  EXPECT_EQ((Lines{"SetSystemLog SetSystemLogWebChangeView {} log 1",
                   "SetSystemLog SetSystemLogShortTermDataResetView {} log 1"}),
            root.journal());
}

TEST_F(FormsTest, ReleasingThePageUnloadsItUntilTheNextAnswer) {
  std::unique_ptr<PostResponse> handler(formFor("/data_management/factory_reset.min.html"));
  EXPECT_EQ(0u, handler->pageIdleTime());
  post(handler.get(), {{"resetsubmit", "1"}});
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_GE(handler->pageIdleTime(), 10u);
  handler->releasePage();
  EXPECT_EQ(0u, handler->pageIdleTime());
  EXPECT_TRUE(debug.contains("PostResponse: Freedom\r\n"));
  EXPECT_EQ(root.page(kResetPage), post(handler.get(), {{"resetsubmit", "1"}}));
}

}  // namespace
