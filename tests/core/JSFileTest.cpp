// JSFile: path matching, the rebuild rule, the text of several generators and
// a rebuild that stops at a failed generator.
#include "core/JSFile.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// A generator whose value, refresh answer and failure are set by the test,
// and which counts what it is asked.
class ScriptedVariable : public JSVariable {
 public:
  ScriptedVariable(const char* name, const char* value) : JSVariable(SafeCString(name)), value(value) {}
  bool refresh() override { ++refreshCalls; return refreshAnswer; }
  SafeCString* getValue() override {
    ++valueCalls;
    lastParameters = text(parameters);
    return fail ? new (std::nothrow) SafeCString(1e30) : new (std::nothrow) SafeCString(value.c_str());
  }
  std::string value;
  bool refreshAnswer = true;
  bool fail = false;
  int refreshCalls = 0;
  int valueCalls = 0;
  std::string lastParameters;
  std::pair<int, int> calls() const { return {valueCalls, refreshCalls}; }
};

TEST(JSFileBasics, MatchesThePathExactlyAndHoldsFourGenerators) {
  JSFile file(SafeCString("/logs/TotalArcHours.js"));
  EXPECT_TRUE(file.matches(SafeCString("/logs/TotalArcHours.js")));
  for (const char* other : {"/logs/totalarchours.js", "/logs/TotalArcHours.j", "/logs/TotalArcHours.js?", ""})
    EXPECT_FALSE(file.matches(SafeCString(other))) << other;
  EXPECT_EQ("/logs/TotalArcHours.js", text(file.getPath()));

  ScriptedVariable v("V", "1");
  EXPECT_FALSE(file.addVariable(nullptr));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(file.addVariable(&v));
  EXPECT_FALSE(file.addVariable(&v));
  EXPECT_EQ(4u, file.variableCount());
}

TEST(JSFileProduce, NoRefreshAndSameQuerySendsTheSameText) {
  JSFile file(SafeCString("/status.js"));
  ScriptedVariable v("S", "1");
  v.refreshAnswer = false;
  file.addVariable(&v);
  // No text yet: rebuilt without asking refresh.
  EXPECT_EQ("var S = 1;\n", text(*file.produce(SafeCString("q=1"))));
  EXPECT_EQ(std::make_pair(1, 0), v.calls());

  v.value = "2";
  EXPECT_EQ("var S = 1;\n", text(*file.produce(SafeCString("q=1"))));
  EXPECT_EQ(std::make_pair(1, 1), v.calls());
  // A different query rebuilds without asking refresh; the next request
  // compares with that query, not the first one.
  EXPECT_EQ("var S = 2;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ("var S = 2;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ(std::make_pair(2, 2), v.calls());

  v.refreshAnswer = true;
  v.value = "3";
  EXPECT_EQ("var S = 3;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ(3, v.valueCalls);
}

TEST(JSFileProduce, OneLinePerGeneratorAndTheFirstRefreshThatAsksDecides) {
  JSFile file(SafeCString("/three.js"));
  ScriptedVariable a("A", "1"), b("B", "'two'"), c("C", "3");
  a.refreshAnswer = false;
  for (ScriptedVariable* v : {&a, &b, &c}) file.addVariable(v);
  SafeCString* output = file.produce(SafeCString("k=v"));
  EXPECT_EQ("var A = 1;\nvar B = 'two';\nvar C = 3;\n", text(*output));
  EXPECT_EQ("k=v", a.lastParameters);
  EXPECT_EQ("k=v", c.lastParameters);
  // The same object every time: the server sends it without copying.
  EXPECT_EQ(output, file.produce(SafeCString("k=v")));
  a.refreshCalls = b.refreshCalls = 0;
  EXPECT_TRUE(file.needsRebuild(SafeCString("k=v")));
  EXPECT_EQ(std::vector<int>({1, 1, 0}), std::vector<int>({a.refreshCalls, b.refreshCalls, c.refreshCalls}));

  b.refreshAnswer = c.refreshAnswer = false;
  EXPECT_FALSE(file.needsRebuild(SafeCString("k=v")));
  file.clearOutput();
  EXPECT_TRUE(file.needsRebuild(SafeCString("k=v")));
}

TEST(JSFileProduce, FailedGeneratorStopsTheRebuild) {
  JSFile file(SafeCString("/partial.js"));
  ScriptedVariable good("G", "1"), bad("B", "x"), after("C", "3");
  bad.fail = true;
  for (ScriptedVariable* v : {&good, &bad, &after}) {
    v->refreshAnswer = false;
    file.addVariable(v);
  }
  EXPECT_FALSE(file.rebuild(SafeCString("")));
  EXPECT_EQ(0, after.valueCalls);
  // produce sends what was made before the failure.
  SafeCString* output = file.produce(SafeCString(""));
  EXPECT_EQ("var G = 1;\n", text(*output));

  // Once the generator recovers, the whole text comes back.
  bad.fail = false;
  EXPECT_TRUE(file.rebuild(SafeCString("")));
  EXPECT_EQ("var G = 1;\nvar B = x;\nvar C = 3;\n", text(*output));
  EXPECT_EQ(S_OK, output->getStatus());

  // An empty text is rebuilt even when no generator asks for it.
  JSFile empty(SafeCString("/empty.js"));
  bad.fail = true;
  bad.valueCalls = 0;
  empty.addVariable(&bad);
  EXPECT_EQ("", text(*empty.produce(SafeCString(""))));
  bad.fail = false;
  EXPECT_EQ("var B = x;\n", text(*empty.produce(SafeCString(""))));
  EXPECT_EQ(2, bad.valueCalls);
}

}  // namespace
