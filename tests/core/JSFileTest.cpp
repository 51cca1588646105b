// JSFile: path matching, the rebuild rule, the text of several generators and
// a rebuild that stops at a failed generator.
#include "core/JSFile.h"

#include <atomic>
#include <new>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// A generator whose value, refresh answer and failure are set by the test,
// and which counts what it is asked.
class ScriptedVariable : public JSVariable {
 public:
  ScriptedVariable(const char* name, const char* value)
      : JSVariable(SafeCString(name)), value(value) {}

  bool refresh() override {
    ++refreshCalls;
    return refreshAnswer;
  }
  SafeCString* getValue() override {
    ++valueCalls;
    lastParameters = text(parameters);
    if (fail) {
      return new (std::nothrow) SafeCString(1e30);
    }
    return new (std::nothrow) SafeCString(value.c_str());
  }

  std::string value;
  bool refreshAnswer = true;
  bool fail = false;
  int refreshCalls = 0;
  int valueCalls = 0;
  std::string lastParameters;
};

TEST(JSFileBasics, MatchesThePathExactly) {
  JSFile file(SafeCString("/logs/TotalArcHours.js"));
  EXPECT_TRUE(file.matches(SafeCString("/logs/TotalArcHours.js")));
  EXPECT_FALSE(file.matches(SafeCString("/logs/totalarchours.js")));
  EXPECT_FALSE(file.matches(SafeCString("/logs/TotalArcHours.j")));
  EXPECT_FALSE(file.matches(SafeCString("/logs/TotalArcHours.js?")));
  EXPECT_FALSE(file.matches(SafeCString("")));
  EXPECT_EQ("/logs/TotalArcHours.js", text(file.getPath()));
}

TEST(JSFileBasics, HoldsAtMostFourGenerators) {
  JSFile file(SafeCString("/x.js"));
  ScriptedVariable v("V", "1");
  EXPECT_FALSE(file.addVariable(nullptr));
  for (int i = 0; i < 4; ++i) {
    EXPECT_TRUE(file.addVariable(&v));
  }
  EXPECT_FALSE(file.addVariable(&v));
  EXPECT_EQ(4u, file.variableCount());
}

TEST(JSFileProduce, OneLinePerGeneratorInOrder) {
  JSFile file(SafeCString("/two.js"));
  ScriptedVariable first("A", "1");
  ScriptedVariable second("B", "'two'");
  file.addVariable(&first);
  file.addVariable(&second);
  SafeCString* output = file.produce(SafeCString("k=v"));
  EXPECT_EQ("var A = 1;\nvar B = 'two';\n", text(*output));
  EXPECT_EQ("k=v", first.lastParameters);
  EXPECT_EQ("k=v", second.lastParameters);
  // The same object every time: the server sends it without copying.
  EXPECT_EQ(output, file.produce(SafeCString("k=v")));
}

TEST(JSFileProduce, NoRefreshAndSameQuerySendsTheSameText) {
  JSFile file(SafeCString("/status.js"));
  ScriptedVariable v("S", "1");
  v.refreshAnswer = false;
  file.addVariable(&v);

  std::string firstText = text(*file.produce(SafeCString("q=1")));
  EXPECT_EQ("var S = 1;\n", firstText);
  EXPECT_EQ(1, v.valueCalls);
  // No text yet: refresh was not even asked.
  EXPECT_EQ(0, v.refreshCalls);

  v.value = "2";
  EXPECT_EQ(firstText, text(*file.produce(SafeCString("q=1"))));
  EXPECT_EQ(1, v.valueCalls);
  EXPECT_EQ(1, v.refreshCalls);

  // A different query rebuilds without asking refresh.
  EXPECT_EQ("var S = 2;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ(2, v.valueCalls);
  EXPECT_EQ(1, v.refreshCalls);

  // The query is compared with the previous request's, not the first one's.
  EXPECT_EQ("var S = 2;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ(2, v.valueCalls);

  v.refreshAnswer = true;
  v.value = "3";
  EXPECT_EQ("var S = 3;\n", text(*file.produce(SafeCString("q=2"))));
  EXPECT_EQ(3, v.valueCalls);
}

TEST(JSFileProduce, FirstRefreshThatAsksDecides) {
  JSFile file(SafeCString("/three.js"));
  ScriptedVariable a("A", "1");
  ScriptedVariable b("B", "2");
  ScriptedVariable c("C", "3");
  a.refreshAnswer = false;
  b.refreshAnswer = true;
  file.addVariable(&a);
  file.addVariable(&b);
  file.addVariable(&c);
  file.produce(SafeCString(""));
  EXPECT_TRUE(file.needsRebuild(SafeCString("")));
  EXPECT_EQ(1, a.refreshCalls);
  EXPECT_EQ(1, b.refreshCalls);
  EXPECT_EQ(0, c.refreshCalls);

  b.refreshAnswer = false;
  c.refreshAnswer = false;
  EXPECT_FALSE(file.needsRebuild(SafeCString("")));
  file.clearOutput();
  EXPECT_TRUE(file.needsRebuild(SafeCString("")));
}

TEST(JSFileProduce, FailedGeneratorStopsTheRebuild) {
  JSFile file(SafeCString("/partial.js"));
  ScriptedVariable good("G", "1");
  ScriptedVariable bad("B", "x");
  ScriptedVariable after("C", "3");
  bad.fail = true;
  file.addVariable(&good);
  file.addVariable(&bad);
  file.addVariable(&after);

  EXPECT_FALSE(file.rebuild(SafeCString("")));
  EXPECT_EQ(0, after.valueCalls);

  // produce sends what was made before the failure.
  good.refreshAnswer = false;
  bad.refreshAnswer = false;
  after.refreshAnswer = false;
  SafeCString* output = file.produce(SafeCString(""));
  EXPECT_EQ("var G = 1;\n", text(*output));
  EXPECT_EQ(0, after.valueCalls);

  // Once the generator recovers, the whole text comes back.
  bad.fail = false;
  EXPECT_TRUE(file.rebuild(SafeCString("")));
  EXPECT_EQ("var G = 1;\nvar B = x;\nvar C = 3;\n", text(*output));
  EXPECT_EQ(S_OK, output->getStatus());
}

TEST(JSFileProduce, EmptyTextIsRebuiltEvenWithoutRefresh) {
  JSFile file(SafeCString("/empty.js"));
  ScriptedVariable v("E", "1");
  v.refreshAnswer = false;
  v.fail = true;
  file.addVariable(&v);
  EXPECT_EQ("", text(*file.produce(SafeCString(""))));
  v.fail = false;
  EXPECT_EQ("var E = 1;\n", text(*file.produce(SafeCString(""))));
  EXPECT_EQ(2, v.valueCalls);
}

TEST(JSFileLock, ExcludesOtherThreadsAndIsRecursive) {
  JSFile file(SafeCString("/locked.js"));
  std::atomic<bool> entered{false};
  file.lock();
  file.lock();
  file.unlock();
  std::thread other([&] {
    file.lock();
    entered = true;
    file.unlock();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(entered.load());
  file.unlock();
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
