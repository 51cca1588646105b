// JSVariable and JSArrayVariable: the declaration format, the query handed to
// getValue, the query lookup rules and the array text.
#include "core/JSVariable.h"

#include <memory>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <strsafe.h>

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// A fixed value text; records the query it saw while getValue ran.
class ProbeVariable : public JSVariable {
 public:
  ProbeVariable(const char* name, const char* value) : JSVariable(SafeCString(name)), value(value) {}
  SafeCString* getValue() override {
    seenQuery = text(parameters);
    SafeCString found;
    seenB = getParameter(SafeCString("b"), &found) ? text(found) : "-";
    return value == nullptr ? nullptr : new (std::nothrow) SafeCString(value);
  }
  using JSVariable::getParameter;
  using JSVariable::pair;
  using JSVariable::quote;
  using JSVariable::parameters;

  const char* value;
  std::string seenQuery;
  std::string seenB;
};

TEST(JSVariableGenerate, DeclarationQueryAndFailedValues) {
  ProbeVariable x("X", "7");
  std::unique_ptr<SafeCString> line(x.generate(SafeCString("")));
  EXPECT_EQ("var X = 7;\n", text(*line));
  EXPECT_EQ(S_OK, line->getStatus());
  ProbeVariable total("TotalArcHours", "{TotalArcHours:1234}");
  line.reset(total.generate(SafeCString("")));
  EXPECT_EQ("var TotalArcHours = {TotalArcHours:1234};\n", text(*line));
  EXPECT_EQ("TotalArcHours", text(total.getName()));

  // The query is visible only while getValue runs.
  delete x.generate(SafeCString("a=1&b=22"));
  EXPECT_EQ("a=1&b=22", x.seenQuery);
  EXPECT_EQ("22", x.seenB);
  EXPECT_EQ("", text(x.parameters));
  // A query without a buffer leaves the erased, empty parameters.
  delete x.generate(SafeCString(static_cast<const char*>(nullptr)));
  EXPECT_EQ("", x.seenQuery);
  EXPECT_EQ("-", x.seenB);

  ProbeVariable nothing("N", nullptr);
  EXPECT_EQ(nullptr, nothing.generate(SafeCString("q=1")));
  EXPECT_EQ("", text(nothing.parameters));
  // A value that failed goes back without a declaration around it.
  struct FailedValue : JSVariable {
    FailedValue() : JSVariable(SafeCString("F")) {}
    SafeCString* getValue() override { return new (std::nothrow) SafeCString(1e30); }
  } failedValue;
  line.reset(failedValue.generate(SafeCString("")));
  ASSERT_NE(nullptr, line);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, line->getStatus());
  EXPECT_EQ("", text(*line));
}

TEST(JSVariableParameters, LookupRules) {
  // out == nullptr: the presence test. A failed lookup leaves out unchanged.
  const struct { const char* query; const char* key; bool withOut; bool found; const char* out; } rows[] = {
      {"a=1&b=2", "b", true, true, "2"},      {"a=1&b=2", "a", true, true, "1"},
      {"a=1", "c", true, false, "unchanged"}, {"a=1", "a", false, true, ""},
      {"a=1", "c", false, false, ""},         {"a=1", "", true, false, "unchanged"},
      // Plain substring search: "id" is found inside "gridid".
      {"gridid=3", "id", true, true, "3"},
      // A key without "=" after it is present but has no value.
      {"x=1&flag", "flag", true, false, "unchanged"}, {"x=1&flag", "flag", false, true, ""},
      // The "=" searched for is the first one at or after the key.
      {"b&a=1", "b", true, true, "1"},
      {"name=a%20b&empty=", "name", true, true, "a%20b"}, {"name=a%20b&empty=", "empty", true, true, ""},
  };
  ProbeVariable v("V", "0");
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.query) + " / " + row.key);
    v.parameters = SafeCString(row.query);
    SafeCString out("unchanged");
    EXPECT_EQ(row.found, v.getParameter(SafeCString(row.key), row.withOut ? &out : nullptr));
    if (row.withOut) {
      EXPECT_EQ(row.out, text(out));
    }
  }
}

TEST(JSVariableHelpers, QuoteAndPairOfEmptyTexts) {
  EXPECT_EQ("'it's'", text(ProbeVariable::quote(SafeCString("it's"))));
  EXPECT_EQ("''", text(ProbeVariable::quote(SafeCString(""))));
  EXPECT_EQ("weldNumber:3", text(ProbeVariable::pair(SafeCString("weldNumber"), SafeCString("3"))));
  EXPECT_EQ(":", text(ProbeVariable::pair(SafeCString(""), SafeCString(""))));
}

// ---- Arrays ------------------------------------------------------------------

class ListVariable : public JSArrayVariable {
 public:
  ListVariable(std::vector<std::string> items) : JSArrayVariable(SafeCString("List")), items(items) {}
  DWORD count() override { return static_cast<DWORD>(items.size()); }
  SafeCString* element(DWORD index) override {
    ++made;
    return index == nullAt ? nullptr : new (std::nothrow) SafeCString(items[index].c_str());
  }
  std::vector<std::string> items;
  DWORD nullAt = 0xFFFFFFFFu;
  int made = 0;
};

TEST(JSArrayVariable, ArrayTextAndAMissingElement) {
  const struct { std::vector<std::string> items; const char* value; } rows[] = {
      // An empty element still takes its place between the commas.
      {{}, "new Array()"}, {{"'a'"}, "new Array('a')"},
      {{"a", "b"}, "new Array(a,b)"}, {{"1", "", "3"}, "new Array(1,,3)"},
  };
  for (const auto& row : rows) {
    std::unique_ptr<SafeCString> value(ListVariable(row.items).getValue());
    EXPECT_EQ(row.value, text(*value));
    EXPECT_EQ(S_OK, value->getStatus());
  }
  std::unique_ptr<SafeCString> line(ListVariable({"a", "b"}).generate(SafeCString("")));
  EXPECT_EQ("var List = new Array(a,b);\n", text(*line));

  // A missing element fails the array. (The elements are freed whatever
  // happens: the allocation sweep checks it.)
  ListVariable broken({"1", "2", "3"});
  broken.nullAt = 1;
  EXPECT_EQ(nullptr, broken.getValue());
  EXPECT_EQ(2, broken.made);
  EXPECT_EQ(nullptr, broken.generate(SafeCString("")));
}

}  // namespace
