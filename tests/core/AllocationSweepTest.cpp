// Every allocation of the core operations is made to fail in turn. Whatever
// failed, nothing crashes or leaks, the failure shows in the status, and a
// string whose own allocation failed is left empty without a buffer.
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include <gtest/gtest.h>
#include <windows.h>

#include "core/JSFile.h"
#include "core/JSVariable.h"
#include "core/SafeString.h"
#include "core/StatusName.h"
#include "tests/support/AllocFailure.h"
#include "tests/platform/TempRoot.h"

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string() : std::string(s.c_str(), s.getLength());
}

// Builds an operand without letting the injector see its allocations.
template <typename Make>
auto quietly(Make make) -> decltype(make()) {
  AllocFailure::Suspend quiet;
  return make();
}

// A string made or changed by one operation: the expected text when nothing
// failed, the defined out-of-memory state when the injected failure hit it.
template <typename Ch>
void expectOutcome(const SafeString<Ch>& s, const std::basic_string<Ch>& expected, unsigned long n) {
  if (AllocFailure::failureInjected()) {
    EXPECT_EQ(nullptr, s.c_str()) << "allocation " << n;
    EXPECT_EQ(E_OUTOFMEMORY, s.getStatus()) << "allocation " << n;
    EXPECT_EQ(0u, s.getLength());
    EXPECT_EQ(0u, s.getCapacity());
  } else {
    ASSERT_NE(nullptr, s.c_str());
    EXPECT_EQ(expected, std::basic_string<Ch>(s.c_str(), s.getLength()));
    EXPECT_EQ(S_OK, s.getStatus());
  }
}

// Sweeps an operation that makes a new string (returned as a prvalue, so no
// copy of it is made outside the sweep). Returns the allocations it makes.
template <typename Ch, typename Make>
unsigned long sweep(const Ch* expected, Make make) {
  return AllocFailure::failEachAllocation(
      [&](unsigned long n) { expectOutcome(make(), std::basic_string<Ch>(expected), n); });
}

// A chain of operations: the right text, or a negative status at its end;
// never a wrong text that claims success.
void expectChainOutcome(const SafeCString& s, const std::string& expected, unsigned long n) {
  if (s.getStatus() >= 0 || !AllocFailure::failureInjected()) {
    EXPECT_EQ(expected, text(s)) << "allocation " << n;
    EXPECT_EQ(S_OK, s.getStatus()) << "allocation " << n;
  }
}

TEST(AllocationSweep, NewStrings) {
  EXPECT_EQ(1u, sweep("", [] { return SafeCString(); }));
  sweep("literal", [] { return SafeCString("literal"); });
  sweep("-42", [] { return SafeCString(-42); });
  sweep("0.500000", [] { return SafeCString(0.5); });
  sweep("abcd", [] {
    char source[] = "abcdef";
    return SafeCString(source, 4, false);
  });
  SafeCString copied("copied");
  sweep("copied", [&] { return SafeCString(copied); });
  SafeCString none(static_cast<const char*>(nullptr));
  sweep("", [&] { return SafeCString(none); });
  SafeCString narrow("caf\xC3\xA9");
  sweep(u"caf\u00e9", [&] { return SafeWString(narrow); });
  SafeWString wide(u"caf\u00e9");
  sweep("caf\xC3\xA9", [&] { return SafeCString(wide); });
  SafeCString abcdef("abcdef");
  sweep("bcd", [&] { return abcdef.substring(1, 4); });
  EXPECT_EQ("abcdef", text(abcdef));
  SafeCString ab("ab");
  SafeCString cd("cd");
  sweep("abcd", [&] { return ab + cd; });

  TempRoot root;
  root.writeFile("page.htm", "<html>404</html>");
  HANDLE file = CreateFileW(u"\\page.htm", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  sweep("<html>404</html>", [&] {
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    return SafeCString(file, 0);
  });
  CloseHandle(file);
}

// Sweeps an operation that changes a string made from start; the operation
// answers false exactly when the injected failure hit it.
template <typename Op>
void sweepEdit(const std::string& start, const std::string& expected, Op op) {
  AllocFailure::failEachAllocation([&](unsigned long n) {
    SafeCString s = quietly([&] { return SafeCString(start.c_str()); });
    EXPECT_EQ(!AllocFailure::failureInjected(), op(s)) << "allocation " << n;
    expectOutcome(s, expected, n);
  });
}

TEST(AllocationSweep, Editing) {
  SafeCString def("def");
  SafeCString longer("a longer text");
  SafeCString b("b");
  sweepEdit("abc", "abcdef", [&](SafeCString& s) { return s.append(def); });
  sweepEdit("a", "a longer text", [&](SafeCString& s) { return (s = longer).getStatus() == S_OK; });
  sweepEdit("ace", "abce", [&](SafeCString& s) { return s.insert(b, 1); });
  sweepEdit("xy", "xxyy", [](SafeCString& s) { return s.insert(s, 1); });
  sweepEdit(std::string(40, 'e'), std::string(10, 'e'), [](SafeCString& s) { return s.erase(0, 30); });
}

// Helpers that chain several operations report any failure at the end.
class Fixed : public JSVariable {
 public:
  Fixed(const char* name, const char* value) : JSVariable(SafeCString(name)), value(value) {}
  SafeCString* getValue() override {
    SafeCString item;
    getParameter(JS_ONE, &item);
    return new (std::nothrow) SafeCString(value);
  }
  using JSVariable::pair;
  using JSVariable::quote;
  const char* value;
};

TEST(AllocationSweep, Chains) {
  SafeCString word("word");
  EXPECT_GT(AllocFailure::failEachAllocation(
                [&](unsigned long n) { expectChainOutcome(Fixed::quote(word), "'word'", n); }),
            1u);
  SafeCString name("min_time");
  SafeCString value(15);
  AllocFailure::failEachAllocation([&](unsigned long n) {
    expectChainOutcome(JS_OPEN_BRACE + Fixed::pair(name, value) + JS_CLOSE_BRACE, "{min_time:15}", n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    expectChainOutcome(statusName(5), "Unknown Error: 5", n);
    expectChainOutcome(statusName(ERROR_BAD_MIME_PART), "ERROR_BAD_MIME_PART", n);
  });
}

class Items : public JSArrayVariable {
 public:
  Items() : JSArrayVariable(SafeCString("Items")) {}
  DWORD count() override { return 3; }
  SafeCString* element(DWORD index) override {
    static const char* const kItems[] = {"'a'", "'bb'", "'ccc'"};
    return new (std::nothrow) SafeCString(kItems[index]);
  }
};

// A generated line or array value: the whole text, or nothing / a failed
// status when (and only when) an allocation failed.
template <typename Make>
unsigned long sweepGenerated(const std::string& expected, Make make) {
  return AllocFailure::failEachAllocation([&](unsigned long n) {
    std::unique_ptr<SafeCString> made(make());
    if (made == nullptr || made->getStatus() < 0) {
      EXPECT_TRUE(AllocFailure::failureInjected()) << "allocation " << n;
    } else {
      EXPECT_EQ(expected, text(*made)) << "allocation " << n;
    }
  });
}

TEST(AllocationSweep, GenerateAndArrayValue) {
  Fixed x("X", "'v'");
  SafeCString query("1=on&2=off");
  EXPECT_GE(sweepGenerated("var X = 'v';\n", [&] { return x.generate(query); }), 3u);
  // Still whole afterwards.
  std::unique_ptr<SafeCString> line(x.generate(SafeCString("")));
  EXPECT_EQ("var X = 'v';\n", text(*line));
  Items items;
  EXPECT_GE(sweepGenerated("new Array('a','bb','ccc')", [&] { return items.getValue(); }), 8u);
}

TEST(AllocationSweep, Produce) {
  Fixed a("A", "1");
  Fixed b("B", "{x:2}");
  JSFile file(SafeCString("/sweep.js"));
  file.addVariable(&a);
  file.addVariable(&b);
  const std::string expected = "var A = 1;\nvar B = {x:2};\n";

  unsigned long runs = AllocFailure::failEachAllocation([&](unsigned long n) {
    SafeCString query = quietly([n] { return SafeCString(n % 2 == 0 ? "q=even" : "q=odd"); });
    file.lock();
    SafeCString* output = file.produce(query);
    bool hit = AllocFailure::failureInjected();
    AllocFailure::disarm();
    std::string sent = text(*output);
    file.unlock();
    if (hit) {
      // Whatever was made before the failure, and nothing else.
      EXPECT_EQ(0u, expected.compare(0, sent.size(), sent)) << "allocation " << n << ": " << sent;
    } else {
      EXPECT_EQ(expected, sent);
    }
    // The next request, with memory back, gets the whole text.
    EXPECT_EQ(expected, text(*file.produce(query)));
  });
  // Each generator makes at least its value string, that string's buffer and
  // the buffer of the declared line.
  EXPECT_GE(runs, 6u);
}

}  // namespace
