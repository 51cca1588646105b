// The printf engine as the module meets it: StringCchPrintfA, and the wide
// formats of NKDbgPrintfW, with the Win32 meaning of each directive.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <QuentaPlatform.h>
#include <strsafe.h>

#include "platform/src/WideFormat.h"

namespace {

// The engine's length of the whole text; what fits is written, terminated.
size_t wideInto(char16_t* buffer, size_t capacity, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  size_t length = quenta::formatText(buffer, capacity, format, args);
  va_end(args);
  return length;
}

template <typename... Args>
std::string wide(const char16_t* format, Args... args) {
  char16_t buffer[256];
  EXPECT_LT(wideInto(buffer, 256, format, args...), 256u);
  return quenta::narrow(buffer);
}

template <typename... Args>
std::string narrow(const char* format, Args... args) {
  char buffer[256];
  HRESULT result = StringCchPrintfA(buffer, 256, format, args...);
  EXPECT_EQ(result, S_OK);
  return buffer;
}

TEST(WideFormatTest, StringsAndCharactersByWidth) {
  // In a wide format %s is wide, %S and %hs are 8-bit, %ls is wide.
  EXPECT_EQ(wide(u"[%s|%S|%hs|%ls|%ws]", u"w\u00E9", "n\xC3\xA9", "h", u"l", u"w"), "[w\xC3\xA9|n\xC3\xA9|h|l|w]");
  EXPECT_EQ(wide(u"%c%C%hc%lc", u'\u20AC', 'b', 'c', u'd'), "\xE2\x82\xAC" "bcd");
  // In an 8-bit format it is the other way round.
  EXPECT_EQ(narrow("[%s|%S|%ls|%hs]", "n", u"w\u00E9", u"l", "h"), "[n|w\xC3\xA9|l|h]");
  EXPECT_EQ(narrow("%c%C", 'a', u'\u00E9'), "a\xC3\xA9");
  // Width, precision and null strings.
  EXPECT_EQ(wide(u"[%5s][%-5s][%.2s][%*.*s]", u"ab", u"ab", u"abcdef", 4, 1, u"xyz"), "[   ab][ab   ][ab][   x]");
  EXPECT_EQ(wide(u"%s|%S", static_cast<const char16_t*>(nullptr), static_cast<const char*>(nullptr)),
            "(null)|(null)");
  // Precision counts output units and never splits a pair.
  EXPECT_EQ(wide(u"[%.1s][%.2s]", u"\U0001F600", u"\U0001F600"), "[][\xF0\x9F\x98\x80]");
  EXPECT_EQ(narrow("[%.2s][%.3s]", "a\xC3\xA9", "a\xC3\xA9"), "[a][a\xC3\xA9]");
  EXPECT_EQ(narrow("[%.1S]", u"\u00E9"), "[]");
  EXPECT_EQ(wide(u"%3c|%-3c|", u'x', u'y'), "  x|y  |");
}

TEST(WideFormatTest, IntegersWithFlagsAndSizes) {
  EXPECT_EQ(wide(u"%d %i %u", -42, 7, 4294967295u), "-42 7 4294967295");
  EXPECT_EQ(wide(u"%x %X %#x %#X %o %#o", 255u, 255u, 255u, 255u, 8u, 8u), "ff FF 0xff 0XFF 10 010");
  EXPECT_EQ(wide(u"[%5d][%-5d][%05d][%+d][% d][%.3d][%8.3d]", 42, 42, -42, 5, 5, 7, -7),
            "[   42][42   ][-0042][+5][ 5][007][    -007]");
  EXPECT_EQ(wide(u"[%*d][%-*d][%.0d]", 4, 1, 3, 2, 0), "[   1][2  ][]");
  EXPECT_EQ(wide(u"[%*d]", -4, 9), "[9   ]");  // a negative width left-justifies
  EXPECT_EQ(wide(u"%#x %05.2d", 0u, 3), "0    03");
  // l is 32 bits as in the Win32 model; ll and I64 are 64.
  EXPECT_EQ(wide(u"%ld %lu %lx", static_cast<int32_t>(-1), static_cast<uint32_t>(3000000000u), 0xABCDu),
            "-1 3000000000 abcd");
  EXPECT_EQ(wide(u"%lld %I64u %I64x %llx", INT64_MIN, UINT64_MAX, static_cast<uint64_t>(0x123456789ull),
                 static_cast<long long>(-1)),
            "-9223372036854775808 18446744073709551615 123456789 ffffffffffffffff");
  EXPECT_EQ(wide(u"%hd %hu %hhu %zu %Iu", 70000, 70000, 300, static_cast<size_t>(12), static_cast<size_t>(13)),
            "4464 4464 44 12 13");
  EXPECT_EQ(narrow("%ld %#lx %lld", static_cast<int32_t>(-5), 0x10u, -3ll), "-5 0x10 -3");
  EXPECT_EQ(wide(u"0x%08x", 0x1234u), "0x00001234");
}

TEST(WideFormatTest, PointersFloatsAndOddDirectives) {
  EXPECT_EQ(wide(u"%p", reinterpret_cast<void*>(static_cast<uintptr_t>(0xBEEF))),
            std::string(2 * sizeof(void*) - 4, '0') + "BEEF");
  // Floats are handed to the C library with their flags, width and precision.
  EXPECT_EQ(wide(u"%f %e %G [%-8.1f][%+.0f]", 1.5, 12345.678, 1e20, 2.0, 2.5), "1.500000 1.234568e+04 1E+20 [2.0     ][+2]");
  EXPECT_EQ(narrow("%.1f|%5.2e", 0.25, 1.0), "0.2|1.00e+00");
  // A long floating conversion is not cut at the engine's local buffer.
  char16_t big[700];
  ASSERT_EQ(wideInto(big, 700, u"%.600f", 1.0), 602u);
  EXPECT_EQ(quenta::narrow(big).size(), 602u);
  // %% and directives the engine does not format are copied as written.
  EXPECT_EQ(wide(u"100%% %n %q %"), "100% %n %q %");
  EXPECT_EQ(wide(u"%k%d", 5), "%k5");
}

TEST(WideFormatTest, TruncatedOutputStillCountsItsLength) {
  char16_t small[4];
  EXPECT_EQ(wideInto(small, 4, u"%s", u"\u00E9\u00E9\u00E9\u00E9"), 4u);
  EXPECT_EQ(quenta::narrow(small), "\xC3\xA9\xC3\xA9\xC3\xA9");
  char bytes[4];
  // Three bytes left: the two-byte characters fit one at a time, cut by bytes.
  EXPECT_EQ(StringCchPrintfA(bytes, 4, "%S", u"\u00E9\u00E9"), STRSAFE_E_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::string(bytes), "\xC3\xA9\xC3");
}

}  // namespace
