// SafeCString: construction sizes, the null-buffer string, the length-first
// order, positions at and beyond the bounds, number formatting and file reads.
#include "core/SafeString.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include <gtest/gtest.h>
#include <strsafe.h>
#include <windows.h>

#include "tests/platform/TempRoot.h"

namespace {

const char* const kNull = nullptr;

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// A terminated buffer with length < capacity, or no buffer with both 0.
void expectWellFormed(const SafeCString& s) {
  if (s.c_str() == nullptr) {
    EXPECT_EQ(0u, s.getLength());
    EXPECT_EQ(0u, s.getCapacity());
  } else {
    EXPECT_LT(s.getLength(), s.getCapacity());
    EXPECT_EQ('\0', s.c_str()[s.getLength()]);
  }
}

typedef SafeCString S;

// s after op(s). It comes back as a copy, which keeps text, capacity and status.
template <typename Op>
SafeCString edited(SafeCString s, Op op) {
  op(s);
  return s;
}

// Text, capacity and status after each way of making or changing a string.
TEST(SafeCString, ResultOfEachOperation) {
  char abcdef[] = "abcdef";
  SafeCString none(kNull);
  SafeCString failed(1e30);
  const std::string x40(40, 'x');
  const char* q32 = "qqqqqqqqqqqqqqqqqqqqqqqqqqqqqqqq";
  auto substring5 = [](S& s) { s.substring(5, 6); };
  SafeCString grown = edited("abcde", [](S& s) { s += S("f"); });
  SafeCString erased = edited(S(abcdef, 3, false), [](S& s) { s.erase(2, 5); });
  const struct {
    const char* what;
    SafeCString s;
    const char* text;
    DWORD capacity;  // 0: not checked
    HRESULT status;
  } rows[] = {
      {"default", SafeCString(), "", 32, S_OK},
      {"literal", SafeCString("abc"), "abc", 4, S_OK},
      {"empty literal", SafeCString(""), "", 1, S_OK},
      {"null pointer", SafeCString(kNull), "<null>", 0, S_OK},
      {"null buffer", SafeCString(static_cast<char*>(nullptr), 10, false), "<null>", 0, S_OK},
      {"null adopted", SafeCString(static_cast<char*>(nullptr), 10, true), "<null>", 0, S_OK},
      // A zero-sized buffer cannot hold a terminator: it is freed, not kept.
      {"adopt 0 bytes", SafeCString(new char[4], 0, true), "<null>", 0, ERROR_INVALID_PARAMETER},
      {"limited copy", SafeCString(abcdef, 3, false), "abc", 3 + 16 + 1, S_OK},
      {"copy ends at terminator", SafeCString(abcdef, 10, false), "abcdef", 27, S_OK},
      {"copy of 0", SafeCString(abcdef, 0, false), "", 17, S_OK},
      {"int", SafeCString(-5), "-5", 24, S_OK},
      {"INT_MIN", SafeCString(INT_MIN), "-2147483648", 24, S_OK},
      {"double", SafeCString(2.5), "2.500000", 24, S_OK},
      // 23 characters fit beside the terminator in 24 bytes, 24 do not.
      {"widest double", SafeCString(1e15), "1000000000000000.000000", 24, S_OK},
      {"too wide", SafeCString(1e16), "", 24, STRSAFE_E_INSUFFICIENT_BUFFER},
      {"copy keeps capacity and status", SafeCString(erased), "abc", 20, ERROR_INVALID_INDEX},
      {"copy of a null buffer", SafeCString(none), "", 32, S_OK},
      // A failure travels with the text, so a chain is tested once at its end.
      {"copy of a failure", SafeCString(failed), "", 24, STRSAFE_E_INSUFFICIENT_BUFFER},
      {"concatenation of a failure", SafeCString("[") + failed + SafeCString("]"), "[]", 0,
       STRSAFE_E_INSUFFICIENT_BUFFER},
      {"concatenation", SafeCString("ab") + SafeCString("cd"), "abcd", 2 + 2 + 17, S_OK},
      {"assign reuses", edited(S(), [](S& s) { s = S("hello"); }), "hello", 32, S_OK},
      {"assign grows", edited(S(), [&](S& s) { s = S(x40.c_str()); }), x40.c_str(), 41, S_OK},
      {"assign carries status", edited(S(), [&](S& s) { s = edited("ab", substring5); }), "ab", 32,
       ERROR_INVALID_INDEX},
      {"assign self", edited("keep", [](S& s) { s = *&s; }), "keep", 5, S_OK},
      {"assign null buffer", edited("keep", [](S& s) { s = S(kNull); }), "keep", 5, S_OK},
      {"assign to null buffer", edited(kNull, [](S& s) { s = S("now"); }), "now", 4, S_OK},
      {"append grows by need + slack", edited("abc", [](S& s) { EXPECT_TRUE(s.append(S("de"))); }),
       "abcde", 3 + 2 + 16 + 1, S_OK},
      // "abcde" + "f" grows to 5 + 1 + 17; then 16 more fill it exactly, 17 do not.
      {"append fills the slack exactly", edited(grown, [](S& s) { s += S("0123456789abcdef"); }),
       "abcdef0123456789abcdef", 23, S_OK},
      {"append one past the slack", edited(grown, [](S& s) { s += S("0123456789abcdefg"); }),
       "abcdef0123456789abcdefg", 23 + 17, S_OK},
      {"append to null buffer", edited(kNull, [](S& s) { EXPECT_TRUE(s.append(S("abc"))); }), "abc", 20,
       S_OK},
      {"append self", edited("ab", [](S& s) { EXPECT_FALSE(s.append(s)); }), "ab", 3,
       ERROR_INVALID_PARAMETER},
      {"append empty and null", edited("x", [](S& s) { EXPECT_TRUE(s.append(S("")) && s.append(S(kNull))); }),
       "x", 2, S_OK},
      {"append raw", edited("k=", [](S& s) { EXPECT_TRUE(s.append("value&rest", 5)); }), "k=value", 24,
       S_OK},
      // Raw text from inside the string itself is refused, not read after free.
      {"append raw from itself", edited("k=v", [](S& s) { EXPECT_FALSE(s.append(s.c_str(), 2)); }), "k=v", 4,
       ERROR_INVALID_PARAMETER},
      {"insert at start, middle, end", edited("ace", [](S& s) {
         EXPECT_TRUE(s.insert(S("b"), 1) && s.insert(S(">"), 0) && s.insert(S("<"), 5));
       }), ">abce<", 0, S_OK},
      {"insert past the end", edited("ace", [](S& s) { EXPECT_FALSE(s.insert(S("x"), 4)); }), "ace", 4,
       ERROR_INVALID_INDEX},
      {"insert empty anywhere", edited("abc", [](S& s) { EXPECT_TRUE(s.insert(S(""), 99)); }), "abc", 4,
       S_OK},
      {"insert self", edited("xy", [](S& s) { EXPECT_TRUE(s.insert(s, 1)); }), "xxyy", 0, S_OK},
      {"insert into null buffer", edited(kNull, [](S& s) { s.insert(S("abc"), 0); }), "abc", 0, S_OK},
      {"erase", edited("abcdef", [](S& s) { EXPECT_TRUE(s.erase(1, 3)); }), "adef", 7, S_OK},
      {"erase all", edited("abcdef", [](S& s) { EXPECT_TRUE(s.erase(0, 6)); }), "", 7, S_OK},
      // The shrink rule: 33 bytes or more, and more than twice the length.
      {"erase shrinks", edited(q32, [](S& s) { s.erase(0, 16); }), q32 + 16, 17, S_OK},
      {"erase keeps twice", edited(q32, [](S& s) { s.erase(0, 15); }), q32 + 15, 33, S_OK},
      {"erase keeps 32", edited(q32 + 1, [](S& s) { s.erase(0, 31); }), "", 32, S_OK},
      {"erase shrinks to 1", edited(q32, [](S& s) { s.erase(0, 32); }), "", 1, S_OK},
      {"substring clips the end", SafeCString("abcdef").substring(2, 7), "cdef", 4 + 17, S_OK},
      {"substring", SafeCString("abcdef").substring(1, 3), "bc", 2 + 17, S_OK},
      {"substring at the end", SafeCString("abcdef").substring(6, 9), "", 0, S_OK},
      {"substring start = end", SafeCString("abcdef").substring(3, 3), "", 0, S_OK},
      {"substring end < start", SafeCString("abcdef").substring(4, 2), "", 0, S_OK},
      {"substring past the end", SafeCString("abcdef").substring(7, 9), "", 0, S_OK},
      {"substring of null buffer", SafeCString(kNull).substring(0, 5), "", 0, S_OK},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(row.text, text(row.s));
    if (row.capacity != 0 || row.s.c_str() == nullptr) {
      EXPECT_EQ(row.capacity, row.s.getCapacity());
    }
    EXPECT_EQ(row.status, row.s.getStatus());
    expectWellFormed(row.s);
  }
}

TEST(SafeCString, BadPositionsAreRecordedInTheSource) {
  SafeCString s("abcdef");
  s.substring(6, 9);
  EXPECT_EQ(S_OK, s.getStatus());
  s.substring(7, 9);
  EXPECT_EQ(ERROR_INVALID_INDEX, s.getStatus());

  // erase requires start <= length, end > start and end <= length.
  for (auto range : {std::make_pair(1u, 1u), std::make_pair(3u, 2u), std::make_pair(0u, 5u),
                     std::make_pair(5u, 6u), std::make_pair(4u, 4u)}) {
    SafeCString t("adef");
    EXPECT_FALSE(t.erase(range.first, range.second)) << range.first << "," << range.second;
    EXPECT_EQ(ERROR_INVALID_INDEX, t.getStatus());
    EXPECT_EQ("adef", text(t));
  }
  SafeCString noBuffer(kNull);
  EXPECT_FALSE(noBuffer.erase(0, 0));
  EXPECT_EQ(nullptr, noBuffer.c_str());

  // The index wraps and counts from the end.
  SafeCString abc("abc");
  const int indexes[] = {0, 2, 3, 7, -1, -3, -4};
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ("acabcac"[i], abc[indexes[i]]) << indexes[i];
  }
  abc[-1] = ')';
  EXPECT_EQ("ab)", text(abc));
  EXPECT_EQ(S_OK, abc.getStatus());
  // Empty strings hand out a zero character that belongs to nobody's text.
  SafeCString fresh;
  for (SafeCString* empty : {&fresh, &noBuffer}) {
    char& spare = (*empty)[5];
    EXPECT_EQ('\0', spare);
    EXPECT_EQ(ERROR_INVALID_INDEX, empty->getStatus());
    spare = 'x';
    EXPECT_EQ('\0', (*empty)[-1]);
    expectWellFormed(*empty);
  }
}

TEST(SafeCString, AdoptForcesTheLastByteAndKeepsTheBuffer) {
  char* raw = new char[8];
  std::memcpy(raw, "abcdefgh", 8);
  SafeCString adopted(raw, 8, true);
  EXPECT_EQ(raw, adopted.c_str());
  EXPECT_EQ(8u, adopted.getCapacity());
  EXPECT_EQ("abcdefg", text(adopted));
  SafeCString measured(new char[16]{'h', 'i'}, 16, true);
  EXPECT_EQ("hi", text(measured));
  EXPECT_EQ(16u, measured.getCapacity());
  SafeCString tiny(new char[1]{'x'}, 1, true);
  EXPECT_EQ("", text(tiny));
  expectWellFormed(tiny);
}

TEST(SafeCString, FindStartsWithAndOrder) {
  const struct { const char* in; const char* what; DWORD start; int found; } finds[] = {{"a=b", "=", 0, 1},    {"a=b", "=", 1, 1},    {"a=b", "=", 2, -1},
               {"a=b", "=", 3, -1},   {"a=b", "=", 4, -1},   {"a=b", "", 0, -1},
               {"a=b", "a=bc", 0, -1}, {"a=b", "a=b", 0, 0}, {"abab", "ab", 1, 2},
               {"abab", "b", 2, 3},   {nullptr, "=", 0, -1}};
  for (const auto& row : finds) {
    EXPECT_EQ(row.found, SafeCString(row.in).find(SafeCString(row.what), row.start))
        << (row.in ? row.in : "<null>") << " " << row.what << " " << row.start;
  }

  SafeCString path("/logs/TotalArcHours.js");
  EXPECT_TRUE(path.startsWith(SafeCString("/logs/")) && path.startsWith(SafeCString("")));
  EXPECT_TRUE(path.endsWith(SafeCString(".js")) && path.endsWith(path));
  EXPECT_TRUE(SafeCString(kNull).startsWith(SafeCString("")));
  EXPECT_FALSE(path.startsWith(SafeCString("/Logs/")) || path.endsWith(SafeCString(".jss")));
  EXPECT_FALSE(SafeCString("ab").startsWith(SafeCString("abc")) || SafeCString("ab").endsWith(SafeCString("xab")));
  EXPECT_FALSE(SafeCString(kNull).startsWith(SafeCString("a")));

  // Length first, then bytes compared unsigned (0x80 sorts after 'a'); capacity plays no part.
  char xy[] = "xy";
  const struct { SafeCString a, b; int order; } orders[] = {
      {"ab", "aaa", -1}, {"ab", "ac", -1}, {"a", "\x80", -1}, {"ab", "ab", 0}, {"ab", "aB", 1},
      {kNull, SafeCString(), 0}, {"xy", SafeCString(xy, 2, false), 0}};
  for (const auto& row : orders) {
    SCOPED_TRACE(text(row.a) + " vs " + text(row.b));
    EXPECT_EQ(row.order < 0, row.a < row.b);
    EXPECT_EQ(row.order < 0, row.b > row.a);
    EXPECT_EQ(row.order > 0, row.b < row.a);
    EXPECT_EQ(row.order == 0, row.a == row.b);
    EXPECT_EQ(row.order != 0, row.a != row.b);
  }
}

TEST(SafeCString, LeadingNumbersAndCopyOut) {
  const struct { const char* in; int i; } ints[] = {{"42abc", 42}, {"  -7", -7}, {"abc", 0}, {nullptr, 0}, {"99999999999", INT_MAX},
              {"-99999999999", INT_MIN}, {"012", 12}};
  for (const auto& row : ints) {
    EXPECT_EQ(row.i, SafeCString(row.in).toInt()) << (row.in ? row.in : "<null>");
  }
  EXPECT_DOUBLE_EQ(2.5, SafeCString("2.5x").toDouble());
  EXPECT_DOUBLE_EQ(-1250.0, SafeCString("-1.25e3").toDouble());
  EXPECT_DOUBLE_EQ(0.0, SafeCString(kNull).toDouble());

  SafeCString s("abcdef");
  char destination[16];
  EXPECT_EQ(3u, s.copyOut(destination, sizeof(destination), 3));
  EXPECT_STREQ("abc", destination);
  EXPECT_EQ(6u, s.copyOut(destination, 7, 100));
  EXPECT_STREQ("abcdef", destination);
  // Six characters do not fit in four: empty destination, failure recorded.
  EXPECT_EQ(0u, s.copyOut(destination, 4, 100));
  EXPECT_STREQ("", destination);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, s.getStatus());
  SafeCString noBuffer(kNull);
  EXPECT_EQ(0u, noBuffer.copyOut(destination, sizeof(destination), 5));
  EXPECT_EQ(S_OK, noBuffer.getStatus());
}

TEST(SafeCString, FileReadsCountZeroBytesAndFailures) {
  TempRoot root;
  // Reads count bytes from a file holding content; checks text, capacity and status of each.
  auto reads = [&](const std::string& content, std::initializer_list<std::pair<DWORD, const char*>> steps,
                   std::initializer_list<DWORD> capacities) {
    root.writeFile("data.bin", content);
    HANDLE file = CreateFileW(u"\\data.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const DWORD* capacity = capacities.begin();
    for (const auto& step : steps) {
      SafeCString s(file, step.first);
      EXPECT_EQ(step.second == nullptr ? content : std::string(step.second), text(s)) << step.first;
      EXPECT_EQ(S_OK, s.getStatus());
      if (capacity != capacities.end()) {
        EXPECT_EQ(*capacity++, s.getCapacity()) << step.first;
      }
    }
    CloseHandle(file);
  };
  reads("hello world", {{0, nullptr}}, {11u + 17u});
  reads("hello world", {{5, "hello"}, {100, " world"}, {10, ""}}, {22u});
  reads(std::string("a\0b", 3), {{0, nullptr}}, {});
  reads("", {{0, ""}}, {17u});

  // A failed read keeps the last error.
  for (DWORD count : {5u, 0u}) {
    SafeCString failed(INVALID_HANDLE_VALUE, count);
    EXPECT_EQ(static_cast<HRESULT>(GetLastError()), failed.getStatus());
    EXPECT_NE(S_OK, failed.getStatus());
    EXPECT_EQ(0u, failed.getLength());
    expectWellFormed(failed);
  }
}

}  // namespace
