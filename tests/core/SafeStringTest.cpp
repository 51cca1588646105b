// SafeCString: construction sizes, the null-buffer string, the length-first
// order, positions at and beyond the bounds, number formatting and file reads.
#include "core/SafeString.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <strsafe.h>
#include <windows.h>

namespace {

std::string text(const SafeCString& s) {
  return s.c_str() == nullptr ? std::string("<null>") : std::string(s.c_str(), s.getLength());
}

// The invariant every operation keeps: a terminated buffer with length < capacity,
// or no buffer at all with length and capacity 0.
void expectWellFormed(const SafeCString& s) {
  if (s.c_str() == nullptr) {
    EXPECT_EQ(0u, s.getLength());
    EXPECT_EQ(0u, s.getCapacity());
  } else {
    EXPECT_LT(s.getLength(), s.getCapacity());
    EXPECT_EQ('\0', s.c_str()[s.getLength()]);
  }
}

TEST(SafeCStringConstruction, SizesFollowTheSource) {
  SafeCString fresh;
  EXPECT_EQ(32u, fresh.getCapacity());
  EXPECT_EQ(0u, fresh.getLength());
  ASSERT_NE(nullptr, fresh.c_str());
  EXPECT_STREQ("", fresh.c_str());

  SafeCString literal("abc");
  EXPECT_EQ("abc", text(literal));
  EXPECT_EQ(4u, literal.getCapacity());
  EXPECT_EQ(3, literal.signedLength());
  EXPECT_EQ(3u, literal.byteLength());
  EXPECT_EQ(S_OK, literal.getStatus());

  SafeCString emptyLiteral("");
  EXPECT_EQ(1u, emptyLiteral.getCapacity());
  expectWellFormed(emptyLiteral);
}

TEST(SafeCStringConstruction, NullPointerGivesTheNullBufferString) {
  SafeCString none(static_cast<const char*>(nullptr));
  EXPECT_EQ(nullptr, none.c_str());
  EXPECT_EQ(0u, none.getLength());
  EXPECT_EQ(0u, none.getCapacity());
  EXPECT_EQ(S_OK, none.getStatus());
  EXPECT_TRUE(none == SafeCString());
  EXPECT_FALSE(none < SafeCString());
  EXPECT_FALSE(SafeCString() < none);

  SafeCString noBuffer(static_cast<char*>(nullptr), 10, false);
  EXPECT_EQ(nullptr, noBuffer.c_str());
  SafeCString noAdopted(static_cast<char*>(nullptr), 10, true);
  EXPECT_EQ(nullptr, noAdopted.c_str());
  EXPECT_EQ(S_OK, noAdopted.getStatus());
}

TEST(SafeCStringConstruction, AdoptForcesTheLastByteAndKeepsTheBuffer) {
  char* raw = new char[8];
  for (int i = 0; i < 8; ++i) {
    raw[i] = static_cast<char>('a' + i);
  }
  SafeCString adopted(raw, 8, true);
  EXPECT_EQ(raw, adopted.c_str());
  EXPECT_EQ(8u, adopted.getCapacity());
  EXPECT_EQ("abcdefg", text(adopted));

  char* shortText = new char[16];
  std::snprintf(shortText, 16, "hi");
  SafeCString measured(shortText, 16, true);
  EXPECT_EQ(2u, measured.getLength());
  EXPECT_EQ(16u, measured.getCapacity());

  char* oneByte = new char[1];
  oneByte[0] = 'x';
  SafeCString tiny(oneByte, 1, true);
  EXPECT_EQ("", text(tiny));
  expectWellFormed(tiny);

  // A zero-sized buffer cannot hold a terminator: it is freed, not kept.
  SafeCString nothing(new char[4], 0, true);
  EXPECT_EQ(nullptr, nothing.c_str());
  EXPECT_EQ(ERROR_INVALID_PARAMETER, nothing.getStatus());
}

TEST(SafeCStringConstruction, CopyOfLimitedLengthAddsSlack) {
  char source[] = "abcdef";
  SafeCString three(source, 3, false);
  EXPECT_EQ("abc", text(three));
  EXPECT_EQ(3u + 16u + 1u, three.getCapacity());
  EXPECT_NE(source, three.c_str());

  // The source's terminator ends the copy before the count does.
  SafeCString shorter(source, 10, false);
  EXPECT_EQ("abcdef", text(shorter));
  EXPECT_EQ(27u, shorter.getCapacity());

  SafeCString none(source, 0, false);
  EXPECT_EQ("", text(none));
  EXPECT_EQ(17u, none.getCapacity());
}

TEST(SafeCStringConstruction, Integers) {
  EXPECT_EQ("-5", text(SafeCString(-5)));
  EXPECT_EQ("0", text(SafeCString(0)));
  EXPECT_EQ("-2147483648", text(SafeCString(INT_MIN)));
  EXPECT_EQ("2147483647", text(SafeCString(INT_MAX)));
  EXPECT_EQ(24u, SafeCString(7).getCapacity());
}

TEST(SafeCStringConstruction, DoublesFitIn24BytesOrFail) {
  EXPECT_EQ("2.500000", text(SafeCString(2.5)));
  EXPECT_EQ("-0.125000", text(SafeCString(-0.125)));
  // 23 characters fit beside the terminator, 24 do not.
  SafeCString widest(1e15);
  EXPECT_EQ("1000000000000000.000000", text(widest));
  EXPECT_EQ(S_OK, widest.getStatus());

  SafeCString tooWide(1e16);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, tooWide.getStatus());
  EXPECT_EQ("", text(tooWide));

  SafeCString huge(1e30);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, huge.getStatus());
  EXPECT_EQ(0u, huge.getLength());
  expectWellFormed(huge);
}

TEST(SafeCStringConstruction, CopyKeepsCapacityAndStatus) {
  char abc[] = "abc";
  SafeCString source(abc, 3, false);
  source.erase(2, 5);  // records 1413 in the source
  SafeCString copy(source);
  EXPECT_EQ("abc", text(copy));
  EXPECT_EQ(source.getCapacity(), copy.getCapacity());
  EXPECT_NE(source.c_str(), copy.c_str());
  EXPECT_EQ(ERROR_INVALID_INDEX, copy.getStatus());

  SafeCString none(static_cast<const char*>(nullptr));
  SafeCString fromNull(none);
  EXPECT_EQ(32u, fromNull.getCapacity());
  EXPECT_EQ("", text(fromNull));
  EXPECT_EQ(S_OK, fromNull.getStatus());

  // A failure travels with the text, so a chain is tested once at its end.
  SafeCString failed(1e30);
  SafeCString failedCopy(failed);
  EXPECT_EQ(STRSAFE_E_INSUFFICIENT_BUFFER, failedCopy.getStatus());
}

TEST(SafeCStringAssign, ReusesOrGrowsTheBuffer) {
  SafeCString target;
  target = SafeCString("hello");
  EXPECT_EQ("hello", text(target));
  EXPECT_EQ(32u, target.getCapacity());

  std::string longText(40, 'x');
  target = SafeCString(longText.c_str());
  EXPECT_EQ(longText, text(target));
  EXPECT_EQ(41u, target.getCapacity());

  SafeCString withStatus("ab");
  withStatus.substring(5, 6);
  ASSERT_EQ(ERROR_INVALID_INDEX, withStatus.getStatus());
  target = withStatus;
  EXPECT_EQ("ab", text(target));
  EXPECT_EQ(ERROR_INVALID_INDEX, target.getStatus());
}

TEST(SafeCStringAssign, SelfAndNullBufferSourcesChangeNothing) {
  SafeCString target("keep");
  SafeCString& alias = target;
  target = alias;
  EXPECT_EQ("keep", text(target));
  EXPECT_EQ(5u, target.getCapacity());

  target = SafeCString(static_cast<const char*>(nullptr));
  EXPECT_EQ("keep", text(target));

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  noBuffer = SafeCString("now");
  EXPECT_EQ("now", text(noBuffer));
  EXPECT_EQ(4u, noBuffer.getCapacity());
}

TEST(SafeCStringAppend, GrowsByTheNeedPlusSlack) {
  SafeCString s("abc");
  EXPECT_TRUE(s.append(SafeCString("de")));
  EXPECT_EQ("abcde", text(s));
  EXPECT_EQ(3u + 2u + 16u + 1u, s.getCapacity());

  // Fits in the slack now: no reallocation.
  const char* before = s.c_str();
  s += SafeCString("fgh");
  EXPECT_EQ(before, s.c_str());
  EXPECT_EQ("abcdefgh", text(s));
  EXPECT_EQ(22u, s.getCapacity());

  // Exactly filling the buffer still fits; one more character grows it.
  std::string fill(13, 'z');
  s += SafeCString(fill.c_str());
  EXPECT_EQ(21u, s.getLength());
  EXPECT_EQ(22u, s.getCapacity());
  s += SafeCString("!");
  EXPECT_EQ(21u + 1u + 17u, s.getCapacity());
  expectWellFormed(s);
}

TEST(SafeCStringAppend, SelfEmptyNullAndRaw) {
  SafeCString s("ab");
  EXPECT_FALSE(s.append(s));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, s.getStatus());
  EXPECT_EQ("ab", text(s));

  SafeCString empty("x");
  EXPECT_TRUE(empty.append(SafeCString("")));
  EXPECT_TRUE(empty.append(SafeCString(static_cast<const char*>(nullptr))));
  EXPECT_EQ("x", text(empty));
  EXPECT_EQ(2u, empty.getCapacity());
  EXPECT_EQ(S_OK, empty.getStatus());

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  EXPECT_TRUE(noBuffer.append(SafeCString("abc")));
  EXPECT_EQ("abc", text(noBuffer));
  EXPECT_EQ(3u + 17u, noBuffer.getCapacity());

  SafeCString raw("k=");
  EXPECT_TRUE(raw.append("value&rest", 5));
  EXPECT_EQ("k=value", text(raw));
  // Raw text from inside the string itself is refused, not read after free.
  EXPECT_FALSE(raw.append(raw.c_str(), 2));
  EXPECT_EQ("k=value", text(raw));
}

TEST(SafeCStringAppend, ConcatenationCopiesThenAppends) {
  SafeCString a("ab");
  SafeCString b("cd");
  SafeCString joined = a + b;
  EXPECT_EQ("abcd", text(joined));
  EXPECT_EQ("ab", text(a));
  EXPECT_EQ(2u + 2u + 17u, joined.getCapacity());

  SafeCString fromNull = SafeCString(static_cast<const char*>(nullptr)) + b;
  EXPECT_EQ("cd", text(fromNull));
  EXPECT_EQ(32u, fromNull.getCapacity());

  SafeCString chain = SafeCString("[") + SafeCString(1e30) + SafeCString("]");
  EXPECT_LT(chain.getStatus(), 0);
}

TEST(SafeCStringEdit, InsertPositions) {
  SafeCString s("ace");
  EXPECT_TRUE(s.insert(SafeCString("b"), 1));
  EXPECT_EQ("abce", text(s));
  EXPECT_TRUE(s.insert(SafeCString(">"), 0));
  EXPECT_TRUE(s.insert(SafeCString("<"), s.getLength()));
  EXPECT_EQ(">abce<", text(s));
  expectWellFormed(s);

  EXPECT_FALSE(s.insert(SafeCString("x"), 7));
  EXPECT_EQ(ERROR_INVALID_INDEX, s.getStatus());
  EXPECT_EQ(">abce<", text(s));

  SafeCString unchanged("abc");
  EXPECT_TRUE(unchanged.insert(SafeCString(""), 99));
  EXPECT_EQ(S_OK, unchanged.getStatus());

  SafeCString self("xy");
  EXPECT_TRUE(self.insert(self, 1));
  EXPECT_EQ("xxyy", text(self));

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  EXPECT_TRUE(noBuffer.insert(SafeCString("abc"), 0));
  EXPECT_EQ("abc", text(noBuffer));
  expectWellFormed(noBuffer);

  // Room in the buffer: the text moves in place.
  SafeCString roomy;
  roomy += SafeCString("1234");
  const char* before = roomy.c_str();
  EXPECT_TRUE(roomy.insert(SafeCString("ab"), 2));
  EXPECT_EQ("12ab34", text(roomy));
  EXPECT_EQ(before, roomy.c_str());
}

TEST(SafeCStringEdit, EraseBounds) {
  SafeCString s("abcdef");
  EXPECT_TRUE(s.erase(1, 3));
  EXPECT_EQ("adef", text(s));

  for (auto range : {std::make_pair(1u, 1u), std::make_pair(3u, 2u), std::make_pair(0u, 5u),
                     std::make_pair(5u, 6u), std::make_pair(4u, 4u)}) {
    SafeCString t("adef");
    EXPECT_FALSE(t.erase(range.first, range.second)) << range.first << "," << range.second;
    EXPECT_EQ(ERROR_INVALID_INDEX, t.getStatus());
    EXPECT_EQ("adef", text(t));
  }

  EXPECT_TRUE(s.erase(0, 4));
  EXPECT_EQ("", text(s));
  expectWellFormed(s);

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  EXPECT_FALSE(noBuffer.erase(0, 0));
  EXPECT_EQ(nullptr, noBuffer.c_str());
}

TEST(SafeCStringEdit, EraseShrinksLargeMostlyEmptyBuffers) {
  std::string text32(32, 'q');
  // Capacity 33, text cut to 16: more than twice the length, so 17.
  SafeCString shrinks(text32.c_str());
  ASSERT_EQ(33u, shrinks.getCapacity());
  EXPECT_TRUE(shrinks.erase(0, 16));
  EXPECT_EQ(17u, shrinks.getCapacity());
  EXPECT_EQ(std::string(16, 'q'), text(shrinks));

  // Capacity 33, text 17: not more than twice, kept.
  SafeCString keeps(text32.c_str());
  EXPECT_TRUE(keeps.erase(0, 15));
  EXPECT_EQ(33u, keeps.getCapacity());

  // The default 32 is below the threshold.
  SafeCString small;
  small += SafeCString("abc");
  EXPECT_TRUE(small.erase(0, 3));
  EXPECT_EQ(32u, small.getCapacity());

  SafeCString query(std::string(60, 'a').c_str());
  EXPECT_TRUE(query.erase(0, 60));
  EXPECT_EQ(1u, query.getCapacity());
  expectWellFormed(query);
}

TEST(SafeCStringRead, SubstringClipsEndAndFlagsStart) {
  SafeCString s("abcdef");
  EXPECT_EQ("cdef", text(s.substring(2, 99)));
  EXPECT_EQ(S_OK, s.getStatus());
  EXPECT_EQ("bc", text(s.substring(1, 3)));
  EXPECT_EQ("", text(s.substring(6, 9)));
  EXPECT_EQ("", text(s.substring(3, 3)));
  EXPECT_EQ("", text(s.substring(4, 2)));
  EXPECT_EQ(S_OK, s.getStatus());

  SafeCString past = s.substring(7, 9);
  EXPECT_EQ("", text(past));
  EXPECT_EQ(ERROR_INVALID_INDEX, s.getStatus());
  EXPECT_EQ(S_OK, past.getStatus());

  SafeCString sized = s.substring(0, 4);
  EXPECT_EQ(4u + 17u, sized.getCapacity());

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  EXPECT_EQ("", text(noBuffer.substring(0, 5)));
  EXPECT_EQ(S_OK, noBuffer.getStatus());
}

TEST(SafeCStringRead, Find) {
  SafeCString s("a=b");
  SafeCString equals("=");
  EXPECT_EQ(1, s.find(equals, 0));
  EXPECT_EQ(1, s.find(equals, 1));
  EXPECT_EQ(-1, s.find(equals, 2));
  EXPECT_EQ(-1, s.find(equals, 3));
  EXPECT_EQ(-1, s.find(equals, 4));
  EXPECT_EQ(-1, s.find(SafeCString(""), 0));
  EXPECT_EQ(-1, s.find(SafeCString("a=bc"), 0));
  EXPECT_EQ(0, s.find(SafeCString("a=b"), 0));

  SafeCString repeated("abab");
  EXPECT_EQ(2, repeated.find(SafeCString("ab"), 1));
  EXPECT_EQ(3, repeated.find(SafeCString("b"), 2));
  EXPECT_EQ(-1, SafeCString(static_cast<const char*>(nullptr)).find(equals, 0));
}

TEST(SafeCStringRead, StartsAndEndsWith) {
  SafeCString s("/logs/TotalArcHours.js");
  EXPECT_TRUE(s.startsWith(SafeCString("/logs/")));
  EXPECT_FALSE(s.startsWith(SafeCString("/Logs/")));
  EXPECT_TRUE(s.startsWith(SafeCString("")));
  EXPECT_TRUE(s.endsWith(SafeCString(".js")));
  EXPECT_FALSE(s.endsWith(SafeCString(".jss")));
  SafeCString shortOne("ab");
  EXPECT_FALSE(shortOne.startsWith(SafeCString("abc")));
  EXPECT_FALSE(shortOne.endsWith(SafeCString("xab")));
  SafeCString noBuffer(static_cast<const char*>(nullptr));
  EXPECT_TRUE(noBuffer.startsWith(SafeCString("")));
  EXPECT_FALSE(noBuffer.startsWith(SafeCString("a")));
}

TEST(SafeCStringRead, IndexWrapsAndCountsFromTheEnd) {
  SafeCString s("abc");
  EXPECT_EQ('a', s[0]);
  EXPECT_EQ('c', s[2]);
  EXPECT_EQ('a', s[3]);
  EXPECT_EQ('b', s[7]);
  EXPECT_EQ('c', s[-1]);
  EXPECT_EQ('a', s[-3]);
  EXPECT_EQ('c', s[-4]);
  s[-1] = ')';
  EXPECT_EQ("ab)", text(s));
  EXPECT_EQ(S_OK, s.getStatus());

  // Empty strings hand out a zero character that belongs to nobody's text.
  SafeCString empty;
  char& spare = empty[5];
  EXPECT_EQ('\0', spare);
  EXPECT_EQ(ERROR_INVALID_INDEX, empty.getStatus());
  spare = 'x';
  EXPECT_EQ("", text(empty));
  EXPECT_EQ('\0', empty[0]);

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  noBuffer[-1] = 'y';
  EXPECT_EQ(nullptr, noBuffer.c_str());
  EXPECT_EQ(ERROR_INVALID_INDEX, noBuffer.getStatus());
}

TEST(SafeCStringCompare, LengthFirstThenBytes) {
  EXPECT_TRUE(SafeCString("ab") < SafeCString("aaa"));
  EXPECT_FALSE(SafeCString("aaa") < SafeCString("ab"));
  EXPECT_TRUE(SafeCString("aaa") > SafeCString("ab"));
  EXPECT_TRUE(SafeCString("ab") < SafeCString("ac"));
  EXPECT_FALSE(SafeCString("ab") < SafeCString("ab"));
  EXPECT_FALSE(SafeCString("ab") > SafeCString("ab"));
  // Bytes compare unsigned: 0x80 sorts after 'a'.
  EXPECT_TRUE(SafeCString("a") < SafeCString("\x80"));

  EXPECT_TRUE(SafeCString("ab") == SafeCString("ab"));
  EXPECT_TRUE(SafeCString("ab") != SafeCString("aB"));
  EXPECT_TRUE(SafeCString("ab") != SafeCString("abc"));
  EXPECT_TRUE(SafeCString("") == SafeCString(static_cast<const char*>(nullptr)));
  // Capacity plays no part.
  char xy[] = "xy";
  EXPECT_TRUE(SafeCString("xy") == SafeCString(xy, 2, false));
}

TEST(SafeCStringConvert, LeadingNumbers) {
  EXPECT_EQ(42, SafeCString("42abc").toInt());
  EXPECT_EQ(-7, SafeCString("  -7").toInt());
  EXPECT_EQ(0, SafeCString("abc").toInt());
  EXPECT_EQ(0, SafeCString(static_cast<const char*>(nullptr)).toInt());
  EXPECT_EQ(INT_MAX, SafeCString("99999999999").toInt());
  EXPECT_EQ(INT_MIN, SafeCString("-99999999999").toInt());
  EXPECT_EQ(12, SafeCString("012").toInt());

  EXPECT_DOUBLE_EQ(2.5, SafeCString("2.5x").toDouble());
  EXPECT_DOUBLE_EQ(-1250.0, SafeCString("-1.25e3").toDouble());
  EXPECT_DOUBLE_EQ(0.0, SafeCString("").toDouble());
  EXPECT_DOUBLE_EQ(0.0, SafeCString(static_cast<const char*>(nullptr)).toDouble());
}

TEST(SafeCStringConvert, CopyOut) {
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

  SafeCString noBuffer(static_cast<const char*>(nullptr));
  destination[0] = 'x';
  EXPECT_EQ(0u, noBuffer.copyOut(destination, sizeof(destination), 5));
  EXPECT_STREQ("", destination);
  EXPECT_EQ(S_OK, noBuffer.getStatus());
}

// ---- Reading files -----------------------------------------------------------

class SafeCStringFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quenta-core-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(pattern));
    root = pattern;
    setenv("QUENTA_ROOT", root.c_str(), 1);
  }
  void TearDown() override {
    std::remove((root + "/data.bin").c_str());
    std::remove(root.c_str());
    unsetenv("QUENTA_ROOT");
  }
  void writeFile(const std::string& content) {
    FILE* file = std::fopen((root + "/data.bin").c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fwrite(content.data(), 1, content.size(), file);
    std::fclose(file);
  }
  HANDLE open() {
    return CreateFileW(u"\\data.bin", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  std::string root;
};

TEST_F(SafeCStringFile, WholeFileAndCounts) {
  writeFile("hello world");
  HANDLE file = open();
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  SafeCString whole(file, 0);
  EXPECT_EQ("hello world", text(whole));
  EXPECT_EQ(11u + 17u, whole.getCapacity());
  EXPECT_EQ(S_OK, whole.getStatus());
  CloseHandle(file);

  file = open();
  SafeCString first(file, 5);
  EXPECT_EQ("hello", text(first));
  EXPECT_EQ(22u, first.getCapacity());
  SafeCString rest(file, 100);
  EXPECT_EQ(" world", text(rest));
  EXPECT_EQ(117u, rest.getCapacity());
  SafeCString atEnd(file, 10);
  EXPECT_EQ("", text(atEnd));
  EXPECT_EQ(S_OK, atEnd.getStatus());
  CloseHandle(file);
}

TEST_F(SafeCStringFile, ZeroBytesAndEmptyFiles) {
  writeFile(std::string("a\0b", 3));
  HANDLE file = open();
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  SafeCString withZero(file, 0);
  EXPECT_EQ(3u, withZero.getLength());
  EXPECT_EQ('b', withZero.c_str()[2]);
  expectWellFormed(withZero);
  CloseHandle(file);

  writeFile("");
  file = open();
  SafeCString empty(file, 0);
  EXPECT_EQ("", text(empty));
  EXPECT_EQ(17u, empty.getCapacity());
  EXPECT_EQ(S_OK, empty.getStatus());
  CloseHandle(file);
}

TEST_F(SafeCStringFile, FailedReadsKeepTheLastError) {
  SafeCString counted(INVALID_HANDLE_VALUE, 5);
  EXPECT_EQ(static_cast<HRESULT>(GetLastError()), counted.getStatus());
  EXPECT_NE(S_OK, counted.getStatus());
  EXPECT_EQ(0u, counted.getLength());
  expectWellFormed(counted);

  SafeCString whole(INVALID_HANDLE_VALUE, 0);
  EXPECT_EQ(static_cast<HRESULT>(GetLastError()), whole.getStatus());
  EXPECT_NE(S_OK, whole.getStatus());
  EXPECT_EQ(0u, whole.getLength());
  expectWellFormed(whole);
}

}  // namespace
