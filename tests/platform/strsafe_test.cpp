// The bounded string functions: exact fits, one short, the failure flags, the
// Ex outputs and the length limits, for both widths.
#include <cstring>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <strsafe.h>

namespace {

const size_t kTooBig = static_cast<size_t>(STRSAFE_MAX_CCH) + 1;

TEST(StringSafeTest, LengthNeedsTheTerminatorWithinTheLimit) {
  size_t length = 99;
  EXPECT_EQ(StringCchLengthA("abc", 4, &length), S_OK);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(StringCchLengthA("abc", 3, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(StringCchLengthW(u"abc", 4, &length), S_OK);
  EXPECT_EQ(length, 3u);
  EXPECT_EQ(StringCchLengthW(u"abc", 3, nullptr), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("", 1, &length), S_OK);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(StringCchLengthA("abc", 0, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA(nullptr, 10, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("abc", kTooBig, &length), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(StringCchLengthA("abc", STRSAFE_MAX_CCH, &length), S_OK);
}

TEST(StringSafeTest, CopyCatAndPrintfFitOrTruncate) {
  // Each call runs on an 8-byte buffer holding `before`; then the buffer holds `after`.
  const struct {
    const char* before;
    std::function<HRESULT(char*)> call;
    HRESULT result;
    const char* after;
  } cases[] = {
      {"", [](char* d) { return StringCchCopyA(d, 4, "abc"); }, S_OK, "abc"},  // exact fit
      {"", [](char* d) { return StringCchCopyA(d, 4, "abcd"); }, STRSAFE_E_INSUFFICIENT_BUFFER, "abc"},
      {"", [](char* d) { return StringCchCopyA(d, 1, "abcd"); }, STRSAFE_E_INSUFFICIENT_BUFFER, ""},
      // Size 0 is refused untouched, beyond the maximum or a null source leaves "".
      {"old", [](char* d) { return StringCchCopyA(d, 0, "a"); }, STRSAFE_E_INVALID_PARAMETER, "old"},
      {"old", [](char* d) { return StringCchCopyA(d, kTooBig, "a"); }, STRSAFE_E_INVALID_PARAMETER, ""},
      {"old", [](char* d) { return StringCchCopyA(d, 4, nullptr); }, STRSAFE_E_INVALID_PARAMETER, ""},
      {"", [](char* d) { return StringCchCopyNA(d, 8, "abcdef", 3); }, S_OK, "abc"},
      {"", [](char* d) { return StringCchCopyNA(d, 8, "ab", 5); }, S_OK, "ab"},
      {"", [](char* d) { return StringCchCopyNA(d, 3, "abcdef", 3); }, STRSAFE_E_INSUFFICIENT_BUFFER, "ab"},
      {"", [](char* d) { return StringCchCopyNA(d, 4, "abcdef", 3); }, S_OK, "abc"},
      {"x", [](char* d) { return StringCchCopyNA(d, 8, "abc", kTooBig); }, STRSAFE_E_INVALID_PARAMETER, ""},
      {"abc", [](char* d) { return StringCchCatA(d, 8, "defg"); }, S_OK, "abcdefg"},
      {"abcdefg", [](char* d) { return StringCchCatA(d, 8, "h"); }, STRSAFE_E_INSUFFICIENT_BUFFER, "abcdefg"},
      {"ab", [](char* d) { return StringCchCatA(d, 5, "cdef"); }, STRSAFE_E_INSUFFICIENT_BUFFER, "abcd"},
      {"", [](char* d) { return StringCchPrintfA(d, 6, "%d-%s", 12, "ab"); }, S_OK, "12-ab"},
      {"", [](char* d) { return StringCchPrintfA(d, 6, "%d-%s", 123, "ab"); }, STRSAFE_E_INSUFFICIENT_BUFFER, "123-a"},
      {"x", [](char* d) { return StringCchPrintfA(d, 0, "x"); }, STRSAFE_E_INVALID_PARAMETER, "x"},
      {"x", [](char* d) { return StringCchPrintfA(d, 6, nullptr); }, STRSAFE_E_INVALID_PARAMETER, ""},
  };
  for (const auto& c : cases) {
    char dest[8];
    std::strcpy(dest, c.before);
    EXPECT_EQ(c.call(dest), c.result) << c.before << " -> " << c.after;
    EXPECT_STREQ(dest, c.after);
  }
  // Cat with no terminator within the size: refused, untouched.
  char dest[8];
  std::memcpy(dest, "abcdefgh", 8);
  EXPECT_EQ(StringCchCatA(dest, 8, "x"), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_EQ(std::string(dest, 8), "abcdefgh");

  char16_t wide[8];
  EXPECT_EQ(StringCchCopyW(wide, 4, u"wxyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(wide), u"wxy");
  EXPECT_EQ(StringCchCopyNW(wide, 8, u"\u00E9t\u00E9!", 3), S_OK);
  EXPECT_EQ(std::u16string(wide), u"\u00E9t\u00E9");
  EXPECT_EQ(StringCchCatW(wide, 6, u"\U0001F600"), S_OK);  // exact fit of a pair
  EXPECT_EQ(std::u16string(wide), u"\u00E9t\u00E9\U0001F600");
  EXPECT_EQ(StringCchPrintfW(wide, 6, u"%s%d", u"abc", 42), S_OK);
  EXPECT_EQ(std::u16string(wide), u"abc42");
  EXPECT_EQ(StringCchPrintfW(wide, 6, u"%s%d", u"abc", 421), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(wide), u"abc42");
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

  // Null sources are empty texts when ignored; unknown flags are refused.
  EXPECT_EQ(StringCchCopyExA(dest, 6, nullptr, &end, &remaining, STRSAFE_IGNORE_NULLS), S_OK);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(StringCchCopyExA(nullptr, 0, "", nullptr, nullptr, STRSAFE_IGNORE_NULLS), S_OK);
  EXPECT_EQ(StringCchCopyExA(dest, 0, "a", nullptr, nullptr, STRSAFE_IGNORE_NULLS), STRSAFE_E_INSUFFICIENT_BUFFER);
  std::strcpy(dest, "keep");
  EXPECT_EQ(StringCchCopyExA(dest, 6, "a", &end, &remaining, 0x00010000u), STRSAFE_E_INVALID_PARAMETER);
  EXPECT_STREQ(dest, "");

  char16_t wide[6];
  char16_t* wideEnd = nullptr;
  EXPECT_EQ(StringCchCopyNExW(wide, 4, u"abcdef", 5, &wideEnd, &remaining, STRSAFE_NULL_ON_FAILURE),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(wideEnd, wide);
  EXPECT_EQ(StringCchCopyNExW(wide, 4, u"abcdef", 2, &wideEnd, &remaining, 0), S_OK);
  EXPECT_EQ(std::u16string(wide), u"ab");
  EXPECT_EQ(remaining, 2u);
  EXPECT_EQ(StringCchPrintfExW(wide, 6, &wideEnd, &remaining, STRSAFE_NULL_ON_FAILURE, u"%d", 1234567),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(wide[0], u'\0');
  EXPECT_EQ(remaining, 6u);
  EXPECT_EQ(StringCchPrintfExA(dest, 6, nullptr, &remaining, 0, "%u", 7u), S_OK);
  EXPECT_EQ(remaining, 5u);
}

}  // namespace
