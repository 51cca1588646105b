// The parameter-code generators over a stand-in of the settings database
// library: the calls they make, in order and with which arguments, and what
// they write for each answer the library can give.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "js_vars/PCodeValues.h"
#include "sqlbridge/SqlBridge.h"
#include "tests/js_vars/PCodeExpectations.h"
#include "tests/support/AllocFailure.h"

namespace {

// The stand-in's answer for a code: the result, and the value it writes (also
// with result 0).
struct Answer {
  int result;
  WORD value;
};

std::vector<std::string> calls;  // "GetPCode 602 WebQuentaISAPI_..._View", "ReleaseView 0", ...
std::map<WORD, Answer> answers;

std::string text(LPCWSTR wide) {
  return wide ? std::string(wide, wide + std::char_traits<char16_t>::length(wide)) : "(null)";
}
std::string number(DWORD_PTR handle) { return std::to_string(static_cast<long long>(handle)); }

}  // namespace

// The stand-in of the library's functions.
SQLBRIDGE_API int GetPCode(WORD pcode, WORD* value, LPCWSTR viewName) {
  calls.push_back("GetPCode " + std::to_string(pcode) + " " + text(viewName));
  auto found = answers.find(pcode);
  if (found == answers.end()) return 0;
  *value = found->second.value;
  return found->second.result;
}
SQLBRIDGE_API void ReleaseView(DWORD_PTR releaseHandle) { calls.push_back("ReleaseView " + number(releaseHandle)); }
SQLBRIDGE_API void CleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle) {
  calls.push_back("CleanupView " + number(recordAddress) + " " + number(mapHandle));
}
SQLBRIDGE_API LPVOID CreateView(LPCWSTR viewName, DWORD_PTR* mapHandle) {
  calls.push_back("CreateView " + text(viewName));
  if (mapHandle) *mapHandle = SQLBRIDGE_NO_VIEW;
  return nullptr;
}

namespace {

class PCodeCalls : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    answers.clear();
  }

  static std::string produce(JSVariable* generator) {
    calls.clear();
    std::unique_ptr<SafeCString> text(generator->generate(SafeCString("")));
    return text ? std::string(text->c_str(), text->getLength()) : std::string("(null)");
  }

  // Each code read through the view, each read followed by the no-view calls.
  static std::vector<std::string> reads(const std::vector<WORD>& codes, const std::string& view) {
    std::vector<std::string> expected;
    for (WORD code : codes) {
      expected.insert(expected.end(),
                      {"GetPCode " + std::to_string(code) + " " + view, "ReleaseView 0", "CleanupView -1 -1"});
    }
    return expected;
  }
};

std::string viewOf(const PCodeRow& row) { return std::string("WebQuentaISAPI_") + row.variable + "_View"; }

// Only the result decides: 0 is a value, 65535 is not negative, and a value
// left behind by a call that failed is not shown.
TEST_F(PCodeCalls, EveryRowReadsItsCodeThroughItsViewThenEndsTheNoView) {
  for (DWORD k = 0; k < kPCodeRowCount; ++k) {
    const PCodeRow& row = kPCodeRows[k];
    std::unique_ptr<JSVariable> generator(createPCodeValue(&row));
    ASSERT_TRUE(generator) << row.path;
    for (Answer answer : {Answer{1, 4321}, Answer{1, 0}, Answer{-3, 65535}, Answer{0, 500}}) {
      answers[row.code] = answer;
      EXPECT_EQ(answer.result ? expectedPCodeText(row, answer.value) : std::string("var ") + row.variable + " = " +
                                                                           row.fallback + ";\n",
                produce(generator.get()));
      EXPECT_EQ(reads({row.code}, viewOf(row)), calls);
    }
  }
}

// 666 first, then 662, 663, 664 only while it is nonzero; every result is
// ignored (the words left behind are used), so never an UNAVAILABLE text.
TEST_F(PCodeCalls, DiagnosticsReadTheNumbersOnlyWhileMonitoringIsOn) {
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(nullptr));
  ASSERT_TRUE(diagnostics);
  const std::vector<WORD> off = {666}, on = {666, 662, 663, 664};
  const struct {
    std::map<WORD, Answer> answers;
    std::string text;
    std::vector<WORD> reads;
  } cases[] = {
      {{{666, {1, 0}}, {662, {1, 5}}}, expectedDiagnostics(0, 0, 0, 0), off},
      {{{666, {1, 2}}, {662, {1, 10}}, {663, {1, 20}}, {664, {1, 65535}}}, expectedDiagnostics(2, 10, 20, 65535), on},
      // Switched off again: the previous generation's numbers are not kept.
      {{{666, {1, 0}}, {662, {1, 10}}, {663, {1, 20}}, {664, {1, 65535}}}, expectedDiagnostics(0, 0, 0, 0), off},
      {{}, expectedDiagnostics(0, 0, 0, 0), off},
      {{{666, {0, 1}}, {663, {0, 33}}}, expectedDiagnostics(1, 0, 33, 0), on},
  };
  for (size_t k = 0; k < sizeof cases / sizeof cases[0]; ++k) {
    SCOPED_TRACE(k);
    answers = cases[k].answers;
    EXPECT_EQ(cases[k].text, produce(diagnostics.get()));
    EXPECT_EQ(reads(cases[k].reads, "WebQuentaISAPI_WeldMonitorDiagnostics_View"), calls);
  }
}

TEST_F(PCodeCalls, NoAllocationFailureLeaksOrBreaksTheCallOrder) {
  const PCodeRow& totalArcHours = kPCodeRows[5];
  ASSERT_EQ(602, totalArcHours.code);
  std::unique_ptr<JSVariable> generator(createPCodeValue(&totalArcHours));
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(nullptr));
  answers[602] = {1, 1234};
  answers[666] = {1, 1};
  for (JSVariable* subject : {generator.get(), diagnostics.get()}) {
    unsigned long runs = AllocFailure::failEachAllocation([&](unsigned long) {
      calls.reserve(64);
      delete subject->generate(SafeCString(""));
      // Whatever failed, every read is still followed by its two no-view calls.
      EXPECT_EQ(0u, calls.size() % 3);
      for (size_t k = 0; k + 2 < calls.size(); k += 3) {
        EXPECT_EQ(0u, calls[k].find("GetPCode "));
        EXPECT_EQ("ReleaseView 0", calls[k + 1]);
        EXPECT_EQ("CleanupView -1 -1", calls[k + 2]);
      }
      calls.clear();
    });
    EXPECT_GT(runs, 0u);
  }
}

}  // namespace
