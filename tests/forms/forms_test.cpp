// The form-handler frame and the four parameter-code forms, posted through the
// control-block double against a real settings database and mailbox.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "forms/ParameterCodeForms.h"
#include "forms/PostResponse.h"
#include "frame/Registry.h"
#include "frame/StoredPage.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/forms/FormTestSupport.h"
#include "tests/parser/ParserTestSupport.h"

using namespace formtest;
using parsertest::DebugCapture;
using parsertest::FieldValues;

namespace {

const std::string kBoundary = "----WebKitFormBoundaryQ3xk9LmZ0pRt7YwA";

const FieldValues kArcErrorPost = {
    {"ase_time", "2"},          {"arcstarterrorpcode", "190"}, {"mwe_time", "0.35"},
    {"missedwelderrorpcode", "650"}, {"arcerrortimepcode", "390"}, {"arcerrorvoltspcode", "391"},
    {"arcerrorampspcode", "392"}, {"are_volts", "22.7"},        {"are_amps", "400"},
    {"are_time", "1.5"},
};

const FieldValues kJogPurgePost = {
    {"minjogspeedipm", "60"},   {"maxjogspeedipm", "650"},   {"retractminjogspeedipm", "30"},
    {"retractmaxjogspeedipm", "310"}, {"retractminpcode", "626"}, {"retractmaxpcode", "627"},
    {"minjogspeedpcode", "624"}, {"maxjogspeedpcode", "625"}, {"torchlength", "15"},
    {"torchload", "120"},       {"time", "2.75"},            {"timepcode", "628"},
    {"torchlengthright", "12"}, {"torchloadright", "95"},
};

const FieldValues kTriggerHoldPost = {
    {"th_delay_time_pcode", "118"}, {"th_delay_time", "0.5"}, {"th_inactive_time", "4.25"},
    {"th_inactive_time_pcode", "615"},
};

std::string without(const FieldValues& values, const std::string& name) {
  FieldValues kept;
  for (const auto& value : values) {
    if (value.first != name) kept.push_back(value);
  }
  return parsertest::plainBody(kBoundary, kept);
}

FieldValues with(FieldValues values, const std::string& name, const std::string& value) {
  for (auto& entry : values) {
    if (entry.first == name) entry.second = value;
  }
  return values;
}

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(root.ok()); }

  // Posts the body (read `readSize` bytes at a time) and returns the answer.
  SafeCString* post(PostResponse* handler, const std::string& text, DWORD readSize = 65536,
                    const std::string& contentType = "") {
    FakeEcb fake("POST", "/form");
    fake.setBody(contentType.empty() ? parsertest::contentTypeFor(kBoundary) : contentType, text, 0, readSize);
    return handler->post(fake.ecb());
  }
  SafeCString* post(PostResponse* handler, const FieldValues& values, DWORD readSize = 65536) {
    return post(handler, parsertest::plainBody(kBoundary, values), readSize);
  }
  static std::string text(SafeCString* answer) {
    return answer != nullptr && answer->c_str() != nullptr ? std::string(answer->c_str(), answer->getLength()) : "";
  }
  std::string page400() { return text(errorPage400().content()); }

  DebugCapture debug;
  FormRoot root;
};

TEST_F(FormsTest, FormsAreRegisteredAtTheirRows) {
  EXPECT_EQ(&createArcErrorLimitsForm, kForms[1].create);
  EXPECT_EQ(&createJogPurgeForm, kForms[2].create);
  EXPECT_EQ(&createFactoryResetForm, kForms[8].create);
  EXPECT_EQ(&createTriggerHoldForm, kForms[10].create);
  const std::pair<PostResponse* (*)(), const char*> forms[] = {
      {createArcErrorLimitsForm, "/setup/error_edit.min.html"},
      {createJogPurgeForm, "/setup/jog_purge.min.html"},
      {createFactoryResetForm, "/data_management/factory_reset.min.html"},
      {createTriggerHoldForm, "/arc_management/trigger_hold_edit.min.html"},
  };
  for (const auto& form : forms) {
    std::unique_ptr<PostResponse> handler(form.first());
    ASSERT_NE(nullptr, handler);
    EXPECT_TRUE(handler->matchesPath(SafeCString(form.second)));
    EXPECT_FALSE(handler->matchesPath(SafeCString((std::string(form.second) + "x").c_str())));
    EXPECT_FALSE(handler->matchesPath(SafeCString("/SETUP/error_edit.min.html")));
  }
  EXPECT_TRUE(debug.contains("PostResponse: Path Match\r\n"));
}

TEST_F(FormsTest, ArcErrorLimitsWritesFiveScaledParametersInOrder) {
  std::unique_ptr<PostResponse> handler(createArcErrorLimitsForm());
  std::string answer = text(post(handler.get(), kArcErrorPost));
  EXPECT_EQ(root.page("setup/error_edit.min.html"), answer);
  std::vector<JournalEntry> expected = {pcodeRow(390, 1500), pcodeRow(391, 227), pcodeRow(392, 400),
                                        pcodeRow(190, 2000), pcodeRow(650, 3)};
  EXPECT_EQ(expected, root.journal());
  std::vector<Event> events = {{8, 390, 1, 0}, {8, 391, 1, 0}, {8, 392, 1, 0}, {8, 190, 1, 0}, {8, 650, 1, 0}};
  EXPECT_EQ(events, root.events());
  EXPECT_EQ(1500, root.pcode(390));
  EXPECT_EQ(3, root.pcode(650));
  EXPECT_TRUE(debug.contains("UPDATED 1 pcode_only_struct records at recordID 390\r\n"));
  EXPECT_TRUE(debug.contains("PostResponse: Meatiness\r\n"));
  EXPECT_EQ(0, SqlBridgeOpenViewCount());
}

TEST_F(FormsTest, ArcErrorLimitsStopsAtTheFirstWriteThatUpdatesNothing) {
  std::unique_ptr<PostResponse> handler(createArcErrorLimitsForm());
  // Code 999 is not in the database: the third write updates no record.
  std::string answer = text(post(handler.get(), with(kArcErrorPost, "arcerrorampspcode", "999")));
  EXPECT_EQ(page400(), answer);
  std::vector<JournalEntry> expected = {pcodeRow(390, 1500), pcodeRow(391, 227), pcodeRow(999, 400, 0)};
  EXPECT_EQ(expected, root.journal());
  std::vector<Event> events = {{8, 390, 1, 0}, {8, 391, 1, 0}};
  EXPECT_EQ(events, root.events());
  EXPECT_TRUE(debug.contains("UPDATED 0 pcode_only_struct records at recordID 999\r\n"));
}

TEST_F(FormsTest, TriggerHoldWritesAreFreeStanding) {
  std::unique_ptr<PostResponse> handler(createTriggerHoldForm());
  EXPECT_EQ(root.page("arc_management/trigger_hold_edit.min.html"), text(post(handler.get(), kTriggerHoldPost)));
  // The first write updates nothing: no event for it, the second still made
  // and the answer is the form's page.
  EXPECT_EQ(root.page("arc_management/trigger_hold_edit.min.html"),
            text(post(handler.get(), with(kTriggerHoldPost, "th_delay_time_pcode", "998"))));
  // The second updates nothing: the answer is the 400 page, the first stays.
  EXPECT_EQ(page400(), text(post(handler.get(), with(kTriggerHoldPost, "th_inactive_time_pcode", "997"))));
  std::vector<JournalEntry> expected = {pcodeRow(118, 500),     pcodeRow(615, 4250), pcodeRow(998, 500, 0),
                                        pcodeRow(615, 4250),    pcodeRow(118, 500),  pcodeRow(997, 4250, 0)};
  EXPECT_EQ(expected, root.journal());
  std::vector<Event> events = {{8, 118, 1, 0}, {8, 615, 1, 0}, {8, 615, 1, 0}, {8, 118, 1, 0}};
  EXPECT_EQ(events, root.events());
}

TEST_F(FormsTest, FactoryResetWritesCode149WhateverTheFieldHolds) {
  std::unique_ptr<PostResponse> handler(createFactoryResetForm());
  for (const char* value : {"Reset", "", "0", "no"}) {
    EXPECT_EQ(root.page("data_management/factory_reset.min.html"), text(post(handler.get(), {{"resetsubmit", value}})))
        << value;
  }
  EXPECT_EQ(std::vector<JournalEntry>(4, pcodeRow(149, 1)), root.journal());
  EXPECT_EQ(std::vector<Event>(4, Event{8, 149, 1, 0}), root.events());
  EXPECT_EQ(1, root.pcode(149));
  // Without the field nothing is written.
  EXPECT_EQ(page400(), text(post(handler.get(), {{"other", "1"}})));
  EXPECT_EQ(4u, root.journal().size());
}

TEST_F(FormsTest, JogPurgeWritesBothTorchLoadsThenFiveParameters) {
  std::unique_ptr<PostResponse> handler(createJogPurgeForm());
  EXPECT_EQ(root.page("setup/jog_purge.min.html"), text(post(handler.get(), kJogPurgePost, 7)));
  std::vector<JournalEntry> expected = {gunLoadRow(1, 15, 120), gunLoadRow(2, 12, 95), pcodeRow(624, 60),
                                        pcodeRow(625, 650),     pcodeRow(626, 30),    pcodeRow(627, 310),
                                        pcodeRow(628, 2750)};
  EXPECT_EQ(expected, root.journal());
  std::vector<Event> events = {{4, 1, 0, 0},   {4, 2, 0, 0},   {8, 624, 1, 0}, {8, 625, 1, 0},
                               {8, 626, 1, 0}, {8, 627, 1, 0}, {8, 628, 1, 0}};
  EXPECT_EQ(events, root.events());
  EXPECT_EQ(15, root.bank(1).gunLdLen);
  EXPECT_EQ(120, root.bank(1).gunLdWFS);
  EXPECT_EQ(95, root.bank(2).gunLdWFS);
  EXPECT_TRUE(debug.contains("UPDATED 1 gun_load_struct records at recordID 2\r\n"));
  EXPECT_EQ(0, SqlBridgeOpenViewCount());
}

TEST(FormsWithoutBanksTest, JogPurgeStopsWhenTheFirstTorchLoadUpdatesNothing) {
  DebugCapture debug;
  FormRoot root(false);
  ASSERT_TRUE(root.ok());
  std::unique_ptr<PostResponse> handler(createJogPurgeForm());
  FakeEcb fake("POST", "/setup/jog_purge.min.html");
  fake.setBody(parsertest::contentTypeFor(kBoundary), parsertest::plainBody(kBoundary, kJogPurgePost));
  SafeCString* answer = handler->post(fake.ecb());
  EXPECT_EQ(errorPage400().content(), answer);
  EXPECT_EQ(std::vector<JournalEntry>{gunLoadRow(1, 15, 120, 0)}, root.journal());
  EXPECT_TRUE(root.events().empty());
  EXPECT_TRUE(debug.contains("UPDATED 0 gun_load_struct records at recordID 1\r\n"));
  EXPECT_EQ(2500, root.pcode(628));
}

TEST_F(FormsTest, MissingDeclaredFieldAnswers400AndWritesNothing) {
  std::unique_ptr<PostResponse> handler(createArcErrorLimitsForm());
  for (const auto& field : kArcErrorPost) {
    EXPECT_EQ(page400(), text(post(handler.get(), without(kArcErrorPost, field.first)))) << field.first;
  }
  EXPECT_TRUE(root.journal().empty());
  EXPECT_TRUE(root.events().empty());
  EXPECT_TRUE(debug.contains("PostResponse: Missing field are_time\r\n"));
}

TEST_F(FormsTest, UnknownFieldIsSkippedAndTheRestApplied) {
  std::unique_ptr<PostResponse> handler(createTriggerHoldForm());
  FieldValues values = kTriggerHoldPost;
  values.insert(values.begin() + 1, {"submit", "Save"});
  FakeEcb fake("POST", "/arc_management/trigger_hold_edit.min.html");
  fake.setBody(parsertest::contentTypeFor(kBoundary), parsertest::plainBody(kBoundary, values), 0, 3);
  EXPECT_EQ(root.page("arc_management/trigger_hold_edit.min.html"), text(handler->post(fake.ecb())));
  EXPECT_EQ("\r\nPostResponse::post --> Unknown field recieved\r\n", fake.log);
  EXPECT_EQ((std::vector<JournalEntry>{pcodeRow(118, 500), pcodeRow(615, 4250)}), root.journal());
}

TEST_F(FormsTest, BrokenBodiesAnswer400AndTheFormKeepsServing) {
  std::unique_ptr<PostResponse> handler(createFactoryResetForm());
  std::string good = parsertest::plainBody(kBoundary, {{"resetsubmit", "Reset"}});
  const std::string broken[] = {
      good.substr(0, good.find("Reset")),                      // truncated in the headers
      good.substr(0, good.size() / 3),                         // truncated early
      "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"resetsubmit\"\r\n\r\n" +
          std::string(40000, 'x'),                              // endless value
      std::string(5000, '\0') + "garbage",                     // no boundary at all
      "--" + kBoundary + "\r\ncontent-disposition: form-data; name=\"resetsubmit\"\r\n\r\nReset\r\n--" +
          kBoundary + "--\r\n",                                // header in the wrong case
  };
  for (const std::string& body : broken) EXPECT_EQ(page400(), text(post(handler.get(), body, 1000)));
  EXPECT_EQ(page400(), text(post(handler.get(), "resetsubmit=Reset", 100, "application/x-www-form-urlencoded")));
  EXPECT_TRUE(root.journal().empty());
  EXPECT_EQ(root.page("data_management/factory_reset.min.html"), text(post(handler.get(), good, 1)));
  EXPECT_EQ(std::vector<JournalEntry>{pcodeRow(149, 1)}, root.journal());
}

// Posts from several threads to one handler: every write journals the record
// of its own post.
TEST_F(FormsTest, ConcurrentPostsToOneFormNeverShareRecords) {
  std::unique_ptr<PostResponse> handler(createTriggerHoldForm());
  DebugCapture quiet(false);
  const int kThreads = 4;
  const int kPosts = 15;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t]() {
      for (int k = 0; k < kPosts; ++k) {
        int delay = t * 100 + k;  // tenths of a second times 100: distinct per post
        FieldValues values = with(with(kTriggerHoldPost, "th_delay_time", std::to_string(delay)),
                                  "th_inactive_time", std::to_string(delay + 1000));
        FakeEcb fake("POST", "/arc_management/trigger_hold_edit.min.html");
        fake.setBody(parsertest::contentTypeFor(kBoundary), parsertest::plainBody(kBoundary, values), 0, 5);
        handler->post(fake.ecb());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::vector<JournalEntry> journal = root.journal();
  ASSERT_EQ(static_cast<size_t>(2 * kThreads * kPosts), journal.size());
  int delays = 0;
  for (const JournalEntry& row : journal) {
    EXPECT_EQ(1, row.count) << row;
    // The record copied into the view matches the call's own code and value.
    size_t comma = row.arguments.find(",\"value\":");
    WORD code = static_cast<WORD>(std::stoi(row.arguments.substr(9, comma - 9)));
    WORD value = static_cast<WORD>(std::stoi(row.arguments.substr(comma + 9)));
    EXPECT_EQ(pcodeRow(code, value).record, row.record) << row;
    if (code == 118) ++delays;
  }
  EXPECT_EQ(kThreads * kPosts, delays);
}

TEST_F(FormsTest, FieldWordsScaleTruncateAndKeepTheLowBits) {
  MimePartMap parts;
  const std::pair<const char*, const char*> values[] = {
      {"s1", "1.5"}, {"s2", "22.7"}, {"s3", "0.35"}, {"s4", "-0.5"}, {"s5", "70000"},
      {"s6", "abc"}, {"s7", "66.5361"}, {"s8", "1e300"}, {"s9", "-1"}, {"s10", "2.9999"},
  };
  for (const auto& value : values) parts.put(new MimePart(SafeCString(value.first), SafeCString(value.second)));
  struct Case {
    const char* field;
    FieldScale scale;
    WORD expected;
  };
  const Case cases[] = {
      {"s1", kTimesThousand, 1500}, {"s2", kTimesTen, 227},      {"s3", kTimesTen, 3},
      {"s4", kTimesTen, 65531},     {"s5", kAsInteger, 4464},    {"s6", kAsInteger, 0},
      {"s6", kTimesTen, 0},         {"s7", kTimesThousand, 1000},   {"s9", kAsInteger, 65535},
      {"s10", kTimesHundred, 299},  {"s10", kAsInteger, 2},
  };
  for (const Case& c : cases) {
    WORD word = 12345;
    ASSERT_TRUE(PostResponse::fieldWord(parts, c.field, c.scale, &word)) << c.field;
    EXPECT_EQ(c.expected, word) << c.field << " x" << c.scale;
  }
  WORD huge = 0;
  EXPECT_TRUE(PostResponse::fieldWord(parts, "s8", kTimesThousand, &huge));  // defined, whatever the bits
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
  EXPECT_EQ(root.page("400.htm"), text(post(&form, parsertest::plainBody(kBoundary, {}))));
  std::u16string longText(200, u'y');
  EXPECT_EQ(1, form.writeLong(longText.c_str()));
  std::vector<quenta::SystemLogRow> rows = root.systemLog();
  ASSERT_EQ(2u, rows.size());
  EXPECT_EQ("Locks changed from webpage.", rows[0].description);
  EXPECT_EQ(9, rows[0].eventType);
  EXPECT_EQ(0, rows[0].first);
  EXPECT_GE(rows[0].time.wYear, 2024);
  EXPECT_EQ(std::string(129, 'y'), rows[1].description);
  EXPECT_EQ(7, rows[1].eventType);
  EXPECT_EQ(1, rows[1].second);
  EXPECT_TRUE(root.events().empty());
  std::vector<JournalEntry> journal = root.journal();
  ASSERT_EQ(2u, journal.size());
  EXPECT_EQ("SetSystemLog", journal[0].setter);
  EXPECT_EQ("SetSystemLogWebChangeView", journal[0].view);
  EXPECT_EQ(568u, journal[0].record.size());
}

TEST_F(FormsTest, ReleasingThePageUnloadsItUntilTheNextAnswer) {
  std::unique_ptr<PostResponse> handler(createFactoryResetForm());
  EXPECT_EQ(0u, handler->pageIdleTime());
  post(handler.get(), {{"resetsubmit", "1"}});
  Sleep(20);
  EXPECT_GE(handler->pageIdleTime(), 10u);
  handler->releasePage();
  EXPECT_EQ(0u, handler->pageIdleTime());
  EXPECT_TRUE(debug.contains("PostResponse: Freedom\r\n"));
  EXPECT_EQ(root.page("data_management/factory_reset.min.html"), text(post(handler.get(), {{"resetsubmit", "1"}})));
}

}  // namespace
