// JSVariable and JSArrayVariable: the declaration format, the query handed to
// getValue, the query lookup rules and the array text.
#include "core/JSVariable.h"

#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <strsafe.h>

#include "tests/support/AllocFailure.h"

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// A generator with a fixed value text that also lets the tests look at its
// query while getValue runs.
class ProbeVariable : public JSVariable {
 public:
  ProbeVariable(const char* name, const char* value) : JSVariable(SafeCString(name)), value(value) {}

  SafeCString* getValue() override {
    ++calls;
    seenQuery = text(parameters);
    SafeCString found;
    seenB = getParameter(SafeCString("b"), &found) ? text(found) : "-";
    if (returnNull) {
      return nullptr;
    }
    return new (std::nothrow) SafeCString(value);
  }

  void setQuery(const char* query) { parameters = SafeCString(query); }
  bool lookup(const char* key, SafeCString* out) { return getParameter(SafeCString(key), out); }
  std::string currentQuery() const { return text(parameters); }
  using JSVariable::pair;
  using JSVariable::quote;

  const char* value;
  bool returnNull = false;
  int calls = 0;
  std::string seenQuery;
  std::string seenB;
};

TEST(JSVariableGenerate, DeclarationValueSemicolonLineFeed) {
  ProbeVariable x("X", "7");
  SafeCString* line = x.generate(SafeCString(""));
  ASSERT_NE(nullptr, line);
  EXPECT_EQ("var X = 7;\n", text(*line));
  EXPECT_EQ(11u, line->getLength());
  EXPECT_EQ(S_OK, line->getStatus());
  delete line;

  ProbeVariable total("TotalArcHours", "{TotalArcHours:1234}");
  line = total.generate(SafeCString(""));
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:1234};\n", text(*line));
  delete line;
  EXPECT_EQ("TotalArcHours", text(total.getName()));
}

TEST(JSVariableGenerate, QueryIsVisibleOnlyWhileGetValueRuns) {
  ProbeVariable x("X", "1");
  delete x.generate(SafeCString("a=1&b=22"));
  EXPECT_EQ("a=1&b=22", x.seenQuery);
  EXPECT_EQ("22", x.seenB);
  EXPECT_EQ("", x.currentQuery());
  EXPECT_FALSE(x.lookup("a", nullptr));

  // A query without a buffer leaves the erased, empty parameters.
  delete x.generate(SafeCString(static_cast<const char*>(nullptr)));
  EXPECT_EQ("", x.seenQuery);
  EXPECT_EQ("-", x.seenB);
}

TEST(JSVariableGenerate, NullAndFailedValues) {
  ProbeVariable nothing("N", "x");
  nothing.returnNull = true;
  EXPECT_EQ(nullptr, nothing.generate(SafeCString("q=1")));
  EXPECT_EQ("", nothing.currentQuery());

  // A value that failed goes back without a declaration around it.
  class FailedValue : public JSVariable {
   public:
    FailedValue() : JSVariable(SafeCString("F")) {}
    SafeCString* getValue() override { return new (std::nothrow) SafeCString(1e30); }
  } failed;
  SafeCString* line = failed.generate(SafeCString(""));
  ASSERT_NE(nullptr, line);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, line->getStatus());
  EXPECT_EQ("", text(*line));
  delete line;
}

TEST(JSVariableParameters, LookupRules) {
  ProbeVariable v("V", "0");
  SafeCString out("unchanged");

  v.setQuery("a=1&b=2");
  EXPECT_TRUE(v.lookup("b", &out));
  EXPECT_EQ("2", text(out));
  EXPECT_TRUE(v.lookup("a", &out));
  EXPECT_EQ("1", text(out));

  v.setQuery("a=1");
  out = SafeCString("unchanged");
  EXPECT_FALSE(v.lookup("c", &out));
  EXPECT_EQ("unchanged", text(out));
  EXPECT_TRUE(v.lookup("a", nullptr));
  EXPECT_FALSE(v.lookup("c", nullptr));
  EXPECT_FALSE(v.lookup("", &out));

  // Plain substring search: "id" is found inside "gridid".
  v.setQuery("gridid=3");
  EXPECT_TRUE(v.lookup("id", &out));
  EXPECT_EQ("3", text(out));

  // A key without "=" after it is no value, and out stays as it was.
  v.setQuery("x=1&flag");
  out = SafeCString("unchanged");
  EXPECT_FALSE(v.lookup("flag", &out));
  EXPECT_EQ("unchanged", text(out));
  EXPECT_TRUE(v.lookup("flag", nullptr));

  // The "=" searched for is the first one at or after the key, wherever it is.
  v.setQuery("b&a=1");
  EXPECT_TRUE(v.lookup("b", &out));
  EXPECT_EQ("1", text(out));

  v.setQuery("name=a%20b&empty=");
  EXPECT_TRUE(v.lookup("name", &out));
  EXPECT_EQ("a%20b", text(out));
  EXPECT_TRUE(v.lookup("empty", &out));
  EXPECT_EQ("", text(out));
}

TEST(JSVariableHelpers, QuoteAndPairDoNotEscape) {
  EXPECT_EQ("'it's'", text(ProbeVariable::quote(SafeCString("it's"))));
  EXPECT_EQ("''", text(ProbeVariable::quote(SafeCString(""))));
  EXPECT_EQ("weldNumber:3", text(ProbeVariable::pair(SafeCString("weldNumber"), SafeCString("3"))));
  EXPECT_EQ(":", text(ProbeVariable::pair(SafeCString(""), SafeCString(""))));
}

TEST(JSVariableHelpers, SharedConstants) {
  const std::vector<std::pair<const SafeCString*, std::string>> expected = {
      {&JS_QUOTE, "'"},      {&JS_EMPTY_QUOTE, "''"},   {&JS_ZERO, "0"},
      {&JS_ONE, "1"},        {&JS_DAYS, " Days "},      {&JS_COLON, ":"},
      {&JS_COMMA, ","},      {&JS_SPACE, " "},          {&JS_OPEN_BRACE, "{"},
      {&JS_CLOSE_BRACE, "}"}, {&JS_AMPERSAND, "&"},     {&JS_EQUALS, "="},
  };
  for (const auto& row : expected) {
    EXPECT_EQ(row.second, text(*row.first));
  }
}

// ---- Arrays ------------------------------------------------------------------

class ListVariable : public JSArrayVariable {
 public:
  ListVariable(std::vector<std::string> items) : JSArrayVariable(SafeCString("List")), items(items) {}
  DWORD count() override { return static_cast<DWORD>(items.size()); }
  SafeCString* element(DWORD index) override {
    ++made;
    if (index == nullAt) {
      return nullptr;
    }
    return new (std::nothrow) SafeCString(items[index].c_str());
  }
  std::vector<std::string> items;
  DWORD nullAt = 0xFFFFFFFFu;
  int made = 0;
};

TEST(JSArrayVariable, ArrayText) {
  ListVariable none({});
  SafeCString* value = none.getValue();
  EXPECT_EQ("new Array()", text(*value));
  delete value;

  ListVariable one({"'a'"});
  value = one.getValue();
  EXPECT_EQ("new Array('a')", text(*value));
  delete value;

  ListVariable two({"a", "b"});
  value = two.generate(SafeCString(""));
  EXPECT_EQ("var List = new Array(a,b);\n", text(*value));
  delete value;

  // An empty element still takes its place between the commas.
  ListVariable gap({"1", "", "3"});
  value = gap.getValue();
  EXPECT_EQ("new Array(1,,3)", text(*value));
  EXPECT_EQ(S_OK, value->getStatus());
  delete value;
}

TEST(JSArrayVariable, ElementsAreFreedAndAMissingOneFailsTheArray) {
  ListVariable many({"10", "20", "30", "40"});
  ListVariable broken({"1", "2", "3"});
  broken.nullAt = 1;
  long before = AllocFailure::liveAllocations();
  SafeCString* value = many.getValue();
  EXPECT_EQ(before + 2, AllocFailure::liveAllocations());  // the string and its buffer
  EXPECT_EQ(4, many.made);
  delete value;
  EXPECT_EQ(before, AllocFailure::liveAllocations());

  EXPECT_EQ(nullptr, broken.getValue());
  EXPECT_EQ(2, broken.made);
  EXPECT_EQ(before, AllocFailure::liveAllocations());
  EXPECT_EQ(nullptr, broken.generate(SafeCString("")));

  // The base class has no elements.
  class Bare : public JSArrayVariable {
   public:
    Bare() : JSArrayVariable(SafeCString("Bare")) {}
    SafeCString* probe(DWORD i) { return element(i); }
  } bare;
  EXPECT_EQ(0u, bare.count());
  EXPECT_EQ(nullptr, bare.probe(0));
}

}  // namespace
