// The bounded string functions the system calls: exact fits, one short, the
// failure flag, the Ex outputs and the length limits, for both widths.
#include <cstring>
#include <functional>
#include <string>
#include <utility>

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

TEST(StringSafeTest, CopyAndPrintfFitOrTruncate) {
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
      {"", [](char* d) { return StringCchCopyNExA(d, 8, "abcdef", 3, nullptr, nullptr, 0); }, S_OK, "abc"},
      {"", [](char* d) { return StringCchCopyNExA(d, 8, "ab", 5, nullptr, nullptr, 0); }, S_OK, "ab"},
      {"", [](char* d) { return StringCchCopyNExA(d, 3, "abcdef", 3, nullptr, nullptr, 0); },
       STRSAFE_E_INSUFFICIENT_BUFFER, "ab"},
      {"", [](char* d) { return StringCchCopyNExA(d, 4, "abcdef", 3, nullptr, nullptr, 0); }, S_OK, "abc"},
      {"x", [](char* d) { return StringCchCopyNExA(d, 8, "abc", kTooBig, nullptr, nullptr, 0); },
       STRSAFE_E_INVALID_PARAMETER, ""},
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
  char16_t wide[8];
  EXPECT_EQ(StringCchCopyW(wide, 4, u"wxyz"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(wide), u"wxy");
  EXPECT_EQ(StringCchCopyW(wide, 6, u"\u00E9t\U0001F600"), S_OK);  // exact fit of a pair
  EXPECT_EQ(std::u16string(wide), u"\u00E9t\U0001F600");
}

TEST(StringSafeTest, ExFlagsAndOutputs) {
  char dest[6];
  char* end = nullptr;
  size_t remaining = 0;
  EXPECT_EQ(StringCchCopyExA(dest, 6, "abc", &end, &remaining, 0), S_OK);
  EXPECT_EQ(std::make_pair(end, remaining), std::make_pair(dest + 3, size_t{3}));  // the terminator's place counts
  // Truncation: end at the terminator, one left.
  EXPECT_EQ(StringCchCopyExA(dest, 6, "abcdefgh", &end, &remaining, 0), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "abcde");
  EXPECT_EQ(std::make_pair(end, remaining), std::make_pair(dest + 5, size_t{1}));
  EXPECT_EQ(StringCchCopyExA(dest, 6, "abcdefgh", &end, &remaining, STRSAFE_NULL_ON_FAILURE),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_STREQ(dest, "");
  EXPECT_EQ(std::make_pair(end, remaining), std::make_pair(dest, size_t{6}));

  // Flags the system never passes are refused.
  std::strcpy(dest, "keep");
  EXPECT_EQ(StringCchCopyExA(dest, 6, "a", &end, &remaining, 0x00000200u), STRSAFE_E_INVALID_PARAMETER);
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
  EXPECT_EQ(StringCchPrintfExA(dest, 6, &end, &remaining, STRSAFE_NULL_ON_FAILURE, "%d", 1234567),
            STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(dest[0], '\0');
  EXPECT_EQ(remaining, 6u);
  EXPECT_EQ(StringCchPrintfExA(dest, 6, nullptr, &remaining, 0, "%u", 7u), S_OK);
  EXPECT_EQ(remaining, 5u);
}

}  // namespace
