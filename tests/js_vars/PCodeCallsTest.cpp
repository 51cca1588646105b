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

struct Call {
  std::string name;
  WORD code;
  std::u16string view;
  DWORD_PTR first;
  DWORD_PTR second;
};

// What the stand-in answers for a code: the result, and the value it writes
// (also when the result is 0, to show that only the result counts).
struct Answer {
  int result;
  WORD value;
};

std::vector<Call> calls;
std::map<WORD, Answer> answers;

}  // namespace

// The stand-in: defined in the test program, these take the place of the
// library's functions for every call the module makes.
SQLBRIDGE_API int GetPCode(WORD pcode, WORD* value, LPCWSTR viewName) {
  calls.push_back({"GetPCode", pcode, viewName ? std::u16string(viewName) : u"(null)", 0, 0});
  auto found = answers.find(pcode);
  if (found == answers.end()) return 0;
  *value = found->second.value;
  return found->second.result;
}

SQLBRIDGE_API void ReleaseView(DWORD_PTR releaseHandle) {
  calls.push_back({"ReleaseView", 0, u"", releaseHandle, 0});
}

SQLBRIDGE_API void CleanupView(DWORD_PTR recordAddress, DWORD_PTR mapHandle) {
  calls.push_back({"CleanupView", 0, u"", recordAddress, mapHandle});
}

SQLBRIDGE_API LPVOID CreateView(LPCWSTR viewName, DWORD_PTR* mapHandle) {
  calls.push_back({"CreateView", 0, viewName ? std::u16string(viewName) : u"(null)", 0, 0});
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
    std::unique_ptr<SafeCString> text(generator->generate(SafeCString("")));
    return text ? std::string(text->c_str(), text->getLength()) : std::string("(null)");
  }

  // GetPCode(code, view), then the no-view ReleaseView and CleanupView.
  static void expectRead(size_t at, WORD code, const std::u16string& view) {
    ASSERT_LE(at + 3, calls.size());
    EXPECT_EQ("GetPCode", calls[at].name);
    EXPECT_EQ(code, calls[at].code);
    EXPECT_TRUE(view == calls[at].view) << "view of call " << at;
    EXPECT_EQ("ReleaseView", calls[at + 1].name);
    EXPECT_EQ(SQLBRIDGE_NO_RELEASE, calls[at + 1].first);
    EXPECT_EQ("CleanupView", calls[at + 2].name);
    EXPECT_EQ(SQLBRIDGE_NO_VIEW, calls[at + 2].first);
    EXPECT_EQ(SQLBRIDGE_NO_VIEW, calls[at + 2].second);
  }
};

std::u16string viewOf(const ExpectedPCodeFile& file) {
  // The variable is what stands between "var " and " = " in the expected text.
  std::string prefix = file.prefix;
  std::string variable = prefix.substr(4, prefix.find(" = ") - 4);
  return u"WebQuentaISAPI_" + std::u16string(variable.begin(), variable.end()) + u"_View";
}

TEST_F(PCodeCalls, EveryRowReadsItsCodeThroughItsViewThenEndsTheNoView) {
  for (const auto& file : kExpectedPCodeFiles) {
    std::unique_ptr<JSVariable> generator(createPCodeValue(file.path));
    ASSERT_TRUE(generator) << file.path;
    for (int result : {1, 0}) {
      calls.clear();
      answers[file.code] = {result, 4321};
      std::string text = produce(generator.get());
      EXPECT_EQ(result ? expectedPCodeText(file, 4321) : file.fallback, text);
      ASSERT_EQ(3u, calls.size()) << file.path;
      expectRead(0, file.code, viewOf(file));
    }
  }
}

TEST_F(PCodeCalls, OnlyTheResultDecides) {
  std::unique_ptr<JSVariable> generator(createPCodeValue("/welder-config/PurgeTime.js"));
  answers[628] = {1, 0};
  EXPECT_EQ("var PurgeTime = {Time:0};\n", produce(generator.get()));
  answers[628] = {-3, 65535};  // any nonzero result is a value read
  EXPECT_EQ("var PurgeTime = {Time:65535};\n", produce(generator.get()));
  answers[628] = {0, 500};  // written, but not read
  EXPECT_EQ("var PurgeTime = 'PURGE TIME UNAVAILABLE';\n", produce(generator.get()));
}

TEST_F(PCodeCalls, DiagnosticsWithMonitoringOffMakeOneRead) {
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(kDiagnosticsPath));
  answers[666] = {1, 0};
  answers[662] = {1, 5};
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), produce(diagnostics.get()));
  ASSERT_EQ(3u, calls.size());
  expectRead(0, 666, u"WebQuentaISAPI_WeldMonitorDiagnostics_View");
}

TEST_F(PCodeCalls, DiagnosticsWithMonitoringOnReadFourCodesInOrder) {
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(kDiagnosticsPath));
  answers[666] = {1, 2};
  answers[662] = {1, 10};
  answers[663] = {1, 20};
  answers[664] = {1, 65535};
  EXPECT_EQ(expectedDiagnostics(2, 10, 20, 65535), produce(diagnostics.get()));
  ASSERT_EQ(12u, calls.size());
  const WORD order[] = {666, 662, 663, 664};
  for (size_t k = 0; k < 4; ++k) expectRead(3 * k, order[k], u"WebQuentaISAPI_WeldMonitorDiagnostics_View");

  // Switched off again: the numbers of the previous generation are not kept.
  calls.clear();
  answers[666] = {1, 0};
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), produce(diagnostics.get()));
  EXPECT_EQ(3u, calls.size());
}

TEST_F(PCodeCalls, DiagnosticsIgnoreEveryResult) {
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(kDiagnosticsPath));
  // Nothing answers: four zeros, no fallback text.
  EXPECT_EQ(expectedDiagnostics(0, 0, 0, 0), produce(diagnostics.get()));
  EXPECT_EQ(3u, calls.size());
  // Calls that report failure but leave words behind: the words are used.
  calls.clear();
  answers[666] = {0, 1};
  answers[663] = {0, 33};
  EXPECT_EQ(expectedDiagnostics(1, 0, 33, 0), produce(diagnostics.get()));
  EXPECT_EQ(12u, calls.size());
}

TEST_F(PCodeCalls, NoAllocationFailureLeaksOrBreaksTheCallOrder) {
  std::unique_ptr<JSVariable> generator(createPCodeValue("/logs/TotalArcHours.js"));
  std::unique_ptr<JSVariable> diagnostics(createWeldMonitorDiagnostics(kDiagnosticsPath));
  answers[602] = {1, 1234};
  answers[666] = {1, 1};
  for (JSVariable* subject : {generator.get(), diagnostics.get()}) {
    unsigned long runs = AllocFailure::failEachAllocation([&](unsigned long) {
      calls.reserve(64);
      size_t first = calls.size();
      delete subject->generate(SafeCString(""));
      // Whatever failed, every read is still followed by its two no-view calls.
      size_t made = calls.size() - first;
      EXPECT_EQ(0u, made % 3);
      for (size_t k = first; k < calls.size(); k += 3) {
        EXPECT_EQ("GetPCode", calls[k].name);
        EXPECT_EQ("ReleaseView", calls[k + 1].name);
        EXPECT_EQ("CleanupView", calls[k + 2].name);
      }
      calls.clear();
    });
    EXPECT_GT(runs, 0u);
  }
}

}  // namespace
