// Every allocation of the core operations is made to fail in turn. Whatever
// failed, nothing crashes or leaks, the failure shows in the status, and a
// string whose own allocation failed is left empty without a buffer.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "core/JSFile.h"
#include "core/JSVariable.h"
#include "core/SafeString.h"
#include "core/StatusName.h"
#include "tests/support/AllocFailure.h"

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

// A chain of operations: the right text, or a negative status at its end;
// never a wrong text that claims success.
void expectChainOutcome(const SafeCString& s, const std::string& expected, unsigned long n) {
  if (s.getStatus() >= 0 || !AllocFailure::failureInjected()) {
    EXPECT_EQ(expected, text(s)) << "allocation " << n;
    EXPECT_EQ(S_OK, s.getStatus()) << "allocation " << n;
  }
}

TEST(AllocationSweep, Construction) {
  EXPECT_EQ(1u, AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s;
    expectOutcome(s, std::string(), n);
  }));
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s("literal");
    expectOutcome(s, std::string("literal"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s(-42);
    expectOutcome(s, std::string("-42"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s(0.5);
    expectOutcome(s, std::string("0.500000"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    char source[] = "abcdef";
    SafeCString s(source, 4, false);
    expectOutcome(s, std::string("abcd"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString source = quietly([] { return SafeCString("copied"); });
    SafeCString copy(source);
    expectOutcome(copy, std::string("copied"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString none(static_cast<const char*>(nullptr));
    SafeCString fresh(none);
    expectOutcome(fresh, std::string(), n);
  });
}

TEST(AllocationSweep, Conversions) {
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString narrow = quietly([] { return SafeCString("caf\xC3\xA9"); });
    SafeWString wide(narrow);
    expectOutcome(wide, std::u16string(u"caf\u00e9"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeWString wide = quietly([] { return SafeWString(u"caf\u00e9"); });
    SafeCString narrow(wide);
    expectOutcome(narrow, std::string("caf\xC3\xA9"), n);
  });
}

TEST(AllocationSweep, FileRead) {
  char pattern[] = "/tmp/quenta-sweep-XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(pattern));
  std::string root = pattern;
  setenv("QUENTA_ROOT", root.c_str(), 1);
  FILE* out = std::fopen((root + "/page.htm").c_str(), "wb");
  ASSERT_NE(nullptr, out);
  std::fputs("<html>404</html>", out);
  std::fclose(out);

  AllocFailure::failEachAllocation([](unsigned long n) {
    HANDLE file = quietly([] {
      return CreateFileW(u"\\page.htm", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    });
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SafeCString page(file, 0);
    {
      AllocFailure::Suspend quiet;
      CloseHandle(file);
    }
    expectOutcome(page, std::string("<html>404</html>"), n);
  });

  std::remove((root + "/page.htm").c_str());
  std::remove(root.c_str());
  unsetenv("QUENTA_ROOT");
}

TEST(AllocationSweep, Editing) {
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s = quietly([] { return SafeCString("abc"); });
    SafeCString tail = quietly([] { return SafeCString("def"); });
    bool appended = s.append(tail);
    EXPECT_EQ(!AllocFailure::failureInjected(), appended);
    expectOutcome(s, std::string("abcdef"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString target = quietly([] { return SafeCString("a"); });
    SafeCString longer = quietly([] { return SafeCString("a longer text"); });
    target = longer;
    expectOutcome(target, std::string("a longer text"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s = quietly([] { return SafeCString("ace"); });
    SafeCString b = quietly([] { return SafeCString("b"); });
    s.insert(b, 1);
    expectOutcome(s, std::string("abce"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s = quietly([] { return SafeCString("xy"); });
    s.insert(s, 1);
    expectOutcome(s, std::string("xxyy"), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s = quietly([] { return SafeCString(std::string(40, 'e').c_str()); });
    bool erased = s.erase(0, 30);
    EXPECT_EQ(!AllocFailure::failureInjected(), erased);
    expectOutcome(s, std::string(10, 'e'), n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString s = quietly([] { return SafeCString("abcdef"); });
    SafeCString part = s.substring(1, 4);
    expectOutcome(part, std::string("bcd"), n);
    EXPECT_EQ("abcdef", text(s));
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString a = quietly([] { return SafeCString("ab"); });
    SafeCString b = quietly([] { return SafeCString("cd"); });
    SafeCString joined = a + b;
    expectOutcome(joined, std::string("abcd"), n);
  });
}

// Helpers that chain several operations report any failure at the end.
class Chains : public JSVariable {
 public:
  Chains() : JSVariable(SafeCString("Chains")) {}
  SafeCString* getValue() override { return nullptr; }
  using JSVariable::pair;
  using JSVariable::quote;
};

TEST(AllocationSweep, Chains) {
  EXPECT_GT(AllocFailure::failEachAllocation([](unsigned long n) {
              SafeCString word = quietly([] { return SafeCString("word"); });
              expectChainOutcome(Chains::quote(word), "'word'", n);
            }),
            1u);
  AllocFailure::failEachAllocation([](unsigned long n) {
    SafeCString name = quietly([] { return SafeCString("min_time"); });
    SafeCString value = quietly([] { return SafeCString(15); });
    SafeCString record = JS_OPEN_BRACE + Chains::pair(name, value) + JS_CLOSE_BRACE;
    expectChainOutcome(record, "{min_time:15}", n);
  });
  AllocFailure::failEachAllocation([](unsigned long n) {
    expectChainOutcome(statusName(5), "Unknown Error: 5", n);
    expectChainOutcome(statusName(ERROR_BAD_MIME_PART), "ERROR_BAD_MIME_PART", n);
  });
}

class Fixed : public JSVariable {
 public:
  Fixed(const char* name, const char* value) : JSVariable(SafeCString(name)), value(value) {}
  SafeCString* getValue() override {
    SafeCString item;
    getParameter(JS_ONE, &item);
    return new (std::nothrow) SafeCString(value);
  }
  const char* value;
};

TEST(AllocationSweep, Generate) {
  Fixed x("X", "'v'");
  unsigned long runs = AllocFailure::failEachAllocation([&x](unsigned long n) {
    SafeCString query = quietly([] { return SafeCString("1=on&2=off"); });
    std::unique_ptr<SafeCString> line(x.generate(query));
    if (line == nullptr || line->getStatus() < 0) {
      EXPECT_TRUE(AllocFailure::failureInjected()) << "allocation " << n;
    } else {
      EXPECT_EQ("var X = 'v';\n", text(*line)) << "allocation " << n;
    }
  });
  EXPECT_GE(runs, 3u);
  // Still whole afterwards.
  std::unique_ptr<SafeCString> line(x.generate(SafeCString("")));
  EXPECT_EQ("var X = 'v';\n", text(*line));
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

TEST(AllocationSweep, ArrayValue) {
  Items items;
  unsigned long runs = AllocFailure::failEachAllocation([&items](unsigned long n) {
    std::unique_ptr<SafeCString> value(items.getValue());
    if (value == nullptr || value->getStatus() < 0) {
      EXPECT_TRUE(AllocFailure::failureInjected()) << "allocation " << n;
    } else {
      EXPECT_EQ("new Array('a','bb','ccc')", text(*value)) << "allocation " << n;
    }
  });
  EXPECT_GE(runs, 8u);
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
