// The bounded string functions: exact fits, one short, the failure flags, the
// Ex outputs and the length limits, for both widths.
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <strsafe.h>

namespace {

std::string utf8(const char16_t* text) { return quenta::narrow(text); }

TEST(StringSafeTest, LengthNeedsTheTerminatorWithinTheLimit) {
  size_t length = 99;
  EXPECT_EQ(StringCchLengthA("abc", 4, &length), S_OK);
  EXPECT_EQ(length, 3u);
  length = 99;
  EXPECT_EQ(StringCchLengthA("abc", 3, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(StringCchLengthW(u"abc", 4, &length), S_OK);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(StringCchLengthW(u"abc", 3, nullptr), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("", 1, &length), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(StringCchLengthA("abc", 0, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA(nullptr, 10, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("abc", static_cast<size_t>(STRSAFE_MAX_CCH) + 1, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("abc", STRSAFE_MAX_CCH, &length), S_OK);
}

TEST(StringSafeTest, CopyFitsOrTruncates) {
  char dest[4];
  EXPECT_EQ(StringCchCopyA(dest, 4, "abc"), S_OK);  // exact fit
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ(StringCchCopyA(dest, 4, "abcd"), STRSAFE_E_INSUFFICIENT_BUFFER);  // one short
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ(StringCchCopyA(dest, 1, "abcd"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "");

  char16_t wide[4];
  EXPECT_EQ(StringCchCopyW(wide, 4, u"xyz"), S_OK);
  EXPECT_EQ(utf8(wide), "xyz");
  EXPECT_EQ(StringCchCopyW(wide, 4, u"wxyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(utf8(wide), "wxy");

  // Sizes 0 and beyond the maximum are refused; the latter leaves "".
  std::strcpy(dest, "old");
  EXPECT_EQ(StringCchCopyA(dest, 0, "a"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "old");
  EXPECT_EQ(StringCchCopyA(dest, static_cast<size_t>(STRSAFE_MAX_CCH) + 1, "a"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");
  std::strcpy(dest, "old");
  EXPECT_EQ(StringCchCopyA(dest, 4, nullptr), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");
}

TEST(StringSafeTest, CopyNStopsAtTheCount) {
  char dest[8];
  EXPECT_EQ(StringCchCopyNA(dest, 8, "abcdef", 3), S_OK);
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ(StringCchCopyNA(dest, 8, "ab", 5), S_OK);
  EXPECT_STREQ(dest, "ab");
  EXPECT_EQ(StringCchCopyNA(dest, 3, "abcdef", 3), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "ab");
  EXPECT_EQ(StringCchCopyNA(dest, 4, "abcdef", 3), S_OK);  // exact fit
  EXPECT_STREQ(dest, "abc");
  EXPECT_EQ(StringCchCopyNA(dest, 8, "abc", static_cast<size_t>(STRSAFE_MAX_CCH) + 1), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");
  char16_t wide[8];
  EXPECT_EQ(StringCchCopyNW(wide, 8, u"\u00E9t\u00E9!", 3), S_OK);
  EXPECT_EQ(utf8(wide), "\xC3\xA9t\xC3\xA9");
}

TEST(StringSafeTest, ExFlagsAndOutputs) {
  char dest[6];
  char* end = nullptr;
  size_t remaining = 0;
  EXPECT_EQ(StringCchCopyExA(dest, 6, "abc", &end, &remaining, 0), S_OK);
  EXPECT_EQ(end, dest + 3);
  EXPECT_EQ(remaining, 3u);  // the terminator's place counts

  // Truncation: end at the terminator, one left.
  EXPECT_EQ(StringCchCopyExA(dest, 6, "abcdefgh", &end, &remaining, 0), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "abcde");
  EXPECT_EQ(end, dest + 5);
  EXPECT_EQ(remaining, 1u);

  EXPECT_EQ(StringCchCopyExA(dest, 6, "abcdefgh", &end, &remaining, STRSAFE_NULL_ON_FAILURE),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(end, dest);
  EXPECT_EQ(remaining, 6u);

  std::memset(dest, 'z', sizeof dest);
  EXPECT_EQ(StringCchCopyExA(dest, 6, "ab", &end, &remaining, STRSAFE_FILL_BEHIND_NULL | '#'), S_OK);
  EXPECT_EQ(std::string(dest, 6), std::string("ab\0###", 6));

  EXPECT_EQ(StringCchCopyExA(dest, 6, "abcdefgh", &end, &remaining, STRSAFE_FILL_ON_FAILURE | '#'),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(dest, 6), std::string("#####\0", 6));
  EXPECT_EQ(remaining, 1u);

  // Null sources are empty texts when ignored.
  EXPECT_EQ(StringCchCopyExA(dest, 6, nullptr, &end, &remaining, STRSAFE_IGNORE_NULLS), S_OK);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(StringCchCopyExA(nullptr, 0, "", nullptr, nullptr, STRSAFE_IGNORE_NULLS), S_OK);
  EXPECT_EQ(StringCchCopyExA(dest, 0, "a", nullptr, nullptr, STRSAFE_IGNORE_NULLS), STRSAFE_E_INSUFFICIENT_BUFFER);
  // Unknown flags are refused.
  std::strcpy(dest, "keep");
  EXPECT_EQ(StringCchCopyExA(dest, 6, "a", &end, &remaining, 0x00010000u), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");

  char16_t wide[4];
  char16_t* wideEnd = nullptr;
  EXPECT_EQ(StringCchCopyNExW(wide, 4, u"abcdef", 5, &wideEnd, &remaining, STRSAFE_NULL_ON_FAILURE),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(wideEnd, wide);
  EXPECT_EQ(StringCchCopyNExW(wide, 4, u"abcdef", 2, &wideEnd, &remaining, 0), S_OK);
  EXPECT_EQ(utf8(wide), "ab");
  EXPECT_EQ(remaining, 2u);
}

TEST(StringSafeTest, CatAppendsWithinTheSize) {
  char dest[8] = "abc";
  EXPECT_EQ(StringCchCatA(dest, 8, "defg"), S_OK);  // exact fit
  EXPECT_STREQ(dest, "abcdefg");
  EXPECT_EQ(StringCchCatA(dest, 8, "h"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "abcdefg");
  std::strcpy(dest, "ab");
  EXPECT_EQ(StringCchCatA(dest, 5, "cdef"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "abcd");
  // No terminator within the size: refused, untouched.
  std::memcpy(dest, "abcdefgh", 8);
  EXPECT_EQ(StringCchCatA(dest, 8, "x"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(std::string(dest, 8), "abcdefgh");
  char16_t wide[6] = u"ab";
  EXPECT_EQ(StringCchCatW(wide, 6, u"\U0001F600"), S_OK);
  EXPECT_EQ(utf8(wide), "ab\xF0\x9F\x98\x80");
}

TEST(StringSafeTest, PrintfBoundaries) {
  char dest[6];
  EXPECT_EQ(StringCchPrintfA(dest, 6, "%d-%s", 12, "ab"), S_OK);  // exact fit
  EXPECT_STREQ(dest, "12-ab");
  EXPECT_EQ(StringCchPrintfA(dest, 6, "%d-%s", 123, "ab"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "123-a");
  EXPECT_EQ(StringCchPrintfA(dest, 0, "x"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchPrintfA(dest, 6, nullptr), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");

  char16_t wide[6];
  EXPECT_EQ(StringCchPrintfW(wide, 6, u"%s%d", u"abc", 42), S_OK);
  EXPECT_EQ(utf8(wide), "abc42");
  EXPECT_EQ(StringCchPrintfW(wide, 6, u"%s%d", u"abc", 421), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(utf8(wide), "abc42");

  char16_t* end = nullptr;
  size_t remaining = 0;
  EXPECT_EQ(StringCchPrintfExW(wide, 6, &end, &remaining, STRSAFE_NULL_ON_FAILURE, u"%d", 1234567),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(remaining, 6u);
  EXPECT_EQ(StringCchPrintfExA(dest, 6, nullptr, &remaining, 0, "%u", 7u), S_OK);
  EXPECT_EQ(remaining, 5u);
}

}  // namespace
